// "SJIS1": text between the PC's code page 932 and the handheld's set.
#include <cstdint>
#include <cstring>
#include "kcsv/field_codecs.h"
#include "kcsv/leadbyte.h"

namespace {

// The block holds the text's length + this. Every mapping gives at most the
// bytes it used up, so the result always fits with room to spare.
const size_t kBlockSlack = 10;
const unsigned char kHandheldLineEnd = 0x1F;

bool IsHandheldLead(unsigned char c)
{
    return c == 0xEB || c == 0xEC || c == 0xFC || c == 0xFD || IsLeadByte932(c);
}

uint16_t ToHandheld(uint16_t code)
{
    uint16_t r = LookupCharMap(code, PcExtMap);
    return r ? r : code;
}

uint16_t ToPc(uint16_t code)
{
    const CharMapEntry* map;
    bool keepUnmapped = false;
    switch (code >> 8) {
    case 0xEB:
    case 0xEC: map = HandheldKanaMap; break;
    case 0xFC: map = HandheldFcMap; break;
    case 0xFD: map = HandheldFdMap; break;
    default:
        map = HandheldDbcsMap;
        keepUnmapped = true;
        break;
    }
    uint16_t r = LookupCharMap(code, map);
    if (r)
        return r;
    return keepUnmapped ? code : MISSING_CHAR;
}

// One pass over the text into out; toPc picks the direction.
void ConvertSjis1Into(const char* text, bool toPc, unsigned char* out)
{
    size_t pos = 0;
    const unsigned char* p = (const unsigned char*)text;
    while (*p) {
        unsigned char b = *p;
        uint16_t result;
        if (toPc ? IsHandheldLead(b) : IsLeadByte932(b)) {
            if (!p[1])
                break;   // lone lead byte before the NUL: dropped
            uint16_t code = uint16_t(b << 8 | p[1]);
            result = toPc ? ToPc(code) : ToHandheld(code);
            p += 2;
        } else {
            result = (!toPc && b == '\n') ? kHandheldLineEnd : b;
            p += 1;
        }
        if (result > 0xFF)
            out[pos++] = (unsigned char)(result >> 8);
        out[pos++] = (unsigned char)result;
    }
    out[pos] = '\0';
}

BlockHandle ConvertSjis1(const char* text, bool toPc)
{
    if (!text || !*text)
        return nullptr;
    size_t size = strlen(text) + kBlockSlack;
    BlockHandle block = BlockAlloc(size, false);
    if (!block)
        return nullptr;
    unsigned char* out = (unsigned char*)BlockLock(block);
    if (!out) {
        BlockFree(block);
        return nullptr;
    }
    ConvertSjis1Into(text, toPc, out);
    BlockUnlock(block);
    return block;
}

}   // namespace

BlockHandle Sjis1Encode(const char* text) { return ConvertSjis1(text, false); }
BlockHandle Sjis1Decode(const char* text) { return ConvertSjis1(text, true); }

bool WithSjis1Text(const char* text, bool toPc, bool (*use)(const char* converted, void* context),
                   void* context)
{
    char small[kSmallSjis1Text];
    if (text && memchr(text, '\0', sizeof small)) {
        ConvertSjis1Into(text, toPc, (unsigned char*)small);
        return use(small, context);
    }
    Sjis1Text converted = TakeSjis1Text(ConvertSjis1(text, toPc), text);
    bool ok = use(converted.text, context);
    ReleaseSjis1Text(&converted);
    return ok;
}

Sjis1Text TakeSjis1Text(BlockHandle result, const char* original)
{
    const char* text = result ? (const char*)BlockLock(result) : nullptr;
    if (!text) {
        BlockFree(result);
        return Sjis1Text{nullptr, original};
    }
    return Sjis1Text{result, text};
}

void ReleaseSjis1Text(Sjis1Text* taken)
{
    if (taken->block) {
        BlockUnlock(taken->block);
        BlockFree(taken->block);
    }
    *taken = Sjis1Text{nullptr, nullptr};
}
