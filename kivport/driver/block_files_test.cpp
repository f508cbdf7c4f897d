#include "kivtest.h"
#include <gtest/gtest.h>
#include <cstdint>
#include <string>

namespace {

typedef HGLOBAL(WINAPI* LoadFileFn)(const char*, int16_t*);
typedef int16_t(WINAPI* SaveFileFn)(const char*, HGLOBAL);

struct Exports {
    HMODULE dll = LoadKivLibrary("kivport.dll");
    LoadFileFn load = GetExport<LoadFileFn>(dll, "_KivLoadFile@8");
    SaveFileFn save = GetExport<SaveFileFn>(dll, "_KivSaveFile@8");
};

Exports& Kiv()
{
    static Exports e;
    return e;
}

HGLOBAL Block(const std::string& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    return h;
}

std::string Contents(HGLOBAL h)
{
    std::string out((const char*)GlobalLock(h), GlobalSize(h));
    GlobalUnlock(h);
    return out;
}

class BlockFiles : public ::testing::Test {
protected:
    const char* path = "kiv_block.bin";
    void SetUp() override
    {
        ASSERT_NE(nullptr, Kiv().load);
        ASSERT_NE(nullptr, Kiv().save);
    }
    void TearDown() override { DeleteFileA(path); }
};

TEST_F(BlockFiles, EmptyFileIsOneNulByte)
{
    WriteFileBytes(path, "");
    int16_t result = 1234;
    HGLOBAL h = Kiv().load(path, &result);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(1234, result);   // success leaves the caller's result alone
    EXPECT_EQ(std::string(1, '\0'), Contents(h).substr(0, 1));
    EXPECT_GE(GlobalSize(h), 1u);
    GlobalFree(h);
}

TEST_F(BlockFiles, EveryByteValueRoundTripsAndNulsLoadWhole)
{
    std::string all;
    for (int i = 1; i < 256; i++)
        all += (char)i;
    all += all;   // with CR LF pairs and 0x1A inside: no text-mode translation
    WriteFileBytes(path, all);
    int16_t result = 0;
    HGLOBAL h = Kiv().load(path, &result);
    ASSERT_NE(nullptr, h);
    std::string got = Contents(h);
    ASSERT_GE(got.size(), all.size() + 1);
    EXPECT_EQ(all, got.substr(0, all.size()));
    EXPECT_EQ('\0', got[all.size()]);
    EXPECT_EQ(0, Kiv().save("kiv_copy.bin", h));
    EXPECT_EQ(all, ReadFileBytes("kiv_copy.bin"));
    DeleteFileA("kiv_copy.bin");
    GlobalFree(h);

    std::string withNul("ab\0cd", 5);
    WriteFileBytes(path, withNul);
    h = Kiv().load(path, &result);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(withNul, Contents(h).substr(0, 5));
    EXPECT_EQ(0, Kiv().save(path, h));
    EXPECT_EQ("ab", ReadFileBytes(path));   // saving stops at the first NUL
    GlobalFree(h);
}

TEST_F(BlockFiles, SavingABlockStartingWithNulCreatesAnEmptyFile)
{
    WriteFileBytes(path, "old contents");
    HGLOBAL h = Block(std::string("\0xyz", 4));
    EXPECT_EQ(0, Kiv().save(path, h));
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ("", ReadFileBytes(path));
    GlobalFree(h);
}

TEST_F(BlockFiles, BlockWithoutNulIsSavedWithinItsSize)
{
    HGLOBAL h = Block("abc");
    EXPECT_EQ(0, Kiv().save(path, h));
    EXPECT_EQ("abc", ReadFileBytes(path).substr(0, 3));
    GlobalFree(h);
}

TEST_F(BlockFiles, MissingFileAndDirectoryAreOpenFailures)
{
    int16_t result = 0;
    EXPECT_EQ(nullptr, Kiv().load("no_such_file.bin", &result));
    EXPECT_EQ(7, result);
    result = 0;
    EXPECT_EQ(nullptr, Kiv().load("no_such_dir\\file.bin", &result));
    EXPECT_EQ(7, result);

    HGLOBAL h = Block(std::string("data\0", 5));
    EXPECT_EQ(7, Kiv().save("no_such_dir\\file.bin", h));
    GlobalFree(h);
}

TEST_F(BlockFiles, UnlockableBlockIsNoMemoryAndLeavesAnEmptyFile)
{
    HGLOBAL h = Block("x");
    GlobalFree(h);   // a handle that no longer locks
    EXPECT_EQ(4, Kiv().save(path, h));
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ("", ReadFileBytes(path));
}

}   // namespace
