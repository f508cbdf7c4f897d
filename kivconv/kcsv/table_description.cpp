// Walking the decoded table description. The bytes come from the handheld, so
// every length is checked against what holds it before it is used.
#include "kcsv/table_description.h"
#include <cstring>
#include "kcsv/chunk_file.h"
#include "kcsv/field_codecs.h"
#include "kcsv/photo_album.h"

namespace {

// The handheld's kind bytes in field descriptors.
const unsigned char HK_TEXT = 1;   // text, or a number with attribute 11
const unsigned char HK_TIME = 4;
const unsigned char HK_BINARY = 6;
const unsigned char HK_PLAIN_TEXT = 7;
const unsigned char HK_WIDE_BINARY = 8;
const unsigned char HK_VARIANT = 9;   // by the second attribute and the size
const unsigned char HK_WIDE_BINARY2 = 10;
const unsigned char HK_BINARY2 = 11;

const unsigned char ATTR_NUMBER = 11;        // first attribute of a number
const unsigned char ATTR_NUMBER_EXTRA = 2;   // second attribute: the extra bytes count
const unsigned char ATTR_KEEP = 5;           // kind 9: the field stays as it is
const unsigned char ATTR_CODE = 6;           // kind 9: FK_CODE

// The name as the handheld sends it is expected within this many bytes.
const size_t kNameItemMax = 35;

// Items of one record's body, in order.
struct ItemCursor {
    const unsigned char* body;
    size_t size;
    size_t pos;
};

struct Item {
    uint16_t tag;
    const unsigned char* data;
    size_t size;
};

// False at the terminator (tag 0, length 0) and at any item whose length is
// shorter than its head or reaches past the body: the record ends there.
bool NextItem(ItemCursor* cursor, Item* item)
{
    if (cursor->size - cursor->pos < CHUNK_ITEM_HEAD)
        return false;
    const unsigned char* p = cursor->body + cursor->pos;
    uint32_t length = GetLe32(p + 2);
    if (length < CHUNK_ITEM_HEAD || length > cursor->size - cursor->pos)
        return false;
    item->tag = GetLe16(p);
    item->data = p + CHUNK_ITEM_HEAD;
    item->size = length - CHUNK_ITEM_HEAD;
    cursor->pos += length;
    return true;
}

// 0 for sizes up to 1, 1 for 2, 2 for 3-4, 3 for 5-8, 4 for 9-16.
int16_t WidthClass(uint32_t size)
{
    int16_t width = 0;
    for (uint32_t limit = 1; size > limit; limit *= 2)
        width++;
    return width;
}

void ApplyDescriptor(const unsigned char* desc, int timeForm, TableField* field)
{
    unsigned char attr1 = desc[FIELD_DESC_ATTR1];
    unsigned char attr2 = desc[FIELD_DESC_ATTR2];
    switch (desc[FIELD_DESC_KIND]) {
    case HK_TEXT:
        if (attr1 == ATTR_NUMBER) {
            field->kind = FK_NUMBER;
            field->subKind = attr2 == ATTR_NUMBER_EXTRA && desc[FIELD_DESC_EXTRA] == 1;
        } else {
            field->kind = FK_TEXT;
        }
        break;
    case HK_TIME:
        field->kind = FK_TIME;
        field->subKind = (int16_t)(timeForm >= 1 && timeForm <= 4 ? timeForm : 0);
        break;
    case HK_BINARY:
    case HK_BINARY2:
        field->kind = FK_BINARY;
        field->subKind = 0;
        break;
    case HK_PLAIN_TEXT: field->kind = FK_TEXT; break;
    case HK_WIDE_BINARY:
    case HK_WIDE_BINARY2:
        field->kind = FK_BINARY;
        field->subKind = 1;
        break;
    case HK_VARIANT: {
        uint32_t size = GetLe32(desc + FIELD_DESC_DATA_SIZE);
        if (attr2 == ATTR_KEEP)
            break;
        if (attr2 == ATTR_CODE) {
            field->kind = FK_CODE;
            field->subKind = 0;
        } else if (size <= 16) {
            field->kind = FK_BINARY;
            field->subKind = WidthClass(size);
        } else {
            field->kind = FK_TEXT;
        }
        break;
    }
    default: break;   // kinds 2, 3, 5 and unknown ones leave the field as it is
    }
}

void ReadFieldRecord(const unsigned char* body, size_t size, TableLayout* layout)
{
    unsigned char desc[FIELD_DESC_SIZE] = {};
    bool haveDesc = false;
    int timeForm = 0;
    ItemCursor cursor = {body, size, 0};
    Item item;
    while (NextItem(&cursor, &item)) {
        if (item.tag == TAG_FIELD_DESC) {
            // A short descriptor reads as zeros where it has no bytes.
            memset(desc, 0, sizeof desc);
            memcpy(desc, item.data, item.size < sizeof desc ? item.size : sizeof desc);
            haveDesc = true;
        } else if (item.tag == TAG_TIME_ATTR && item.size > 0) {
            timeForm = item.data[0];
        }
    }
    if (!haveDesc)
        return;
    int i = FindTableField(layout, desc + FIELD_DESC_ID);
    if (i >= 0)
        ApplyDescriptor(desc, timeForm, &layout->fields[i]);
}

// The name item: text up to its NUL (at most kNameItemMax bytes), converted,
// blank-padded or cut to the 33 bytes of the layout's name line.
void ReadTableName(const unsigned char* data, size_t size, TableLayout* layout)
{
    char raw[kNameItemMax + 1];
    size_t n = 0;
    while (n < size && n < kNameItemMax && data[n])
        n++;
    memcpy(raw, data, n);
    raw[n] = '\0';

    Sjis1Text converted = TakeSjis1Text(Sjis1Decode(raw), raw);
    size_t length = strlen(converted.text);
    if (length > (size_t)TABLE_NAME_MAX)
        length = TABLE_NAME_MAX;
    memcpy(layout->name, converted.text, length);
    memset(layout->name + length, ' ', TABLE_NAME_MAX - length);
    layout->name[TABLE_NAME_MAX] = '\0';
    ReleaseSjis1Text(&converted);
}

void ReadTableRecord(const unsigned char* body, size_t size, TableLayout* layout)
{
    ItemCursor cursor = {body, size, 0};
    Item item;
    while (NextItem(&cursor, &item))
        if (item.tag == TAG_TABLE_NAME)
            ReadTableName(item.data, item.size, layout);
}

}   // namespace

