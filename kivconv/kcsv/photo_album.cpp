// Picture fields: declared by the table description or by the album's fixed
// layout, written out as image files in the data phase.
#include "kcsv/photo_album.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "kcsv/chunk_file.h"
#include "kcsv/field_codecs.h"
#include "kcsv/kcsv_reader.h"
#include "kcsv/table_description.h"

const char* const ALBUM_BOX_NAME = "KPINPANT.BOX";
const char* const ALBUM_PICTURE_TITLE = "\x8E\xCA\x90\x5E";   // 写真

namespace {

// 電子アルバム, blank-padded to the 33 bytes of a name.
const char kAlbumName[TABLE_NAME_MAX + 1] =
    "\x93\x64\x8E\x71\x83\x41\x83\x8B\x83\x6F\x83\x80                     ";
static_assert(sizeof kAlbumName == TABLE_NAME_MAX + 1, "the album's name fills the name line");

const int kAlbumFirstColumn = 7;

struct AlbumField {
    FieldKind kind;
    int16_t subKind;
    int16_t aux1;
};

// Columns 7 to 20. Column 9 starts the picture group but carries no format:
// a picture there is not extracted. The same picture as GIF, JPEG and PNG
// follows in columns 10 to 12.
const AlbumField kAlbumFields[] = {
    {FK_TEXT, 0, 0},   {FK_TEXT, 0, 0},   {FK_IMAGE, 10, -1}, {FK_IMAGE, 10, 1}, {FK_IMAGE, 10, 0},
    {FK_IMAGE, 10, 2}, {FK_NONE, 10, -1}, {FK_TEXT, 0, 0},    {FK_TIME, 0, 0},   {FK_TEXT, 0, 0},
    {FK_TEXT, 0, 0},   {FK_TEXT, 0, 0},   {FK_NONE, 0, 0},    {FK_NONE, 10, -1},
};
const int kAlbumFieldCount = sizeof kAlbumFields / sizeof kAlbumFields[0];

// Image list: the entry count at item byte 6, 20-byte entries from byte 10.
const size_t kListCount = CHUNK_ITEM_HEAD;
const size_t kListEntries = CHUNK_ITEM_HEAD + IMAGE_LIST_HEAD;
const unsigned char kEntryImage = 0;   // entry kinds
const unsigned char kEntryEnd = 1;
const size_t kEntryFormatCount = 8;   // in the end entry
// Format list: 8-byte entries from item byte 6, the format code at entry byte 0
// and the field's identifier at byte 4.
const size_t kFormatEntries = CHUNK_ITEM_HEAD;
const size_t kFormatEntryId = 4;

const int kNoFormat = 99;

bool HasText(const char* s) { return s && *s; }

// Marks the field named at id as an auxiliary column; its index, or -1.
int16_t DeclareAux(const unsigned char* id, TableLayout* layout)
{
    if (id[0] == 0)
        return -1;
    int k = FindTableField(layout, id);
    if (k < 0)
        return -1;
    layout->fields[k].kind = FK_IMAGE_AUX;
    return (int16_t)k;
}

// Returns the format count of the 0xA1 items that follow, formatCount when the
// list gives none.
int ReadImageList(const unsigned char* item, size_t size, TableLayout* layout, int formatCount)
{
    size_t count = item[kListCount];
    for (size_t j = 0; j < count; j++) {
        size_t at = kListEntries + j * IMAGE_ENTRY_SIZE;
        if (at + IMAGE_ENTRY_SIZE > size)
            break;   // the count claims more than the item holds
        const unsigned char* entry = item + at;
        if (entry[0] == kEntryEnd && GetLe32(entry + IMAGE_ENTRY_FORMAT_ID) == 0)
            return entry[kEntryFormatCount];
        if (entry[0] != kEntryImage)
            break;
        int d = FindTableField(layout, entry + IMAGE_ENTRY_DATA_ID);
        if (d < 0)
            continue;
        TableField& field = layout->fields[d];
        field.kind = FK_IMAGE;
        field.subKind = PICTURE_BY_FORMAT_FIELD;
        field.aux1 = DeclareAux(entry + IMAGE_ENTRY_FORMAT_ID, layout);
        field.aux2 = DeclareAux(entry + IMAGE_ENTRY_SECOND_ID, layout);
    }
    return formatCount;
}

int16_t FormatIndexOfCode(int code)
{
    switch (code) {
    case IMG_JPEG: return 0;
    case IMG_GIF: return 1;
    case IMG_PNG: return 2;
    default: return kNoFormat;
    }
}

void ReadFormatList(const unsigned char* item, size_t size, int count, int group, TableLayout* layout)
{
    for (int j = 0; j < count; j++) {
        size_t at = kFormatEntries + (size_t)j * IMAGE_FORMAT_ENTRY_SIZE;
        if (at + IMAGE_FORMAT_ENTRY_SIZE > size)
            break;
        const unsigned char* entry = item + at;
        int k = FindTableField(layout, entry + kFormatEntryId);
        if (k < 0)
            continue;
        TableField& field = layout->fields[k];
        field.kind = FK_IMAGE;
        field.subKind = (int16_t)group;
        field.aux1 = FormatIndexOfCode(entry[0]);
    }
}

// A format index (0 JPEG, 1 GIF, 2 PNG) as an image format code; 0 for none.
int FormatOfIndex(int index)
{
    switch (index) {
    case 0: return IMG_JPEG;
    case 1: return IMG_GIF;
    case 2: return IMG_PNG;
    default: return 0;
    }
}

int FormatOfCode(long code)
{
    return (code == IMG_JPEG || code == IMG_GIF || code == IMG_PNG) ? (int)code : 0;
}

}   // namespace

