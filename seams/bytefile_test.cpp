#include "bytefile.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include "memfiles.h"
#include "textstream.h"

namespace {

struct Form {
    const char* name;
    bool memory;
};

class ByteFiles : public ::testing::TestWithParam<Form> {
protected:
    // Names of this test's own: the cases run side by side in one folder.
    void SetUp() override
    {
        UseMemoryFiles(GetParam().memory);
        std::string base = std::string("bytefile_test-") +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : base)
            c = c == '/' ? '-' : c;
        path = base + ".bin";
        other = base + ".other";
        kPath = path.c_str();
        kOther = other.c_str();
    }
    void TearDown() override
    {
        for (const char* name : {kPath, kOther})
            FileRemove(name);
        ClearMemoryFiles();
        UseMemoryFiles(false);
        fileWriteFaultCountdown = 0;
    }
    std::string path, other;
    const char* kPath = nullptr;
    const char* kOther = nullptr;

    static std::string ReadAll(const char* path)
    {
        std::string out;
        ByteFile* f = FileOpen(path, BF_READ);
        if (!f)
            return "<none>";
        char buf[3];   // several short reads
        for (size_t n; (n = FileRead(f, buf, sizeof buf)) > 0;)
            out.append(buf, n);
        FileClose(f);
        return out;
    }
};

// The same calls give the same files on disk and in memory.
TEST_P(ByteFiles, WriteSeekOverwriteReadRemove)
{
    EXPECT_EQ(nullptr, FileOpen(kPath, BF_READ));
    ByteFile* f = FileOpen(kPath, BF_CREATE);
    ASSERT_NE(nullptr, f);
    EXPECT_TRUE(FileWrite(f, "abcdefgh", 8));
    EXPECT_TRUE(FileWrite(f, "", 0));
    EXPECT_EQ(2, FileSeek(f, 2, SEEK_SET));
    EXPECT_TRUE(FileWrite(f, "XY", 2));
    EXPECT_EQ(8, FileSeek(f, 0, SEEK_END));
    EXPECT_TRUE(FileWrite(f, "!", 1));
    EXPECT_TRUE(FileClose(f));
    EXPECT_EQ("abXYefgh!", ReadAll(kPath));

    f = FileOpen(kPath, BF_CREATE);   // truncates
    EXPECT_TRUE(FileClose(f));
    EXPECT_EQ("", ReadAll(kPath));
    EXPECT_TRUE(FileRemove(kPath));
    EXPECT_FALSE(FileRemove(kPath));
    EXPECT_EQ("<none>", ReadAll(kPath));
}

// The Nth write fails and writes nothing; the others go on as usual.
TEST_P(ByteFiles, WriteFaultCountdownFailsExactlyTheNthWrite)
{
    for (long n = 1; n <= 4; n++) {
        fileWriteFaultCountdown = n;
        ByteFile* f = FileOpen(kPath, BF_CREATE);
        ASSERT_NE(nullptr, f);
        std::string expected;
        for (int k = 1; k <= 3; k++) {
            char c = (char)('0' + k);
            EXPECT_TRUE(FileWrite(f, "", 0));   // empty writes are not counted
            EXPECT_EQ(FileWrite(f, &c, 1), k != n) << n;
            if (k != n)
                expected += c;
        }
        EXPECT_TRUE(FileClose(f));
        EXPECT_EQ(expected, ReadAll(kPath)) << n;
        EXPECT_EQ(fileWriteFaultCountdown, n <= 3 ? 0 : 1);
    }
}

// Text streams open memory files by name and write through the byte files.
TEST_P(ByteFiles, TextStreamsOverByteFiles)
{
    TextStream* w = TextOpenWrite(kOther);
    ASSERT_NE(nullptr, w);
    EXPECT_TRUE(TextPuts(w, "one\ntwo"));
    EXPECT_TRUE(TextClose(w));
    EXPECT_EQ("one\r\ntwo", ReadAll(kOther));
    TextStream* r = TextOpenRead(kOther);
    ASSERT_NE(nullptr, r);
    char line[16];
    EXPECT_STREQ("one\n", TextGets(r, line, sizeof line));
    EXPECT_STREQ("two", TextGets(r, line, sizeof line));
    TextClose(r);

    // A failed flush is reported when the stream is closed.
    w = TextOpenWrite(kOther);
    fileWriteFaultCountdown = 1;
    EXPECT_TRUE(TextPuts(w, "lost"));
    EXPECT_FALSE(TextClose(w));
    EXPECT_EQ("", ReadAll(kOther));
}

