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

// A run ends before the first stop the caller names, or before CR or 0x1A,
// which the stream translates itself; the stop is then read by TextGetc.
TEST(TextStream, TakeRunStopsAtTheFirstStopOrTranslatedByte)
{
    struct Row {
        std::string raw;
        const char* stops;
        std::string run;
        int next;   // what TextGetc reads after the run
    };
    const Row rows[] = {
        {"abc\"def", "\"\n", "abc", '"'},
        {"abc\ndef\"", "\"\n", "abc", '\n'},
        {"ab\r\ncd", "\"", "ab", '\n'},
        {std::string("ab\x1A\"", 4), "\"", "ab", EOF},
        {"abcdefghij,", ",", "abcdefghij", ','},   // past a four-byte step
        {"\"x", "\"", "", '"'},
        {"plain", "\"", "plain", EOF},
        {"a,b\"c", "", "a,b\"c", EOF},   // no stops: only CR and 0x1A end it
    };
    for (const Row& row : rows) {
        TextStream* ts = TextOpenMemory(row.raw.data(), row.raw.size());
        const unsigned char* run = nullptr;
        size_t n = TextTakeRun(ts, row.stops, &run);
        EXPECT_EQ(row.run, std::string((const char*)run, n)) << row.raw;
        EXPECT_EQ(row.next, TextGetc(ts)) << row.raw;
        TextClose(ts);
    }
}

// The stops may change from one call to the next on the same stream.
TEST(TextStream, TakeRunFollowsNewStops)
{
    const std::string raw = "ab,cd\"ef";
    TextStream* ts = TextOpenMemory(raw.data(), raw.size());
    const unsigned char* run;
    EXPECT_EQ(2u, TextTakeRun(ts, ",", &run));
    EXPECT_EQ(',', TextGetc(ts));
    EXPECT_EQ(2u, TextTakeRun(ts, "\"", &run));
    EXPECT_EQ('"', TextGetc(ts));
    EXPECT_EQ(2u, TextTakeRun(ts, ",", &run));
    EXPECT_EQ(0u, TextTakeRun(ts, ",", &run));   // the end
    TextClose(ts);
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

TEST(TextStream, DecimalNumbersReadBackAsWritten)
{
    const unsigned long numbers[] = {0, 7, 10, 4294967295ul, (unsigned long)-1};
    char path[] = "textstream_decimal.tmp";
    for (unsigned long n : numbers) {
        TextStream* w = TextOpenWrite(path);
        ASSERT_NE(nullptr, w);
        EXPECT_TRUE(TextPutDecimal(w, n));
        EXPECT_TRUE(TextClose(w));
        TextStream* r = TextOpenRead(path);
        char text[32];
        ASSERT_NE(nullptr, TextGets(r, text, sizeof text));
        EXPECT_EQ(std::to_string(n), text);
        TextClose(r);
    }
    remove(path);
    TextStream* r = TextOpenMemory("1", 1);
    EXPECT_FALSE(TextPutDecimal(r, 1));   // a read stream takes no writing
    TextClose(r);
    EXPECT_FALSE(TextPutDecimal(nullptr, 1));
}

TEST(TextStream, MissingFileOpensNothing)
{
    EXPECT_EQ(nullptr, TextOpenRead("no/such/dir/file.txt"));
    EXPECT_EQ(nullptr, TextOpenWrite("no/such/dir/file.txt"));
    EXPECT_EQ(EOF, TextGetc(nullptr));
    EXPECT_TRUE(TextEof(nullptr));
}

}   // namespace
