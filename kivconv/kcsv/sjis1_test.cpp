#include "kcsv/field_codecs.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include "kcsv/kcsv_test_util.h"

using kcsvtest::TakeBlock;

namespace {

// Converts from a buffer of exactly the text's size, so that the sanitizers
// see any read past the NUL.
std::string Convert(const std::string& s, bool toPc)
{
    std::unique_ptr<char[]> exact(new char[s.size() + 1]);
    memcpy(exact.get(), s.c_str(), s.size() + 1);
    return TakeBlock(toPc ? Sjis1Decode(exact.get()) : Sjis1Encode(exact.get()));
}
std::string Encode(const std::string& s) { return Convert(s, false); }
std::string Decode(const std::string& s) { return Convert(s, true); }

TEST(Sjis1, Examples)
{
    EXPECT_EQ(Encode("\x87\x40"), "\xED\x40");               // ①
    EXPECT_EQ(Encode("\x87\x60"), "\x81\x40");               // ㌔: no counterpart
    EXPECT_EQ(Encode("\x87\x81" "\x87\x8A"), "\x81\xA1\x98\x73");  // 〝 becomes ■, ㈱
    EXPECT_EQ(Encode("a\nb\x88\x9F"), "a\x1F" "b\x88\x9F");  // 亜 stays
    EXPECT_EQ(Encode("\xFD\x41\x81\x0A"), "\xFD\x41\x81\x0A"); // 0xFD no lead; trail LF stays

    EXPECT_EQ(Decode("\xED\x40\xEC\xF9"), "\x87\x40\x87\x60"); // ① ㌔
    EXPECT_EQ(Decode("\xEB\xAE\xEC\x40\xEC\xAA"), "0\x82\x9F\xB6\xDE");  // 0 ぁ ｶﾞ
    EXPECT_EQ(Decode("\xFC\x40\xEB\x40\xFD\x41\x87\x40"), "\x81\xA1\x81\xA1\x81\xA1\x81\xA1");
    EXPECT_EQ(Decode("\x88\x9F\x1F\x07\xFD\x5C"), "\x88\x9F\x1F\x07\\");
    // Two single-byte results come out high byte first.
    EXPECT_EQ(Decode("\xFC\xC0\xEF\x40\xEF\x4B\xFC\xDC"), "AMmg  !!");

    std::string longText;                                   // 300 bytes in one call
    for (int i = 0; i < 100; i++)
        longText += "\xEC\xAA" "a";
    EXPECT_EQ(Decode(longText).size(), 300u);

    EXPECT_EQ(Sjis1Encode(nullptr), nullptr);
    EXPECT_EQ(Sjis1Decode(nullptr), nullptr);
    EXPECT_EQ(Sjis1Encode(""), nullptr);
    EXPECT_EQ(Sjis1Decode(""), nullptr);
}

// A lead byte right before the NUL is dropped, and nothing past the NUL is read.
TEST(Sjis1, LoneLeadByteAtTheEnd)
{
    EXPECT_EQ(Encode("ab\x81"), "ab");
    EXPECT_EQ(Encode("\x87"), "");
    EXPECT_EQ(Decode("ab\xFC"), "ab");
    EXPECT_EQ(Decode("\x87\x40\xFD"), "\x81\xA1");
    EXPECT_EQ(Decode("x\xEB"), "x");
}

// Rows with no way back, which the round trip below cannot check.
TEST(Sjis1, OneWayMapRows)
{
    struct Row {
        const CharMapEntry* map;
        uint16_t code, expected;
    } rows[] = {
        {PcExtMap, 0x8770, 0xEF47}, {PcExtMap, 0x8783, 0x81A1}, {PcExtMap, 0x878D, 0},
        {HandheldKanaMap, 0xEBF8, 0x7A}, {HandheldKanaMap, 0xEC93, 0x82F1}, {HandheldKanaMap, 0xEBFC, 0x8158},
        {HandheldKanaMap, 0xECC7, 0xC4DE}, {HandheldKanaMap, 0xECDB, 0xCEDF}, {HandheldKanaMap, 0xECF5, 0xB0},
        {HandheldKanaMap, 0xEB5E, 0x819B}, {HandheldFcMap, 0xFCAF, 0x8174}, {HandheldFcMap, 0xFCE4, 0x83B0},
        {HandheldFcMap, 0xFCFB, 0x81E3}, {HandheldFdMap, 0xFD9D, 0x5C}, {HandheldFdMap, 0xFDE9, 0x93E0},
        {HandheldFdMap, 0xFDEE, 0x8784}, {HandheldDbcsMap, 0x84E2, 0x818F}, {HandheldDbcsMap, 0xED58, 0x91E5},
        {HandheldDbcsMap, 0xEF4E, 0x487A}, {HandheldDbcsMap, 0xEEFC, 0x81A1}, {HandheldDbcsMap, 0x8242, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(LookupCharMap(r.code, r.map), r.expected) << std::hex << r.code;
}

// Characters the two directions agree on survive the trip to the handheld and
// back: a row transcribed wrong on either side breaks this.
TEST(Sjis1, RoundTripOfCoveredText)
{
    std::vector<uint16_t> codes = {0x875F, 0x8761, 0x8762, 0x8763, 0x876C};   // units
    for (unsigned c = 0x8740; c <= 0x875D; c++)
        codes.push_back((uint16_t)c);                       // ① .. ⑳, Ⅰ .. Ⅹ
    for (unsigned c = 0x8784; c <= 0x878C; c++)
        codes.push_back((uint16_t)c);                       // ℡ ㊤ .. ㊨ ㈱ ㈲ ㈹
    const uint16_t plain[][2] = {{0x8140, 0x81FC}, {0x829F, 0x82F1}, {0x8340, 0x8396},
                                 {0x889F, 0x9872}, {0x989F, 0x9FFC}, {0xE040, 0xEAA4},
                                 {0x20, 0x7E}, {0xA1, 0xDF}};
    for (const auto& r : plain)
        for (unsigned c = r[0]; c <= r[1]; c++)
            if (c < 0x100 || ((c & 0xFF) >= 0x40 && (c & 0xFF) != 0x7F))
                codes.push_back((uint16_t)c);

    std::mt19937 rng(932);
    for (int round = 0; round < 300; round++) {
        std::string text;
        for (int i = 1 + (int)(rng() % 40); i > 0; i--) {
            uint16_t c = codes[rng() % codes.size()];
            if (c > 0xFF)
                text += (char)(c >> 8);
            text += (char)c;
        }
        EXPECT_EQ(Decode(Encode(text)), text);
    }
}

} // namespace
