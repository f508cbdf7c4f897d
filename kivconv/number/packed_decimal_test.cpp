#include "number/packed_decimal.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

std::string Format(const PackedDecimal& n, int places = 0)
{
    char text[64];
    int length = FormatDecimal(text, &n, places);
    EXPECT_EQ(length, (int)strlen(text));
    return text;
}

PackedDecimal Parse(const char* text, uint16_t* result = nullptr)
{
    PackedDecimal n;
    uint16_t r = ParseDecimal(&n, text);
    if (result)
        *result = r;
    return n;
}

// A number built from its parts, independent of the parser.
PackedDecimal Make(bool negative, int exponent, const char* digits, bool twenty = true)
{
    PackedDecimal n;
    memset(&n, 0, sizeof n);
    n.bytes[DEC_FLAGS] = (twenty ? DEC_PRECISION20 : 0) | (negative ? DEC_NEGATIVE : 0);
    n.bytes[DEC_EXPONENT] = (unsigned char)exponent;
    for (int k = 0; digits[k]; k++)
        n.bytes[DEC_DIGITS + k / 2] |= (digits[k] - '0') << (k % 2 ? 0 : 4);
    return n;
}

bool Same(const PackedDecimal& a, const PackedDecimal& b) { return memcmp(&a, &b, DEC_SIZE) == 0; }

TEST(ParseDecimal, ResultCodesAndValues)
{
    struct Case {
        const char* text;
        uint16_t result;
        const char* formatted;
    } cases[] = {
        {"", DEC_NO_NUMBER, "0"},
        {"abc", DEC_NO_NUMBER, "0"},
        {" \t-12", DEC_OK, "-12"},
        {"- 12", DEC_NO_NUMBER, "0"},
        {"1,234,567", DEC_OK, "1234567"},
        {",5", DEC_NO_NUMBER, "0"},
        {".5", DEC_OK, "0.5"},
        {"-.5", DEC_OK, "-0.5"},
        {"-0", DEC_OK, "0"},
        {"0.000", DEC_OK, "0"},
        {"0012.50", DEC_OK, "12.5"},
        {"0.00123", DEC_OK, "1.23E-3"},
        {"1.5e3", DEC_OK, "1500"},
        {"25E-1", DEC_OK, "2.5"},
        {"1E", DEC_TRAILING, "1"},
        {"7e-", DEC_TRAILING, "7"},
        {"12abc", DEC_TRAILING, "12"},
        {"3.5.1", DEC_TRAILING, "3.5"},
        {"1E99", DEC_OK, "1E+99"},
        {"1E100", DEC_OVERFLOW, "1E+100"},
        {"5E-99", DEC_OK, "5E-99"},
        {"5E-100", DEC_OK, "0"},
        {"1E-1000", DEC_OK, "0"},
        {"0E500", DEC_OVERFLOW, "0"},
        {"999999999999999999999", DEC_OK, "1E+21"},
        {"12345678901234567890123", DEC_OK, "1.234567890123456789E+22"},
    };
    for (const Case& c : cases) {
        uint16_t result;
        PackedDecimal n = Parse(c.text, &result);
        EXPECT_EQ(result, c.result) << c.text;
        EXPECT_EQ(Format(n), c.formatted) << c.text;
    }
    // A 101-digit integer overflows while it is read.
    uint16_t result;
    EXPECT_EQ(Format(Parse(("1" + std::string(100, '0')).c_str(), &result)), "1E+100");
    EXPECT_EQ(result, DEC_OVERFLOW);
}

TEST(ParseDecimal, StoresOnceRoundedBcd)
{
    PackedDecimal zero;
    ClearDecimal(&zero);
    EXPECT_TRUE(Same(Parse("-0.0"), zero));
    EXPECT_EQ(zero.bytes[DEC_FLAGS], 0x01);
    EXPECT_TRUE(Same(Parse("123"), Make(false, 2, "123")));
    EXPECT_TRUE(Same(Parse("-0.045"), Make(true, -2, "45")));
    // Rounding to 24 digits first would turn ...4999|5 into ...5000 and then up.
    EXPECT_TRUE(Same(Parse("1234567890123456789049995"), Make(false, 24, "12345678901234567890")));
    EXPECT_TRUE(Same(Parse("1234567890123456789050000"), Make(false, 24, "12345678901234567891")));
    EXPECT_TRUE(Same(Parse("-0.99999999999999999999500"), Make(true, 0, "1")));
}

TEST(RoundToPrecision, TenAndTwentyDigits)
{
    PackedDecimal n = Make(false, 3, "123456789050", false);
    RoundToPrecision(&n);
    EXPECT_TRUE(Same(n, Make(false, 3, "1234567891", false)));
    n = Make(false, 3, "999999999949", false);
    RoundToPrecision(&n);
    EXPECT_TRUE(Same(n, Make(false, 3, "9999999999", false)));
    n = Make(true, -7, "999999999999999999995");
    RoundToPrecision(&n);
    EXPECT_TRUE(Same(n, Make(true, -6, "1")));
}

