#include "kcsv/field_codecs.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include "kcsv/kcsv_test_util.h"

using namespace kcsvtest;

namespace {

std::string EncodeBytes(const std::string& bytes)
{
    std::string out(Encoded3to4Length(bytes.size()), '\0');
    out.resize(Encode3to4Bytes(bytes.data(), bytes.size(), &out[0]));
    return out;
}

// Decodes from a buffer of exactly the text's size, so that the sanitizers
// see any read past the NUL.
std::string DecodeText(const std::string& text, size_t outSize = 1 << 16)
{
    std::unique_ptr<char[]> exact(new char[text.size() + 1]);
    memcpy(exact.get(), text.c_str(), text.size() + 1);
    std::string out(outSize, '\0');
    out.resize(Decode3to4Bytes(exact.get(), (unsigned char*)&out[0], outSize));
    return out;
}

TEST(Codec3to4, Groups)
{
    struct Case {
        const char* bytes;
        int n;
        const char* text;
    } cases[] = {
        {"abc", 3, "789P"},          {"ab", 2, "78O"},           {"a", 1, "7K"}, {"\0\0\0", 3, "0000"},
        {"\xFF\xFF\xFF", 3, "zzzz"}, {"\x80\x40\xC0", 3, "000b"}};
    for (const Case& c : cases) {
        unsigned char buf[4] = {};
        memcpy(buf, c.bytes, (size_t)c.n);
        ASSERT_EQ(Encode3to4(buf, c.n), c.n + 1);
        EXPECT_EQ(std::string((char*)buf, (size_t)c.n + 1), c.text);
        ASSERT_EQ(Decode4to3(buf, c.n + 1), c.n);
        EXPECT_EQ(memcmp(buf, c.bytes, (size_t)c.n), 0) << c.text;
    }
    unsigned char buf[4] = {'7', '8', '<', 'P'};
    EXPECT_EQ(Encode3to4(buf, 0), 0);
    EXPECT_EQ(Encode3to4(buf, 4), 0);
    EXPECT_EQ(Decode4to3(buf, 1), 0);
    EXPECT_EQ(Decode4to3(buf, 4), 0);   // '<' is not in the alphabet
    EXPECT_EQ(memcmp(buf, "78<P", 4), 0);
    for (char c : {',', '"', ' ', '\r', '\n'})
        EXPECT_EQ(strchr(ALPHABET_3TO4, c), nullptr);
}

TEST(Codec3to4, RoundTripOfEveryLength)
{
    std::mt19937 rng(34);
    for (size_t n = 0; n <= 300; n++) {
        std::string bytes = RandomBytes(rng, n);
        std::string text = EncodeBytes(bytes);
        EXPECT_EQ(text.size(), n / 3 * 4 + (n % 3 ? n % 3 + 1 : 0));
        EXPECT_EQ(text.find_first_not_of(ALPHABET_3TO4), std::string::npos);
        EXPECT_EQ(DecodeText(text), bytes) << n;
    }
}

TEST(Codec3to4, DecodeEdges)
{
    // The field ends at a quote or a line end; a single last character is nothing.
    EXPECT_EQ(DecodeText("789P\"zzzz"), "abc");
    EXPECT_EQ(DecodeText("789P\nzzzz"), "abc");
    EXPECT_EQ(DecodeText("78O\r"), "ab");
    EXPECT_EQ(DecodeText("789P7"), "abc");
    // A group with a foreign character gives nothing; the next groups go on.
    EXPECT_EQ(DecodeText("789P<zzz789P"), "abcabc");
    EXPECT_EQ(DecodeText(",,,,7K"), "a");
    EXPECT_EQ(DecodeText("789P7 O"), "abc");
    EXPECT_EQ(DecodeText("789P7<"), "abc");
    // Output stops before the first group that does not fit.
    EXPECT_EQ(DecodeText("789P789P", 5), "abc");
    EXPECT_EQ(DecodeText("789P78O", 4), "abc");
    EXPECT_EQ(DecodeText("789P78O", 5), "abcab");
    EXPECT_EQ(Decode3to4Bytes(nullptr, nullptr, 0), 0u);
}

// Through files as the conversions use them; sizes cross the buffer edges.
TEST(Codec3to4, StreamRoundTrip)
{
    TempDir dir;
    std::mt19937 rng(4);
    for (size_t n : {0, 1, 2, 24575, 24576, 24577, 100001}) {
        std::string bytes = RandomBytes(rng, n);
        ASSERT_TRUE(WriteWholeFile(dir.File("in.bin"), bytes));
        ByteFile* in = FileOpen(dir.File("in.bin").c_str(), BF_READ);
        TextStream* text = TextOpenWrite(dir.File("text.txt").c_str());
        ASSERT_TRUE(in && text);
        EXPECT_TRUE(Encode3to4Stream(in, text));
        FileClose(in);
        ASSERT_TRUE(TextClose(text));
        std::string encoded = ReadWholeFile(dir.File("text.txt"));
        EXPECT_EQ(encoded, EncodeBytes(bytes)) << n;

        ByteFile* out = FileOpen(dir.File("out.bin").c_str(), BF_CREATE);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(Decode3to4Text((encoded + "\",\"").c_str(), out));
        FileClose(out);
        EXPECT_TRUE(ReadWholeFile(dir.File("out.bin")) == bytes) << n;
    }
}

}   // namespace