INSTANTIATE_TEST_SUITE_P(Forms, ByteFiles, ::testing::Values(Form{"disk", false}, Form{"memory", true}),
                         [](const ::testing::TestParamInfo<Form>& info) {
                             return std::string(info.param.name);
                         });

TEST(MemoryFiles, BlockedNamesAndListing)
{
    UseMemoryFiles(true);
    PutMemoryFile("a", "xyz", 3);
    BlockMemoryFile("dir");
    EXPECT_EQ(nullptr, FileOpen("dir", BF_READ));
    EXPECT_EQ(nullptr, FileOpen("dir", BF_CREATE));
    EXPECT_EQ(nullptr, TextOpenWrite("dir"));
    EXPECT_FALSE(FileRemove("dir"));
    ByteFile* f = FileOpen("b", BF_CREATE);
    EXPECT_EQ(-1, FileSeek(f, -1, SEEK_SET));
    EXPECT_EQ(4, FileSeek(f, 4, SEEK_SET));
    EXPECT_TRUE(FileWrite(f, "!", 1));   // past the end: zeros before it
    FileClose(f);
    size_t size = 0;
    const unsigned char* b = GetMemoryFile("b", &size);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(std::string("\0\0\0\0!", 5), std::string((const char*)b, size));
    ASSERT_EQ(2u, MemoryFileCount());
    EXPECT_STREQ("a", MemoryFileName(0));
    EXPECT_STREQ("b", MemoryFileName(1));
    EXPECT_EQ(nullptr, MemoryFileName(2));
    ClearMemoryFiles();
    EXPECT_EQ(0u, MemoryFileCount());
    EXPECT_EQ(nullptr, GetMemoryFile("a", &size));
    UseMemoryFiles(false);
}

// A routed form gets every open and removal by name, whatever form was
// asked, until the route ends; memory files still come first.
std::string routedName;
void* RoutedOpen(const char* path, FileAccess access)
{
    routedName = std::string("bytefile_test-routed-") + path;
    return stdioFiles.open(routedName.c_str(), access);
}
bool RoutedRemove(const char* path)
{
    return stdioFiles.remove(("bytefile_test-routed-" + std::string(path)).c_str());
}
const FileForm kRouted = {RoutedOpen,      stdioFiles.read,  stdioFiles.write,
                          stdioFiles.seek, stdioFiles.close, RoutedRemove};

TEST(RoutedFiles, TakeEveryOpenAndRemovalUntilTheRouteEnds)
{
    const struct {
        const char* name;
        bool memory;
        bool onDisk;   // the write made the routed file on disk
    } rows[] = {
        {"routed", false, true},
        {"memory files first", true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        UseMemoryFiles(row.memory);
        RouteFiles(&kRouted);
        TextStream* ts = TextOpenWrite("r");
        ASSERT_NE(nullptr, ts);
        EXPECT_TRUE(TextPuts(ts, "x\n"));
        EXPECT_TRUE(TextClose(ts));
        ByteFile* asked = FileOpen("r", BF_READ, &stdioFiles);
        EXPECT_NE(nullptr, asked);
        FileClose(asked);
        RouteFiles(nullptr);
        FILE* routed = fopen("bytefile_test-routed-r", "rb");
        EXPECT_EQ(row.onDisk, routed != nullptr);
        if (routed)
            fclose(routed);
        EXPECT_EQ(nullptr, fopen("r", "rb"));   // never the name the caller gave
        RouteFiles(&kRouted);
        EXPECT_TRUE(FileRemove("r"));   // the routed file, or the memory file
        RouteFiles(nullptr);
        EXPECT_EQ(nullptr, fopen("bytefile_test-routed-r", "rb"));
        ClearMemoryFiles();
        UseMemoryFiles(false);
    }
}

}   // namespace
