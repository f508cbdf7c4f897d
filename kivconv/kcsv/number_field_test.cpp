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

TEST(NumberField, TwentyCharactersOfTheKey)
{
    TempDir dir;
    EXPECT_EQ(EncodeField(dir, "0"), kZeroField);
    EXPECT_EQ(EncodeField(dir, "abc"), kZeroField);        // no number: zero
    EXPECT_EQ(EncodeField(dir, nullptr), kZeroField);
    for (const char* text : {"", "1234.5", "-0.001", "1,234,567", "1E+100", "-1E-99", "12x"}) {
        std::string field = EncodeField(dir, text);
        ASSERT_EQ(field.size(), (size_t)NUMBER_FIELD_CHARS) << text;
        PackedDecimal expected;
        ParseDecimal(&expected, text);
        EncodeDecimalKey(&expected);
        unsigned char key[DEC_SIZE + 1];
        ASSERT_EQ(Decode3to4Bytes(field.c_str(), key, sizeof key), (size_t)DEC_SIZE);
        EXPECT_EQ(memcmp(key, expected.bytes, DEC_SIZE), 0) << text;
    }
}

TEST(NumberField, RoundTripToDecimalText)
{
    TempDir dir;
    const char* cases[][2] = {
        {"1234.5", "1234.5"}, {"0", "0"}, {"-0.001", "-1E-3"}, {"1000000000", "1000000000"},
        {"10000000000", "1E+10"}, {"0.01", "0.01"}, {"-0.5", "-0.5"},
        {"12345678901", "1.2345678901E+10"}, {"1.5E12", "1.5E+12"}, {"1,234,567", "1234567"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeField(EncodeField(dir, c[0])), c[1]) << c[0];
}

TEST(NumberField, DecodeOfValuesThatAreNoKey)
{
    EXPECT_EQ(DecodeField(kZeroField + "\",\"9"), "0");            // ends at its quote
    EXPECT_EQ(DecodeField(kZeroField + "789P"), "0");              // bytes past the key ignored
    EXPECT_EQ(DecodeField(kZeroField.substr(0, 19)), "unchanged"); // 14 bytes
    EXPECT_EQ(DecodeField("1:0QLLL0LLL0LL<0LLL0"), "unchanged");   // a group skipped
    EXPECT_EQ(DecodeField("1:0Qzzzzzzzzzzzzzzzz"), "unchanged");   // digits FF
    char text[4] = "abc";
    EXPECT_FALSE(DecodeNumberField(nullptr, text, sizeof text));
    EXPECT_STREQ(text, "abc");
    TempDir dir;
    EXPECT_TRUE(DecodeNumberField(EncodeField(dir, "-1234.5").c_str(), text, sizeof text));
    EXPECT_STREQ(text, "-12");                                       // cut, not overrun
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

} // namespace