void InstallAlbumLayout(TableLayout* layout)
{
    memcpy(layout->name, kAlbumName, sizeof layout->name);
    layout->firstColumn = kAlbumFirstColumn;
    layout->fieldCount = kAlbumFieldCount;
    for (int i = 0; i < kAlbumFieldCount; i++) {
        TableField& f = layout->fields[i];
        f.column = (int16_t)(kAlbumFirstColumn + i);
        f.kind = kAlbumFields[i].kind;
        f.subKind = kAlbumFields[i].subKind;
        f.aux1 = kAlbumFields[i].aux1;
        f.aux2 = 0;
    }
}

void DeclarePictureFields(const unsigned char* data, size_t size, TableLayout* layout)
{
    int group = PICTURE_GROUP_FIRST;
    int formatCount = 0;
    size_t pos = 0;
    while (size - pos >= CHUNK_ITEM_HEAD) {
        const unsigned char* item = data + pos;
        size_t length = item[2];   // the low byte of the length only
        if (length < CHUNK_ITEM_HEAD || length > size - pos)
            break;
        if (item[0] == (TAG_IMAGE_LIST & 0xFF)) {
            formatCount = ReadImageList(item, length, layout, formatCount);
        } else if (item[0] == (TAG_IMAGE_FORMATS & 0xFF)) {
            ReadFormatList(item, length, formatCount, group, layout);
            if (group < INT16_MAX)
                group++;
        }
        pos += length;
    }
}

bool ChoosePicture(const TableLayout* layout, const CsvRecord* record, int i, int* lastGroup,
                   const char** text, int* format)
{
    const TableField& field = layout->fields[i];
    *text = nullptr;
    *format = 0;
    if (field.subKind == PICTURE_BY_FORMAT_FIELD) {
        *text = SlotText(record, field.column);
        if (field.aux1 >= 0 && field.aux1 < layout->fieldCount) {
            const char* code = SlotText(record, layout->fields[field.aux1].column);
            if (HasText(code))
                *format = FormatOfCode(strtol(code, nullptr, 10));
        }
    } else if (IsPictureGroup(field)) {
        if (field.subKind == *lastGroup)
            return false;
        *lastGroup = field.subKind;
        // The group's first field that holds a picture stands for the group.
        for (int k = i; k < layout->fieldCount; k++) {
            const TableField& member = layout->fields[k];
            const char* slot = SlotText(record, member.column);
            if (member.kind == FK_IMAGE && member.subKind == field.subKind && HasText(slot)) {
                *text = slot;
                *format = FormatOfIndex(member.aux1);
                break;
            }
        }
    } else {
        *text = SlotText(record, field.column);
        *format = FormatOfIndex(field.subKind);
    }
    if (!HasText(*text))
        *format = 0;   // no picture, no file
    return true;
}

bool WritePictureFile(const char* path, int counter, int format, const char* text, char* name,
                      size_t nameSize)
{
    const char* ext = format == IMG_JPEG ? "jpg" : format == IMG_GIF ? "gif" : "png";
    int n = snprintf(name, nameSize, "%s.%d.%s", path, counter, ext);
    if (n < 0 || (size_t)n >= nameSize) {
        name[0] = '\0';
        return false;
    }
    ByteFile* file = FileOpen(name, BF_CREATE);
    if (!file) {
        name[0] = '\0';
        return false;
    }
    bool ok = Decode3to4Text(text, file);
    if (!FileClose(file) || !ok) {
        FileRemove(name);   // a picture cut short is no picture
        name[0] = '\0';
        return false;
    }
    return true;
}