void ClearTableKinds(TableLayout* layout)
{
    memset(layout->name, 0, sizeof layout->name);
    for (TableField& f : layout->fields) {
        f.kind = FK_TEXT;
        f.subKind = 0;
        f.aux1 = 0;
        f.aux2 = 0;
    }
}

int FindTableField(const TableLayout* layout, const unsigned char id[4])
{
    int count = layout->fieldCount < TABLE_MAX_FIELDS ? layout->fieldCount : TABLE_MAX_FIELDS;
    for (int i = 0; i < count; i++)
        if (memcmp(layout->fields[i].id, id, 4) == 0)
            return i;
    return -1;
}

void ApplyTableDescription(const unsigned char* data, size_t size, TableLayout* layout)
{
    ClearTableKinds(layout);
    if (!data || size < CHUNK_HEADER_SIZE)
        return;
    // The magic and version byte are not checked: the handheld's own files
    // are read as they come.
    uint32_t total = GetLe32(data + CHUNK_LENGTH_OFFSET);
    size_t pos = CHUNK_HEADER_SIZE;
    while (pos < total && size - pos >= CHUNK_RECORD_HEAD) {
        uint16_t type = GetLe16(data + pos);
        uint32_t length = GetLe32(data + pos + 2);
        // Also the end marker (type 0, length 0) and any record that could
        // not advance the walk or would reach past the data.
        if (length < CHUNK_RECORD_HEAD || length > size - pos)
            break;
        const unsigned char* body = data + pos + CHUNK_RECORD_HEAD;
        size_t bodySize = length - CHUNK_RECORD_HEAD;
        switch (type) {
        case REC_TABLE: ReadTableRecord(body, bodySize, layout); break;
        case REC_FIELD: ReadFieldRecord(body, bodySize, layout); break;
        case REC_IMAGES: DeclarePictureFields(body, bodySize, layout); break;
        default: break;   // type 6 and unknown types carry nothing used here
        }
        pos += length;
    }
}
