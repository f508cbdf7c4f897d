// The allocation fault counter shared by both forms of the block seam, and the
// counted heap that the portable core's own buffers come from.
#include "memblock.h"
#include <cstdlib>

long blockFaultCountdown;

bool BlockFaultDue(void) { return blockFaultCountdown > 0 && --blockFaultCountdown == 0; }

void* MemAlloc(size_t size) { return BlockFaultDue() ? nullptr : malloc(size); }

// A failed call leaves p allocated, as realloc does.
void* MemRealloc(void* p, size_t size) { return BlockFaultDue() ? nullptr : realloc(p, size); }

void MemFree(void* p) { free(p); }
