#include "memblock.h"
#include <gtest/gtest.h>
#include <cstring>

TEST(MemBlock, ZeroedGrowsAndKeepsItsBytes)
{
    BlockHandle b = BlockAlloc(10, true);
    ASSERT_NE(nullptr, b);
    EXPECT_GE(BlockSize(b), 10u);
    char* p = (char*)BlockLock(b);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(0, p[i]);
    memcpy(p, "abcdefghi", 10);
    BlockUnlock(b);

    BlockHandle g = BlockRealloc(b, 100000);
    ASSERT_NE(nullptr, g);
    EXPECT_GE(BlockSize(g), 100000u);
    p = (char*)BlockLock(g);
    EXPECT_STREQ("abcdefghi", p);
    BlockUnlock(g);
    BlockFree(g);
}

// Blocks and heap memory share one countdown: exactly the Nth allocation of
// any kind fails, and a failed reallocation leaves the old memory usable.
TEST(MemBlock, FaultCountdownFailsExactlyTheNthAllocation)
{
    for (long n = 1; n <= 5; n++) {
        blockFaultCountdown = n;
        bool failed[4];
        BlockHandle b = BlockAlloc(8, true);
        failed[0] = !b;
        void* p = MemAlloc(8);
        failed[1] = !p;
        BlockHandle g = b ? BlockRealloc(b, 64) : nullptr;
        failed[2] = b && !g;
        void* q = p ? MemRealloc(p, 64) : nullptr;
        failed[3] = p && !q;
        for (int k = 0; k < 4; k++)
            EXPECT_EQ(failed[k], k + 1 == n) << "countdown " << n << ", allocation " << k + 1;
        EXPECT_EQ(blockFaultCountdown, n <= 4 ? 0 : 1);
        BlockFree(g ? g : b);
        MemFree(q ? q : p);
    }
    blockFaultCountdown = 0;
}
