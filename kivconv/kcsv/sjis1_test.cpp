#include "kcsv/field_codecs.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>
#include "kcsv/kcsv_test_util.h"

using kcsvtest::TakeBlock;

namespace {

// Converts from a buffer of exactly the text's size, so that the sanitizers
// see any read past the NUL; the conversion that writers use (on the stack
// for short texts) must give the same.
std::string Convert(const std::string& s, bool toPc)
{
    std::unique_ptr<char[]> exact(new char[s.size() + 1]);
    memcpy(exact.get(), s.c_str(), s.size() + 1);
    BlockHandle block = toPc ? Sjis1Decode(exact.get()) : Sjis1Encode(exact.get());
    bool none = !block;   // writers are then handed the text as it was
    std::string converted = TakeBlock(block);
    std::string handed;
    auto keep = [](const char* text, void* into) {
        *(std::string*)into = text;
        return true;
    };
    EXPECT_TRUE(WithSjis1Text(exact.get(), toPc, keep, &handed));
    EXPECT_EQ(none ? s : converted, handed) << "handed to a writer, " << s.size() << " bytes";
    return converted;
}
std::string Encode(const std::string& s) { return Convert(s, false); }
std::string Decode(const std::string& s) { return Convert(s, true); }

TEST(Sjis1, Examples)
{
    EXPECT_EQ(Encode("\x87\x40"), "\xED\x40");   // ①
    EXPECT_EQ(Encode("\x87\x60"), "\x81\x40");   // ㌔: no counterpart
    EXPECT_EQ(Encode("\x87\x81"
                     "\x87\x8A"),
              "\x81\xA1\x98\x73");   // 〝 becomes ■, ㈱
    EXPECT_EQ(Encode("a\nb\x88\x9F"), "a\x1F"
                                      "b\x88\x9F");              // 亜 stays
    EXPECT_EQ(Encode("\xFD\x41\x81\x0A"), "\xFD\x41\x81\x0A");   // 0xFD no lead; trail LF stays

    EXPECT_EQ(Decode("\xED\x40\xEC\xF9"), "\x87\x40\x87\x60");            // ① ㌔
    EXPECT_EQ(Decode("\xEB\xAE\xEC\x40\xEC\xAA"), "0\x82\x9F\xB6\xDE");   // 0 ぁ ｶﾞ
    EXPECT_EQ(Decode("\xFC\x40\xEB\x40\xFD\x41\x87\x40"), "\x81\xA1\x81\xA1\x81\xA1\x81\xA1");
    EXPECT_EQ(Decode("\x88\x9F\x1F\x07\xFD\x5C"), "\x88\x9F\x1F\x07\\");
    // Two single-byte results come out high byte first.
    EXPECT_EQ(Decode("\xFC\xC0\xEF\x40\xEF\x4B\xFC\xDC"), "AMmg  !!");

    std::string longText;   // 300 bytes in one call
    for (int i = 0; i < 100; i++)
        longText += "\xEC\xAA"
                    "a";
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

// Both ends of every row of the five maps (and a code inside some lists), and
// the codes right outside the rows that no other row takes: a range end or a
// list entry copied wrong, a row dropped or a range grown shows here. Many
// rows have no way back, which the round trip below cannot check.
TEST(Sjis1, EveryMapRowAtBothEnds)
{
    struct Pin {
        uint16_t code, expected;
    };
    struct Map {
        const CharMapEntry* map;
        std::vector<Pin> ends;
        std::vector<uint16_t> unmapped;
    } maps[] = {
        {PcExtMap,
         {{0x8740, 0xED40},
          {0x8753, 0xED53},
          {0x8754, 0xED5E},
          {0x875D, 0xED67},
          {0x875F, 0xECF7},
          {0x8775, 0xEF4A},
          {0x8780, 0x81A1},
          {0x8783, 0x81A1},
          {0x8784, 0x84EE},
          {0x878C, 0xED5B},
          {0x8770, 0xEF47}},
         {0x873F, 0x875E, 0x8776, 0x877F, 0x878D}},
        {HandheldKanaMap,
         {{0xEBAE, 0x30},   {0xEBB7, 0x39},   {0xEBBF, 0x41},   {0xEBD8, 0x5A},   {0xEBDF, 0x61},
          {0xEBF8, 0x7A},   {0xEC40, 0x829F}, {0xEC7E, 0x82DD}, {0xEC80, 0x82DE}, {0xEC93, 0x82F1},
          {0xEBD9, 0x81A6}, {0xEBDA, 0x8152}, {0xEBDD, 0x8155}, {0xEBF9, 0x81A7}, {0xEBFA, 0x8156},
          {0xEBFC, 0x8158}, {0xEC9F, 0xA7},   {0xECC7, 0xC4DE}, {0xECC8, 0xC5},   {0xECCC, 0xC9},
          {0xECCD, 0xCA},   {0xECDB, 0xCEDF}, {0xECDC, 0xCF},   {0xECE0, 0xD3},   {0xECE1, 0xAC},
          {0xECE6, 0xD6},   {0xECE7, 0xD7},   {0xECEB, 0xDB},   {0xECEC, 0x838E}, {0xECF5, 0xB0},
          {0xECF6, 0x8762}, {0xECFC, 0x876C}, {0xEB5B, 0x81A1}, {0xEB5E, 0x819B}},
         {0xEB5A, 0xEB5F, 0xEBAD, 0xEBB8, 0xEBBE, 0xEBDE, 0xEBFD, 0xEC3F, 0xEC7F, 0xEC94, 0xEC9E, 0xECFD}},
        {HandheldFcMap,
         {{0xFC5C, 0x5C},
          {0xFCAE, 0x8173},
          {0xFCAF, 0x8174},
          {0xFCC0, 0x414D},
          {0xFCC1, 0x504D},
          {0xFCC3, 0x8784},
          {0xFCCA, 0x5E},
          {0xFCCF, 0x5F},
          {0xFCDA, 0x817E},
          {0xFCF3, 0x8185},
          {0xFCF6, 0x8180},
          {0xFCFB, 0x81E3},
          {0xFCE4, 0x83B0}},
         {0xFC5B, 0xFC5D, 0xFCAD, 0xFCB0, 0xFCBF, 0xFCC2, 0xFCC4, 0xFCC9, 0xFCD0, 0xFCD9, 0xFCF4, 0xFCF5,
          0xFCF7, 0xFCFA, 0xFCFC}},
        {HandheldFdMap,
         {{0xFD5C, 0x5C},
          {0xFD80, 0x849F},
          {0xFD9F, 0xDC},
          {0xFDE0, 0x96BE},
          {0xFDE9, 0x93E0},
          {0xFDEB, 0x414D},
          {0xFDEC, 0x504D},
          {0xFDED, 0x81A7},
          {0xFDEE, 0x8784},
          {0xFD9D, 0x5C}},
         {0xFD5B, 0xFD5D, 0xFD7F, 0xFDA0, 0xFDDF, 0xFDEA, 0xFDEF}},
        {HandheldDbcsMap,
         {{0x84CF, 0x91E5}, {0x84EF, 0x8151}, {0x9873, 0x878A}, {0x9879, 0x8F40}, {0xED40, 0x8740},
          {0xED53, 0x8753}, {0xED54, 0x8785}, {0xED5D, 0x88F3}, {0xED5E, 0x8754}, {0xED67, 0x875D},
          {0xED68, 0x81A1}, {0xED75, 0x81A1}, {0xEF40, 0x6D67}, {0xEF4E, 0x487A}, {0xEF4F, 0x81A1},
          {0xEFF9, 0x81A1}, {0x8740, 0x81A1}, {0x879E, 0x81A1}, {0x879F, 0x81A1}, {0x87FC, 0x81A1},
          {0x8840, 0x81A1}, {0x889E, 0x81A1}, {0xED9F, 0x81A1}, {0xEDFC, 0x81A1}, {0xEE40, 0x81A1},
          {0xEE9E, 0x81A1}, {0xEE9F, 0x81A1}, {0xEEFC, 0x81A1}, {0x8240, 0x81A1}, {0x8241, 0x81A1},
          {0x84E2, 0x818F}, {0xED58, 0x91E5}},
         {0x823F, 0x8242, 0x84CE, 0x84F0, 0x873F, 0x87FD, 0x883F, 0x889F, 0x9872, 0x987A, 0xED3F, 0xED76,
          0xED9E, 0xEDFD, 0xEE3F, 0xEEFD, 0xEF3F, 0xEFFA}},
    };
    for (const Map& m : maps) {
        for (const Pin& p : m.ends)
            EXPECT_EQ(LookupCharMap(p.code, m.map), p.expected) << std::hex << p.code;
        for (uint16_t code : m.unmapped)
            EXPECT_EQ(LookupCharMap(code, m.map), 0) << std::hex << code;
    }
}

// Characters the two directions agree on survive the trip to the handheld and
// back: a row transcribed wrong on either side breaks this.
TEST(Sjis1, RoundTripOfCoveredText)
{
    std::vector<uint16_t> codes = {0x875F, 0x8761, 0x8762, 0x8763, 0x876C};   // units
    for (unsigned c = 0x8740; c <= 0x875D; c++)
        codes.push_back((uint16_t)c);   // ① .. ⑳, Ⅰ .. Ⅹ
    for (unsigned c = 0x8784; c <= 0x878C; c++)
        codes.push_back((uint16_t)c);   // ℡ ㊤ .. ㊨ ㈱ ㈲ ㈹
    const uint16_t plain[][2] = {{0x8140, 0x81FC}, {0x829F, 0x82F1}, {0x8340, 0x8396}, {0x889F, 0x9872},
                                 {0x989F, 0x9FFC}, {0xE040, 0xEAA4}, {0x20, 0x7E},     {0xA1, 0xDF}};
    for (const auto& r : plain)
        for (unsigned c = r[0]; c <= r[1]; c++)
            if (c < 0x100 || ((c & 0xFF) >= 0x40 && (c & 0xFF) != 0x7F))
                codes.push_back((uint16_t)c);

    std::mt19937 rng(932);
    for (int round = 0; round < 300; round++) {
        std::string text;   // up to 400 bytes: short texts and long ones convert alike
        for (int i = 1 + (int)(rng() % 200); i > 0; i--) {
            uint16_t c = codes[rng() % codes.size()];
            if (c > 0xFF)
                text += (char)(c >> 8);
            text += (char)c;
        }
        EXPECT_EQ(Decode(Encode(text)), text);
    }
}

}   // namespace
