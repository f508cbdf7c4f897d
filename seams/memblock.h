// Data blocks: moveable global memory the caller owns and frees with GlobalFree.
// The Windows build hands out real GlobalAlloc blocks; the native build uses the
// heap, so the portable modules and their tests never need <windows.h>.
#pragma once
#include <cstddef>

typedef void* BlockHandle;

// A moveable block of size bytes; zeroed when asked. Null when memory is short.
BlockHandle BlockAlloc(size_t size, bool zeroed);
// Grows or shrinks the block and returns its handle, which may have changed.
// Null on failure; the old block is then untouched and still the caller's.
BlockHandle BlockRealloc(BlockHandle block, size_t size);
void* BlockLock(BlockHandle block);
void BlockUnlock(BlockHandle block);
size_t BlockSize(BlockHandle block);
void BlockFree(BlockHandle block);

// Heap memory for the portable core's own buffers (record fields, stream
// buffers, decoded descriptions): malloc, realloc and free, counted by the
// same fault counter as the blocks, so that a test can fail any allocation.
void* MemAlloc(size_t size);
void* MemRealloc(void* p, size_t size);
void MemFree(void* p);

// Fault injection for tests: while blockFaultCountdown is positive, every
// BlockAlloc, BlockRealloc, MemAlloc and MemRealloc counts it down, and the
// call that brings it to zero fails as if memory were short. Zero (the
// default) injects nothing.
extern long blockFaultCountdown;
bool BlockFaultDue(void);
