// Data blocks as GlobalAlloc moveable memory: what the desktop application frees.
#include "memblock.h"
#include <windows.h>

BlockHandle BlockAlloc(size_t size, bool zeroed)
{
    if (BlockFaultDue())
        return nullptr;
    return GlobalAlloc(GMEM_MOVEABLE | (zeroed ? GMEM_ZEROINIT : 0), size);
}

BlockHandle BlockRealloc(BlockHandle block, size_t size)
{
    if (BlockFaultDue())
        return nullptr;
    return GlobalReAlloc(block, size, GMEM_MOVEABLE);
}

void* BlockLock(BlockHandle block) { return GlobalLock(block); }
void BlockUnlock(BlockHandle block) { GlobalUnlock(block); }
size_t BlockSize(BlockHandle block) { return GlobalSize(block); }
void BlockFree(BlockHandle block) { GlobalFree(block); }
