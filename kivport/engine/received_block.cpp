// The block a receive builds, on both transfer methods: grown as bytes come,
// always NUL-terminated behind the data.
#include <cstring>
#include "engine_util.h"
#include "memblock.h"

// Grows the received block to hold `needed` bytes, rounded up to grain.
static int GrowReceived(uint32_t needed, uint32_t grain)
{
    TransferState& t = transferState;
    // The counts are 32-bit: a 64-bit process could otherwise grow the block
    // until its size wrapped round.
    uint64_t size = ((uint64_t)needed + grain - 1) / grain * grain;
    BlockHandle grown = nullptr;
    if (size <= UINT32_MAX)
        grown = t.hBlock ? BlockRealloc(t.hBlock, (size_t)size) : BlockAlloc((size_t)size, false);
    if (!grown) {
        SetResultCode(RC_NO_MEMORY);   // the old block stays for the export to free
        return 0;
    }
    t.hBlock = grown;
    t.blockSize = (uint32_t)size;
    return 1;
}

int StoreReceived(const uint8_t* data, uint32_t n, uint32_t grain)
{
    TransferState& t = transferState;
    uint64_t needed = (uint64_t)t.bytesDone + n + 1;   // the NUL too
    if (needed > t.blockSize && (needed > UINT32_MAX || !GrowReceived((uint32_t)needed, grain))) {
        SetResultCode(RC_NO_MEMORY);
        return 0;
    }
    if (t.resultCode)
        return 0;
    uint8_t* block = (uint8_t*)BlockLock(t.hBlock);
    if (!block) {
        SetResultCode(RC_NO_MEMORY);
        return 0;
    }
    memcpy(block + t.bytesDone, data, n);
    t.bytesDone += n;
    t.progressBytes = t.bytesDone;
    block[t.bytesDone] = 0;
    BlockUnlock(t.hBlock);
    return 1;
}
