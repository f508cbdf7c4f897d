// Data blocks on the heap for the native build. The handle is a small header
// ahead of the bytes, so BlockSize answers as GlobalSize would.
#include "memblock.h"
#include <cstdlib>
#include <cstring>

namespace {
struct BlockHeader {
    size_t size;
    size_t locks;
    alignas(std::max_align_t) unsigned char data[1];
};
const size_t kHeader = offsetof(BlockHeader, data);
}

BlockHandle BlockAlloc(size_t size, bool zeroed)
{
    if (BlockFaultDue())
        return nullptr;
    if (size > (size_t)-1 - kHeader)
        return nullptr;
    BlockHeader* h = (BlockHeader*)(zeroed ? calloc(1, kHeader + size) : malloc(kHeader + size));
    if (!h)
        return nullptr;
    h->size = size;
    h->locks = 0;
    return h;
}

BlockHandle BlockRealloc(BlockHandle block, size_t size)
{
    if (BlockFaultDue())
        return nullptr;
    if (!block || size > (size_t)-1 - kHeader)
        return nullptr;
    BlockHeader* h = (BlockHeader*)realloc(block, kHeader + size);
    if (!h)
        return nullptr;
    h->size = size;
    return h;
}

void* BlockLock(BlockHandle block)
{
    if (!block)
        return nullptr;
    BlockHeader* h = (BlockHeader*)block;
    h->locks++;
    return h->data;
}

void BlockUnlock(BlockHandle block)
{
    if (block && ((BlockHeader*)block)->locks)
        ((BlockHeader*)block)->locks--;
}

size_t BlockSize(BlockHandle block) { return block ? ((BlockHeader*)block)->size : 0; }
void BlockFree(BlockHandle block) { free(block); }
