// The chunk file: the byte-level table description that travels, 3TO4-encoded,
// in a Kcsv file's "P" record. Integers are little-endian.
//
//   file:   magic 78 56 34 12, 0x10, u32 total length, records, 6 zero bytes
//   record: u16 type, u32 length (head, items and terminator), items, 6 zero bytes
//   item:   u16 tag, u32 length (6 + data), data
#pragma once
#include <cstddef>
#include <cstdint>
#include "bytefile.h"
#include "kcsv/kcsv_format.h"

const unsigned char CHUNK_MAGIC[4] = {0x78, 0x56, 0x34, 0x12};
const unsigned char CHUNK_VERSION = 0x10;
const uint32_t CHUNK_HEADER_SIZE = 9;
const uint32_t CHUNK_LENGTH_OFFSET = 5;   // the u32 total length
const uint32_t CHUNK_RECORD_HEAD = 6;
const uint32_t CHUNK_ITEM_HEAD = 6;
const uint32_t CHUNK_END_SIZE = 6;   // zero bytes ending each record and the file

// Record types.
const uint16_t REC_TABLE = 1;
const uint16_t REC_FIELD = 2;
const uint16_t REC_IMAGES = 5;

// Item tags.
const uint16_t TAG_TABLE_HEADER = 150;    // 60 bytes
const uint16_t TAG_TABLE_NAME = 151;      // name and its NUL
const uint16_t TAG_TABLE_TEXT = 152;      // a second text like the name (handheld only)
const uint16_t TAG_FIELD_DESC = 153;      // 24 bytes
const uint16_t TAG_TEXT_ATTR = 154;       // 16 bytes
const uint16_t TAG_TIME_ATTR = 155;       // 17 bytes: time form, then zeros
const uint16_t TAG_IMAGE_LIST = 160;      // 4 + 20 per image field
const uint16_t TAG_IMAGE_FORMATS = 161;   // 8 per format (handheld only)

// Table header block.
const uint32_t TABLE_HEADER_SIZE = 60;
const uint32_t TABLE_HEADER_STAMP = 13;   // PackedStamp, 5 bytes
const uint32_t TABLE_HEADER_KEY = 28;     // "KD01"

// Field descriptor.
const uint32_t FIELD_DESC_SIZE = 24;
const uint32_t FIELD_DESC_ID = 0;     // four characters, no NUL
const uint32_t FIELD_DESC_KIND = 4;   // the handheld's kind byte
const uint32_t FIELD_DESC_ATTR1 = 5;
const uint32_t FIELD_DESC_ATTR2 = 6;
const uint32_t FIELD_DESC_DATA_SIZE = 16;   // u32 size of the value
const uint32_t FIELD_DESC_EXTRA = 20;       // four bytes
const uint32_t TEXT_ATTR_SIZE = 16;
const uint32_t TIME_ATTR_SIZE = 17;

// Image list: byte 0 the entry count, then 20-byte entries from byte 4.
const uint32_t IMAGE_LIST_HEAD = 4;
const uint32_t IMAGE_ENTRY_SIZE = 20;
const uint32_t IMAGE_ENTRY_DATA_ID = 8;
const uint32_t IMAGE_ENTRY_FORMAT_ID = 12;
const uint32_t IMAGE_ENTRY_SECOND_ID = 16;
const uint32_t IMAGE_FORMAT_ENTRY_SIZE = 8;

inline uint16_t GetLe16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline uint32_t GetLe32(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline void PutLe16(unsigned char* p, uint16_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}
inline void PutLe32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (unsigned char)(v >> (8 * i));
}

struct ChunkItem {
    uint16_t tag;
    const void* data;
    uint32_t size;   // data bytes; the item's length is 6 + size
};

struct ChunkRecord {
    uint16_t type;
    const ChunkItem* items;
    size_t itemCount;
};

// A chunk file being written. Writes are unbuffered, so a failing write is
// seen at once; every failure closes and deletes the file, after which the
// caller only has to stop.
struct ChunkFile {
    ByteFile* file;
    uint32_t total;   // bytes so far, the end marker not yet counted
    char path[KCSV_PATH_MAX];
};

// 12 + the lengths of the items (6 + data each); 0 if that overflows.
uint32_t ChunkRecordLength(const ChunkRecord* record);

// Creates the file and writes the header with room for the length.
// False when the path is longer than KCSV_PATH_MAX - 1 or the file cannot be
// created or written.
bool ChunkFileCreate(ChunkFile* chunk, const char* path);
bool ChunkFileWriteRecord(ChunkFile* chunk, const ChunkRecord* record);
// Writes the end marker and the total length at offset 5, and closes.
bool ChunkFileClose(ChunkFile* chunk);
// Closes and deletes the file, for a caller that gives up.
void ChunkFileDiscard(ChunkFile* chunk);

// The whole description of a table as the CSV-to-Kcsv direction writes it:
// one REC_TABLE (header block with "TBLECONV", the stamp and "KD01"; the name),
// one REC_FIELD per FK_TEXT, FK_NUMBER and FK_TIME field in table order, and a
// REC_IMAGES record listing the image fields' data and format identifiers when
// there are any. stamp null: the local time now. On failure nothing is left.
bool WriteTableChunkFile(const char* path, const TableLayout* layout, const PackedStamp* stamp);