TEST(FormatDecimal, PlacesZero)
{
    EXPECT_EQ(Format(Make(false, 2, "12345")), "123.45");
    EXPECT_EQ(Format(Make(false, 9, "1")), "1000000000");
    EXPECT_EQ(Format(Make(false, 10, "1")), "1E+10");
    EXPECT_EQ(Format(Make(false, -2, "1")), "0.01");
    EXPECT_EQ(Format(Make(false, -3, "1")), "1E-3");
    EXPECT_EQ(Format(Make(true, -1, "5")), "-0.5");
    EXPECT_EQ(Format(Make(false, 10, "12345678901")), "1.2345678901E+10");
    EXPECT_EQ(Format(Make(false, 12, "15")), "1.5E+12");
    EXPECT_EQ(Format(Make(true, -99, "12345678901234567891")), "-1.2345678901234567891E-99");
    // Ten-digit numbers show ten digits, rounded.
    EXPECT_EQ(Format(Make(false, 10, "12345678951", false)), "1.234567895E+10");
    EXPECT_EQ(Format(Make(false, 4, "99999999995", false)), "100000");
}

TEST(FormatDecimal, FixedPlaces)
{
    EXPECT_EQ(Format(Make(false, 2, "12345"), 1), "123.5");
    EXPECT_EQ(Format(Make(true, -2, "125"), 2), "-0.01");
    EXPECT_EQ(Format(Make(false, -2, "5"), 1), "0.1");
    EXPECT_EQ(Format(Make(true, -2, "4"), 1), "0.0");
    EXPECT_EQ(Format(Make(false, 9, "99999999996"), 1), "9999999999.6");
    EXPECT_EQ(Format(Make(false, 9, "999999999996"), 1), "1.0E+10");
    EXPECT_EQ(Format(Make(false, 12, "15"), 2), "1.50E+12");
    EXPECT_EQ(Format(Make(false, -3, "96"), 1), "9.6E-3");
    // Rounding carries 0.00996 into the fixed range, where one place shows 0.0.
    EXPECT_EQ(Format(Make(true, -3, "996"), 1), "0.0");
    PackedDecimal zero;
    ClearDecimal(&zero);
    EXPECT_EQ(Format(zero, 2), "0.00");
}

TEST(DecimalKey, ZeroAndSmallIntegers)
{
    PackedDecimal n;
    ClearDecimal(&n);
    EncodeDecimalKey(&n);
    const unsigned char zeroKey[DEC_SIZE] = {0x41, 0x64, 0x80, 0x11, 0x11, 0x11, 0x11, 0x11,
                                             0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11};
    EXPECT_EQ(memcmp(n.bytes, zeroKey, DEC_SIZE), 0);
    DecodeDecimalKey(&n);
    EXPECT_EQ(n.bytes[DEC_FLAGS], 0x01);
    EXPECT_EQ(n.bytes[DEC_EXPONENT], 0);

    const char* ascending[] = {"-2", "-1", "0", "1", "2"};
    DecimalKey keys[5];
    for (int i = 0; i < 5; i++) {
        keys[i] = Parse(ascending[i]);
        EncodeDecimalKey(&keys[i]);
    }
    EXPECT_EQ(keys[1].bytes[DEC_FLAGS], 0x09);
    EXPECT_EQ(keys[3].bytes[DEC_FLAGS], 0x81);
    for (int i = 0; i + 1 < 5; i++)
        EXPECT_LT(memcmp(keys[i].bytes, keys[i + 1].bytes, DEC_SIZE), 0) << ascending[i];
}

// Random decimal text of up to 15 significant digits, so that strtod orders
// the values exactly and serves as the reference.
std::string RandomNumber(std::mt19937& rng, int maxDigits = 15)
{
    std::string s = rng() % 2 ? "-" : "";
    int digits = 1 + rng() % maxDigits;
    for (int i = 0; i < digits; i++)
        s += (char)('0' + rng() % 10);
    if (rng() % 2)
        s.insert(s.size() - rng() % digits, ".");
    return s + "E" + std::to_string((int)(rng() % 181) - 90);
}

TEST(DecimalKey, RandomRoundTripsAndOrder)
{
    std::mt19937 rng(1234);
    for (int i = 0; i < 20000; i++) {
        std::string ta = RandomNumber(rng, i % 2 ? 15 : 30), tb = RandomNumber(rng);
        PackedDecimal a = Parse(ta.c_str()), b = Parse(tb.c_str());
        // The text written for a number parses back to the same number.
        EXPECT_TRUE(Same(Parse(Format(a).c_str()), a)) << ta;

        DecimalKey ka = a, kb = b;
        EncodeDecimalKey(&ka);
        EncodeDecimalKey(&kb);
        EXPECT_EQ(memchr(ka.bytes, 0, DEC_SIZE), nullptr) << ta;
        int keyOrder = memcmp(ka.bytes, kb.bytes, DEC_SIZE);
        int order = CompareDecimal(&a, &b);
        EXPECT_EQ((keyOrder > 0) - (keyOrder < 0), order) << ta << " " << tb;
        if (i % 2 == 0) {
            double x = strtod(ta.c_str(), nullptr), y = strtod(tb.c_str(), nullptr);
            auto inRange = [](double v) { return v == 0 || (std::abs(v) >= 1e-99 && std::abs(v) < 1e100); };
            if (inRange(x) && inRange(y)) {
                EXPECT_EQ(order, (x > y) - (x < y)) << ta << " " << tb;
            }
        }
        DecodeDecimalKey(&ka);
        EXPECT_TRUE(Same(ka, a)) << ta;
    }
}

}   // namespace
