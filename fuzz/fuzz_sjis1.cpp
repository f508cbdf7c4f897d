// Converts arbitrary text in both directions. Each result must be a block
// holding a NUL-terminated text no longer than its input, and converting a
// result again must be just as safe.
#include "kcsv/field_codecs.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>

static void Check(BlockHandle block, size_t inputLength)
{
    if (!block) {
        if (inputLength != 0)
            abort();   // memory does not run out here
        return;
    }
    const char* p = (const char*)BlockLock(block);
    size_t size = BlockSize(block);
    if (!p || !memchr(p, 0, size) || strlen(p) > inputLength)
        abort();
    BlockHandle twice[2] = {Sjis1Encode(p), Sjis1Decode(p)};
    size_t length = strlen(p);
    BlockUnlock(block);
    for (BlockHandle b : twice) {
        if (b) {
            const char* q = (const char*)BlockLock(b);
            if (strlen(q) > length)
                abort();
            BlockUnlock(b);
            BlockFree(b);
        } else if (length != 0) {
            abort();
        }
    }
    BlockFree(block);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = (char*)malloc(size + 1);   // exact size: ASan sees reads past the NUL
    memcpy(text, data, size);
    text[size] = '\0';
    size_t length = strlen(text);
    Check(Sjis1Encode(text), length);
    Check(Sjis1Decode(text), length);
    free(text);
    return 0;
}
