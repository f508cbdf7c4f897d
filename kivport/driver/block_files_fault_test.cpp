// Block files from memory with every allocation and write failing in turn: a
// load gives the whole file or null with RC_NO_MEMORY, a save gives RC_OK with
// the whole text or RC_FILE_WRITE; nothing leaks.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "block_files.h"
#include "fault_points.h"
#include "memfiles.h"
#include "records.h"

namespace {

std::string BlockText(BlockHandle block)
{
    std::string s((const char*)BlockLock(block), BlockSize(block));
    BlockUnlock(block);
    return s;
}

// A block as the caller hands one over: the bytes and a NUL after them.
BlockHandle TextBlock(const std::string& bytes)
{
    BlockHandle b = BlockAlloc(bytes.size() + 1, true);
    memcpy(BlockLock(b), bytes.data(), bytes.size());
    BlockUnlock(b);
    return b;
}

TEST(BlockFileFaults, EveryFailurePointOfLoadAndSave)
{
    const std::string inputs[] = {
        "",
        std::string("a\0b", 3),
        "line one\r\nline two\x1A",
        std::string(100000, 'x') + "end",
    };
    UseMemoryFiles(true);
    for (const std::string& bytes : inputs) {
        SCOPED_TRACE(bytes.size());
        PutMemoryFile("in.bin", bytes.data(), bytes.size());
        std::string text = bytes.substr(0, bytes.find('\0'));   // what a save keeps

        FaultCounts load = ForEachFaultPoint([&](FaultPoint point) {
            int16_t result = 1234;
            BlockHandle b = LoadBlockFile("in.bin", &result, nullptr);
            if (b) {
                EXPECT_EQ(1234, result);
                EXPECT_EQ(bytes + '\0', BlockText(b).substr(0, bytes.size() + 1));
                BlockFree(b);
            } else {
                EXPECT_EQ(FAULT_ALLOCATION, point.kind);
                EXPECT_EQ(RC_NO_MEMORY, result);
            }
        });
        EXPECT_EQ(1, load.allocations);
        EXPECT_EQ(0, load.writes);

        BlockHandle block = TextBlock(bytes);
        FaultCounts save = ForEachFaultPoint([&](FaultPoint point) {
            int16_t code = SaveBlockFile("out.txt", block, nullptr);
            size_t size = 0;
            const unsigned char* saved = GetMemoryFile("out.txt", &size);
            ASSERT_NE(nullptr, saved);   // created before anything can fail
            if (code == RC_OK) {
                EXPECT_EQ(text, std::string((const char*)saved, size));
            } else {
                EXPECT_EQ(FAULT_WRITE, point.kind);
                EXPECT_EQ(RC_FILE_WRITE, code);
                EXPECT_EQ(0u, size);
            }
        });
        BlockFree(block);
        EXPECT_EQ(0, save.allocations);
        EXPECT_EQ(text.empty() ? 0 : 1, save.writes);
    }
    int16_t result = 0;
    EXPECT_EQ(nullptr, LoadBlockFile("missing.bin", &result, nullptr));
    EXPECT_EQ(RC_FILE_OPEN, result);
    ClearMemoryFiles();
    UseMemoryFiles(false);
}

}   // namespace
