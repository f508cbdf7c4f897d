// Writing chunk files.
#include "kcsv/chunk_file.h"
#include <cstdio>
#include <cstring>

namespace {

const unsigned char kZeros[CHUNK_END_SIZE] = {};

// The handheld's kind byte and attribute bytes for the kinds it is told about.
const unsigned char kKindText = 1;
const unsigned char kKindTime = 4;

size_t BoundedLength(const char* s, size_t max)
{
    size_t n = 0;
    while (n < max && s[n])
        n++;
    return n;
}

bool Put(ChunkFile* chunk, const void* data, size_t n)
{
    if (!FileWrite(chunk->file, data, n)) {
        ChunkFileDiscard(chunk);
        return false;
    }
    return true;
}

// Four identifier characters, zero-filled when shorter.
void PutId(unsigned char* out, const char* id)
{
    size_t n = BoundedLength(id, 4);
    memcpy(out, id, n);
    memset(out + n, 0, 4 - n);
}

bool WriteTableRecord(ChunkFile* chunk, const TableLayout* layout, const PackedStamp& stamp)
{
    unsigned char header[TABLE_HEADER_SIZE] = {};
    memcpy(header, "TBLECONV", 8);
    memcpy(header + TABLE_HEADER_STAMP, stamp.bytes, sizeof stamp.bytes);
    memcpy(header + TABLE_HEADER_KEY, "KD01", 4);
    size_t nameLen = BoundedLength(layout->name, TABLE_NAME_MAX);
    char name[TABLE_NAME_MAX + 1];
    memcpy(name, layout->name, nameLen);
    name[nameLen] = '\0';
    const ChunkItem items[] = {
        {TAG_TABLE_HEADER, header, TABLE_HEADER_SIZE},
        {TAG_TABLE_NAME, name, (uint32_t)nameLen + 1},
    };
    ChunkRecord record = {REC_TABLE, items, 2};
    return ChunkFileWriteRecord(chunk, &record);
}

// Fields of other kinds are not described; they succeed without writing.
bool WriteFieldRecord(ChunkFile* chunk, const TableField& field)
{
    unsigned char desc[FIELD_DESC_SIZE] = {};
    PutId(desc + FIELD_DESC_ID, field.id);
    unsigned char attr[TIME_ATTR_SIZE] = {};
    ChunkItem items[2] = {{TAG_FIELD_DESC, desc, FIELD_DESC_SIZE}, {0, attr, 0}};
    size_t count = 1;
    switch (field.kind) {
    case FK_TEXT:
        desc[FIELD_DESC_KIND] = kKindText;
        desc[FIELD_DESC_ATTR1] = 2;
        desc[FIELD_DESC_ATTR2] = 0;
        attr[0] = 0xFF;
        items[1].tag = TAG_TEXT_ATTR;
        items[1].size = TEXT_ATTR_SIZE;
        count = 2;
        break;
    case FK_NUMBER:
        desc[FIELD_DESC_KIND] = kKindText;
        desc[FIELD_DESC_ATTR1] = 11;
        desc[FIELD_DESC_ATTR2] = 2;
        break;
    case FK_TIME:
        desc[FIELD_DESC_KIND] = kKindTime;
        desc[FIELD_DESC_ATTR1] = 6;
        desc[FIELD_DESC_ATTR2] = 0;
        attr[0] = (unsigned char)((field.subKind >= 1 && field.subKind <= 4) ? field.subKind : 0);
        items[1].tag = TAG_TIME_ATTR;
        items[1].size = TIME_ATTR_SIZE;
        count = 2;
        break;
    default: return true;
    }
    ChunkRecord record = {REC_FIELD, items, count};
    return ChunkFileWriteRecord(chunk, &record);
}

bool WriteImageRecord(ChunkFile* chunk, const TableLayout* layout, int fieldCount)
{
    unsigned char list[IMAGE_LIST_HEAD + IMAGE_ENTRY_SIZE * TABLE_MAX_FIELDS] = {};
    unsigned char* entry = list + IMAGE_LIST_HEAD;
    int images = 0;
    for (int i = 0; i < fieldCount; i++) {
        if (layout->fields[i].kind != FK_IMAGE)
            continue;
        ++images;
        char formatId[FIELD_ID_SIZE];
        FormatImageFormatId(formatId, images);
        PutId(entry + IMAGE_ENTRY_DATA_ID, layout->fields[i].id);
        PutId(entry + IMAGE_ENTRY_FORMAT_ID, formatId);
        entry += IMAGE_ENTRY_SIZE;
    }
    if (images == 0)
        return true;
    list[0] = (unsigned char)images;
    const ChunkItem item = {TAG_IMAGE_LIST, list, IMAGE_LIST_HEAD + IMAGE_ENTRY_SIZE * (uint32_t)images};
    ChunkRecord record = {REC_IMAGES, &item, 1};
    return ChunkFileWriteRecord(chunk, &record);
}

}   // namespace

