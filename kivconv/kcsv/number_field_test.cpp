#include "kcsv/field_codecs.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "kcsv/kcsv_test_util.h"
#include "number/packed_decimal.h"

using namespace kcsvtest;

namespace {

const std::string kZeroField = "1:0QLLL0LLL0LLL0LLL0";   // key 41 64 80, twelve 11s

std::string EncodeField(const TempDir& dir, const char* text)
{
    std::string path = dir.File("field.txt");
    TextStream* out = TextOpenWrite(path.c_str());
    EXPECT_TRUE(EncodeNumberField(text, out));
    EXPECT_TRUE(TextClose(out));
    return ReadWholeFile(path);
}

std::string DecodeField(const std::string& value)
{
    char text[DEC_TEXT_MAX] = "unchanged";
    bool ok = DecodeNumberField(value.c_str(), text, sizeof text);
    EXPECT_EQ(ok, strcmp(text, "unchanged") != 0) << value;
    return text;
}

// The key's 15 bytes as 3TO4 text, worked out by hand from the key format:
// flags, exponent, guard, then the digits (each byte + 0x11 for a positive
// number, 0xAA - byte for a negative one).
TEST(NumberField, TwentyCharactersOfTheKey)
{
    TempDir dir;
    const char* cases[][2] = {
        {"0", kZeroField.c_str()},
        {"abc", kZeroField.c_str()},   // no number: zero
        {"", kZeroField.c_str()},
        {"1234.5", "1b0a9575LLL0LLL0LLL0"},      // 81 67 80 23 45 61 11 ..
        {"-0.001", "Dg0AUeeeeeeeeeeeeeee"},      // 09 6C 80 9A AA ..
        {"-1E-99", "DG0IUeeeeeeeeeeeeeee"},      // 09 CC 80 9A AA ..
        {"1,234,567", "1e0a95b51LL6LLL0LLL0"},   // 81 6A 80 23 45 67 81 11 ..
        {"1E+100", "1C0i7LL0LLL0LLL0LLL0"},      // 81 C8 80 21 11 ..: overflow keeps exponent 100
        {"12x", "1;0a9LL0LLL0LLL0LLL0"},         // 81 65 80 23 11 ..: the number before the rest
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeField(dir, c[0]), c[1]) << c[0];
    EXPECT_EQ(EncodeField(dir, nullptr), kZeroField);
}

TEST(NumberField, RoundTripToDecimalText)
{
    TempDir dir;
    const char* cases[][2] = {
        {"1234.5", "1234.5"},     {"0", "0"},
        {"-0.001", "-1E-3"},      {"1000000000", "1000000000"},
        {"10000000000", "1E+10"}, {"0.01", "0.01"},
        {"-0.5", "-0.5"},         {"12345678901", "1.2345678901E+10"},
        {"1.5E12", "1.5E+12"},    {"1,234,567", "1234567"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeField(EncodeField(dir, c[0])), c[1]) << c[0];
}

TEST(NumberField, DecodeOfValuesThatAreNoKey)
{
    EXPECT_EQ(DecodeField(kZeroField + "\",\"9"), "0");              // ends at its quote
    EXPECT_EQ(DecodeField(kZeroField + "789P"), "0");                // bytes past the key ignored
    EXPECT_EQ(DecodeField(kZeroField.substr(0, 19)), "unchanged");   // 14 bytes
    EXPECT_EQ(DecodeField("1:0QLLL0LLL0LL<0LLL0"), "unchanged");     // a group skipped
    EXPECT_EQ(DecodeField("1:0Qzzzzzzzzzzzzzzzz"), "unchanged");     // digits FF
    char text[4] = "abc";
    EXPECT_FALSE(DecodeNumberField(nullptr, text, sizeof text));
    EXPECT_STREQ(text, "abc");
    TempDir dir;
    EXPECT_TRUE(DecodeNumberField(EncodeField(dir, "-1234.5").c_str(), text, sizeof text));
    EXPECT_STREQ(text, "-12");   // cut, not overrun
}

// No file appears in the current directory, and a directory squatting on the
// old scratch name "~pdbl~.$_$" does not stop numbers.
TEST(NumberField, NoScratchFile)
{
    TempDir dir, work;
    fs::path old = fs::current_path();
    fs::current_path(work.path);
    EXPECT_EQ(DecodeField(EncodeField(dir, "42")), "42");
    EXPECT_TRUE(fs::is_empty(work.path));
    fs::create_directory(work.path / "~pdbl~.$_$");
    EXPECT_EQ(DecodeField(EncodeField(dir, "-42.5")), "-42.5");
    fs::current_path(old);
}

}   // namespace
