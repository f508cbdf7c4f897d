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