uint32_t ChunkRecordLength(const ChunkRecord* record)
{
    if (!record || (record->itemCount && !record->items))
        return 0;
    uint64_t length = CHUNK_RECORD_HEAD + CHUNK_END_SIZE;
    for (size_t i = 0; i < record->itemCount; i++)
        length += CHUNK_ITEM_HEAD + (uint64_t)record->items[i].size;
    return length > UINT32_MAX ? 0 : (uint32_t)length;
}

bool ChunkFileCreate(ChunkFile* chunk, const char* path)
{
    if (!chunk)
        return false;
    chunk->file = nullptr;
    chunk->total = 0;
    chunk->path[0] = '\0';
    if (!path || strlen(path) >= KCSV_PATH_MAX)
        return false;
    chunk->file = FileOpen(path, BF_CREATE);
    if (!chunk->file)
        return false;
    strcpy(chunk->path, path);
    unsigned char header[CHUNK_HEADER_SIZE] = {};
    memcpy(header, CHUNK_MAGIC, 4);
    header[4] = CHUNK_VERSION;
    chunk->total = CHUNK_HEADER_SIZE;
    return Put(chunk, header, sizeof header);
}

bool ChunkFileWriteRecord(ChunkFile* chunk, const ChunkRecord* record)
{
    if (!chunk || !chunk->file)
        return false;
    uint32_t length = ChunkRecordLength(record);
    if (length == 0 || length > UINT32_MAX - CHUNK_END_SIZE - chunk->total) {
        ChunkFileDiscard(chunk);
        return false;
    }
    unsigned char head[CHUNK_RECORD_HEAD];
    PutLe16(head, record->type);
    PutLe32(head + 2, length);
    if (!Put(chunk, head, sizeof head))
        return false;
    for (size_t i = 0; i < record->itemCount; i++) {
        const ChunkItem& item = record->items[i];
        unsigned char itemHead[CHUNK_ITEM_HEAD];
        PutLe16(itemHead, item.tag);
        PutLe32(itemHead + 2, CHUNK_ITEM_HEAD + item.size);
        if (!Put(chunk, itemHead, sizeof itemHead) || !Put(chunk, item.data, item.size))
            return false;
    }
    if (!Put(chunk, kZeros, CHUNK_END_SIZE))
        return false;
    chunk->total += length;
    return true;
}

bool ChunkFileClose(ChunkFile* chunk)
{
    if (!chunk || !chunk->file)
        return false;
    if (!Put(chunk, kZeros, CHUNK_END_SIZE))
        return false;
    chunk->total += CHUNK_END_SIZE;
    unsigned char total[4];
    PutLe32(total, chunk->total);
    if (FileSeek(chunk->file, (long)CHUNK_LENGTH_OFFSET, SEEK_SET) != (long)CHUNK_LENGTH_OFFSET) {
        ChunkFileDiscard(chunk);
        return false;
    }
    if (!Put(chunk, total, sizeof total))
        return false;
    ByteFile* f = chunk->file;
    chunk->file = nullptr;
    if (!FileClose(f)) {
        FileRemove(chunk->path);
        return false;
    }
    return true;
}

void ChunkFileDiscard(ChunkFile* chunk)
{
    if (!chunk || !chunk->file)
        return;
    FileClose(chunk->file);
    chunk->file = nullptr;
    FileRemove(chunk->path);
}

bool WriteTableChunkFile(const char* path, const TableLayout* layout, const PackedStamp* stamp)
{
    if (!layout)
        return false;
    PackedStamp now = stamp ? *stamp : PackedStampNow();
    int count = layout->fieldCount;
    if (count < 0)
        count = 0;
    if (count > TABLE_MAX_FIELDS)
        count = TABLE_MAX_FIELDS;

    ChunkFile chunk;
    if (!ChunkFileCreate(&chunk, path) || !WriteTableRecord(&chunk, layout, now))
        return false;
    for (int i = 0; i < count; i++)
        if (!WriteFieldRecord(&chunk, layout->fields[i]))
            return false;
    if (!WriteImageRecord(&chunk, layout, count))
        return false;
    return ChunkFileClose(&chunk);
}
