#include "textstream.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <string>

namespace {

std::string ReadAll(TextStream* ts)
{
    std::string out;
    for (int c; (c = TextGetc(ts)) != EOF;)
        out += (char)c;
    return out;
}

std::string ReadText(const std::string& raw)
{
    TextStream* ts = TextOpenMemory(raw.data(), raw.size());
    std::string out = ReadAll(ts);
    EXPECT_TRUE(TextEof(ts));
    TextClose(ts);
    return out;
}

TEST(TextStream, ReadingFollowsTheWindowsTextMode)
{
    EXPECT_EQ("a\nb\n", ReadText("a\r\nb\r\n"));
    EXPECT_EQ("a\rb\r", ReadText("a\rb\r"));   // a lone CR stays
    EXPECT_EQ("a\r\n", ReadText("a\r\r\n"));
    EXPECT_EQ("ab", ReadText(std::string("ab\x1A"
                                         "cd",
                                         5)));   // Ctrl-Z ends the input
    EXPECT_EQ(std::string("a\0b", 3), ReadText(std::string("a\0b", 3)));
    EXPECT_EQ("", ReadText(""));
}

TEST(TextStream, CrLfSplitAcrossTheReadBufferIsStillOneLineEnd)
{
    std::string raw(64 * 1024 - 1, 'x');
    raw += "\r\nend";
    std::string got = ReadText(raw);
    EXPECT_EQ(raw.size() - 1, got.size());
    EXPECT_EQ("x\nend", got.substr(got.size() - 5));
}

TEST(TextStream, EofStaysOnceReached)
{
    std::string raw("a\x1A"
                    "b",
                    3);
    TextStream* ts = TextOpenMemory(raw.data(), raw.size());
    EXPECT_EQ('a', TextGetc(ts));
    EXPECT_FALSE(TextEof(ts));
    EXPECT_EQ(EOF, TextGetc(ts));
    EXPECT_EQ(EOF, TextGetc(ts));
    EXPECT_TRUE(TextEof(ts));
    TextClose(ts);
}

TEST(TextStream, WritingTurnsLfIntoCrLfAndReadsBack)
{
    char path[] = "textstream_test.tmp";
    TextStream* w = TextOpenWrite(path);
    ASSERT_NE(nullptr, w);
    EXPECT_TRUE(TextPuts(w, "one\ntwo"));
    EXPECT_TRUE(TextPrintf(w, "%s%d\n", "\n", 3));
    std::string big(2000, 'y');
    EXPECT_TRUE(TextPrintf(w, "%s\n", big.c_str()));
    EXPECT_TRUE(TextClose(w));

    FILE* f = fopen(path, "rb");
    ASSERT_NE(nullptr, f);
    std::string raw;
    for (int c; (c = fgetc(f)) != EOF;)
        raw += (char)c;
    fclose(f);
    EXPECT_EQ("one\r\ntwo\r\n3\r\n" + big + "\r\n", raw);

    TextStream* r = TextOpenRead(path);
    char line[16];
    EXPECT_STREQ("one\n", TextGets(r, line, sizeof line));
    EXPECT_STREQ("two\n", TextGets(r, line, sizeof line));
    EXPECT_STREQ("3\n", TextGets(r, line, sizeof line));
    EXPECT_STREQ("yyyyyyyyyyyyyyy", TextGets(r, line, sizeof line));   // cut at the buffer
    TextClose(r);
    remove(path);
}

TEST(TextStream, MissingFileOpensNothing)
{
    EXPECT_EQ(nullptr, TextOpenRead("no/such/dir/file.txt"));
    EXPECT_EQ(nullptr, TextOpenWrite("no/such/dir/file.txt"));
    EXPECT_EQ(EOF, TextGetc(nullptr));
    EXPECT_TRUE(TextEof(nullptr));
}

}   // namespace
