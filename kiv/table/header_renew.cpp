#include "header_renew.h"
#include <cstdio>
#include <cstring>
#include "kcsv/chunk_file.h"
#include "kcsv/field_codecs.h"

namespace {

const char kCreator[] = "TBLECONV";

std::string Hex(long n, int digits)
{
    char text[32];
    snprintf(text, sizeof text, "%0*lX", digits, (unsigned long)n);
    return QuoteSlot(text);
}

void SetSlot(std::vector<std::string>* slots, size_t k, const std::string& value)
{
    if (k < slots->size())
        (*slots)[k] = value;
}

// The REC_TABLE record's item with tag, as offsets into chunk: *at the
// item's start, *record the record's. False when there is none.
bool FindTableItem(const std::string& chunk, uint16_t tag, size_t* record, size_t* at)
{
    const unsigned char* b = (const unsigned char*)chunk.data();
    for (size_t r = CHUNK_HEADER_SIZE; r + CHUNK_RECORD_HEAD <= chunk.size();) {
        uint32_t length = GetLe32(b + r + 2);
        if (length < CHUNK_RECORD_HEAD || r + length > chunk.size())
            return false;
        for (size_t i = r + CHUNK_RECORD_HEAD;
             GetLe16(b + r) == REC_TABLE && i + CHUNK_ITEM_HEAD <= r + length;) {
            uint32_t itemLength = GetLe32(b + i + 2);
            if (itemLength < CHUNK_ITEM_HEAD || i + itemLength > r + length)
                break;
            if (GetLe16(b + i) == tag) {
                *record = r;
                *at = i;
                return true;
            }
            i += itemLength;
        }
        r += length;
    }
    return false;
}

void RenewPackedStamp(std::string* chunk, const PackedStamp& packed)
{
    size_t record, at;
    if (!FindTableItem(*chunk, TAG_TABLE_HEADER, &record, &at) ||
        GetLe32((const unsigned char*)chunk->data() + at + 2) < CHUNK_ITEM_HEAD + TABLE_HEADER_SIZE ||
        chunk->compare(at + CHUNK_ITEM_HEAD, strlen(kCreator), kCreator) != 0)
        return;
    chunk->replace(at + CHUNK_ITEM_HEAD + TABLE_HEADER_STAMP, sizeof packed.bytes, (const char*)packed.bytes,
                   sizeof packed.bytes);
}

// The name item replaced, the lengths of its record and of the file set
// again. False when the description has no name item.
bool RenameTable(std::string* chunk, const std::string& name)
{
    size_t record, at;
    if (!FindTableItem(*chunk, TAG_TABLE_NAME, &record, &at))
        return false;
    unsigned char* b = (unsigned char*)&(*chunk)[0];
    uint32_t oldLength = GetLe32(b + at + 2), newLength = (uint32_t)(CHUNK_ITEM_HEAD + name.size() + 1);
    if (std::string((const char*)b + at + CHUNK_ITEM_HEAD, oldLength - CHUNK_ITEM_HEAD) == name + '\0')
        return true;
    uint32_t recordLength = GetLe32(b + record + 2) - oldLength + newLength;
    chunk->replace(at + CHUNK_ITEM_HEAD, oldLength - CHUNK_ITEM_HEAD, name + '\0');
    b = (unsigned char*)&(*chunk)[0];
    PutLe32(b + at + 2, newLength);
    PutLe32(b + record + 2, recordLength);
    PutLe32(b + CHUNK_LENGTH_OFFSET, (uint32_t)chunk->size());
    return true;
}

bool RenewDescription(std::string* slot, const PackedStamp& packed, const std::string& name)
{
    std::string text = SlotValue(*slot), chunk(text.size() * 3 / 4 + 3, '\0');
    chunk.resize(Decode3to4Bytes(text.c_str(), (unsigned char*)&chunk[0], chunk.size()));
    if (chunk.size() < CHUNK_HEADER_SIZE)
        return false;
    std::string received = chunk;
    RenewPackedStamp(&chunk, packed);
    if (!name.empty() && !RenameTable(&chunk, name))
        return false;
    if (chunk == received)
        return true;   // a description from the handheld stays as it came
    std::string encoded(Encoded3to4Length(chunk.size()), '\0');
    encoded.resize(Encode3to4Bytes(chunk.data(), chunk.size(), &encoded[0]));
    *slot = QuoteSlot(encoded);
    return true;
}

}   // namespace

std::vector<std::string> SplitSlots(const std::string& record)
{
    std::vector<std::string> slots;
    size_t pos = 0;
    if (!SplitKcsvRecord(record, &pos, false, &slots) || slots.empty())
        slots.assign(1, record);
    return slots;
}

bool RenewHeader(std::vector<std::string>* header, long rows, const char* stamp, const PackedStamp& packed,
                 const std::string& name)
{
    for (std::string& record : *header) {
        std::vector<std::string> slots = SplitSlots(record);
        std::string tag = SlotValue(slots[0]);
        if (tag == "H") {
            SetSlot(&slots, 3, QuoteSlot(stamp));
            SetSlot(&slots, 5, Hex(rows, 8));
        } else if (tag == "M") {
            SetSlot(&slots, 3, Hex(rows, 4));
            SetSlot(&slots, 9, QuoteSlot(stamp));
        } else if (tag == "P" && slots.size() > 2 && !RenewDescription(&slots[2], packed, name)) {
            return false;
        }
        record = JoinSlots(slots);
    }
    return true;
}
