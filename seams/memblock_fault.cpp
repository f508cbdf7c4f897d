// The allocation fault counter shared by both forms of the block seam.
#include "memblock.h"

long blockFaultCountdown;

bool BlockFaultDue(void)
{
    return blockFaultCountdown > 0 && --blockFaultCountdown == 0;
}
