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
#ifndef KIV_BARE_SEAMS
void* MemAlloc(size_t size);
void* MemRealloc(void* p, size_t size);
void MemFree(void* p);
#else
// The benchmarks' build without the seams (bench/bare_seams.cpp): the C
// library's heap called directly, and no allocation ever made to fail.
#include <cstdlib>
inline void* MemAlloc(size_t size) { return malloc(size); }
inline void* MemRealloc(void* p, size_t size) { return realloc(p, size); }
inline void MemFree(void* p) { free(p); }
inline bool BlockFaultDue(void) { return false; }
#endif

// Fault injection for tests: while blockFaultCountdown is positive, every
// BlockAlloc, BlockRealloc, MemAlloc and MemRealloc counts it down, and the
// call that brings it to zero fails as if memory were short. Zero (the
// default) injects nothing.
extern long blockFaultCountdown;
#ifndef KIV_BARE_SEAMS
bool BlockFaultDue(void);
#endif
