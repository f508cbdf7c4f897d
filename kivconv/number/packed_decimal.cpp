// Packed decimal numbers: parsing, rounding, formatting and the stored key.
#include "number/packed_decimal.h"
#include <cstring>

namespace {

const int kDigitCount = DEC_DIGIT_BYTES * 2;   // 24 nibbles
const int kParsePrecision = 20;                // the parser always keeps 20
const int kExponentMax = 99;
const int kExponentMin = -99;
const int kOverflowExponent = 100;   // what an overflowed parse keeps
const int kMaxPlaces = 1000;         // keeps the digit counts in range

int Exponent(const unsigned char* b) { return (signed char)b[DEC_EXPONENT]; }

void SetExponent(unsigned char* b, int exponent) { b[DEC_EXPONENT] = (unsigned char)exponent; }

int Digit(const unsigned char* b, int k)
{
    unsigned char v = b[DEC_DIGITS + k / 2];
    return (k & 1) ? (v & 0x0F) : (v >> 4);
}

void SetDigit(unsigned char* b, int k, int d)
{
    unsigned char& v = b[DEC_DIGITS + k / 2];
    v = (k & 1) ? (unsigned char)((v & 0xF0) | d) : (unsigned char)((v & 0x0F) | (d << 4));
}

bool DigitsAreZero(const unsigned char* b)
{
    for (int i = DEC_DIGITS; i < DEC_SIZE; i++)
        if (b[i])
            return false;
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The digits read so far with exponent 100: an overflowed value keeps its
// sign and lies beyond every in-range value of that sign, in the keys as well.
void MarkOverflow(PackedDecimal* number)
{
    RoundToPrecision(number);
    if (DigitsAreZero(number->bytes))
        ClearDecimal(number);
    else
        SetExponent(number->bytes, kOverflowExponent);
}

// Rounds the unpacked digits half up at position n (0..24) and zeroes the
// rest. True when the carry ran out of the first digit: the digits are then
// 1000... and the caller raises the exponent.
bool RoundDigits(int* d, int n)
{
    bool up = n < kDigitCount && d[n] >= 5;
    for (int k = n; k < kDigitCount; k++)
        d[k] = 0;
    if (!up)
        return false;
    for (int k = n - 1; k >= 0; k--) {
        if (++d[k] < 10)
            return false;
        d[k] = 0;
    }
    d[0] = 1;
    return true;
}

char* PutExponent(char* out, int exponent)
{
    *out++ = 'E';
    *out++ = exponent < 0 ? '-' : '+';
    unsigned magnitude = (unsigned)(exponent < 0 ? -exponent : exponent);
    char rev[4];
    int n = 0;
    do {
        rev[n++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude && n < 4);
    while (n)
        *out++ = rev[--n];
    return out;
}

char DigitChar(const int* d, int k) { return (char)('0' + (k < kDigitCount ? d[k] : 0)); }

// Writes count digits of d in fixed or scientific notation, the point after
// the exponent + 1 integer digits (fixed) or after the first digit.
char* PutDigits(char* out, const int* d, int count, int exponent, bool fixed)
{
    if (fixed && exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int k = 0; k < -exponent - 1; k++)
            *out++ = '0';
        for (int k = 0; k < count; k++)
            *out++ = DigitChar(d, k);
        return out;
    }
    int integerDigits = fixed ? exponent + 1 : 1;
    int total = count > integerDigits ? count : integerDigits;
    for (int k = 0; k < total; k++) {
        if (k == integerDigits)
            *out++ = '.';
        *out++ = k < count ? DigitChar(d, k) : '0';
    }
    if (!fixed)
        out = PutExponent(out, exponent);
    return out;
}

bool IsFixedRange(int exponent) { return exponent >= -2 && exponent <= 9; }

// A parse in progress, step by step: sign, integer part, fraction, exponent.
struct DecimalParse {
    PackedDecimal* number;
    const char* p;      // the next character
    int stored;         // digits kept in the nibbles
    int exponent;       // of the first significant digit; -1 before one is read
    bool significant;   // a non-zero digit was read
};

// Significant digits go into the nibbles; one digit past the precision is
// kept as well, so that RoundToPrecision rounds once from what was read.
void StoreDigit(DecimalParse& s, int d)
{
    if (s.stored <= kParsePrecision)
        SetDigit(s.number->bytes, s.stored++, d);
}

// Blanks and control characters, then a sign, which must be followed by a
// digit or the point. False when no number starts here.
bool ParseSign(DecimalParse& s)
{
    while (*s.p >= 1 && *s.p <= 32)
        s.p++;
    bool negative = false;
    if (*s.p == '-' || *s.p == '+') {
        if (!IsDigit(s.p[1]) && s.p[1] != '.')
            return false;
        negative = *s.p == '-';
        s.p++;
    } else if (!IsDigit(*s.p) && *s.p != '.') {
        return false;
    }
    if (negative)
        s.number->bytes[DEC_FLAGS] |= DEC_NEGATIVE;
    return true;
}

// The digits before the point, commas skipped; each significant digit raises
// the exponent. False when it passes kExponentMax.
bool ParseIntegerPart(DecimalParse& s)
{
    for (; IsDigit(*s.p) || *s.p == ','; s.p++) {
        if (*s.p == ',')
            continue;
        int d = *s.p - '0';
        if (d == 0 && !s.significant)
            continue;
        s.significant = true;
        StoreDigit(s, d);
        if (++s.exponent > kExponentMax)
            return false;
    }
    return true;
}

// The point and the digits after it, commas skipped as in the integer part;
// each zero before the first significant digit lowers the exponent.
void ParseFraction(DecimalParse& s)
{
    if (*s.p != '.')
        return;
    for (s.p++; IsDigit(*s.p) || *s.p == ','; s.p++) {
        if (*s.p == ',')
            continue;
        int d = *s.p - '0';
        if (d == 0 && !s.significant) {
            if (s.exponent > kExponentMin - 1)
                s.exponent--;
            continue;
        }
        s.significant = true;
        StoreDigit(s, d);
    }
}

// No digit, or a magnitude below 1E-99: zero (without a sign).
void ZeroIfTooSmall(DecimalParse& s)
{
    if (!s.significant || s.exponent < kExponentMin) {
        ClearDecimal(s.number);
        s.significant = false;
        s.exponent = 0;
    }
}

// "E" or "e", a sign, digits: moves the exponent. An "E" without digits is
// left unread. False when the exponent passes kExponentMax.
bool ParseExponent(DecimalParse& s)
{
    if (*s.p != 'E' && *s.p != 'e')
        return true;
    const char* q = s.p + 1;
    bool down = false;
    if (*q == '+' || *q == '-')
        down = *q++ == '-';
    if (!IsDigit(*q))
        return true;
    int value = 0;
    for (s.p = q; IsDigit(*s.p); s.p++) {
        if (value < 100000)
            value = value * 10 + (*s.p - '0');
        if (!down && s.exponent + value > kExponentMax)
            return false;
    }
    s.exponent = down ? s.exponent - value : s.exponent + value;
    ZeroIfTooSmall(s);
    return true;
}

// Sets the exponent and rounds once; what is left of the text is trailing.
uint16_t FinishParse(DecimalParse& s)
{
    if (s.significant) {
        SetExponent(s.number->bytes, s.exponent);
        RoundToPrecision(s.number);
        if (Exponent(s.number->bytes) > kExponentMax)
            return DEC_OVERFLOW;
    }
    return *s.p ? DEC_TRAILING : DEC_OK;
}

}   // namespace

void ClearDecimal(PackedDecimal* number)
{
    if (!number)
        return;
    memset(number->bytes, 0, DEC_SIZE);
    number->bytes[DEC_FLAGS] = DEC_PRECISION20;
}

uint16_t ParseDecimal(PackedDecimal* number, const char* text)
{
    if (!number)
        return DEC_NO_NUMBER;
    ClearDecimal(number);
    if (!text)
        return DEC_NO_NUMBER;
    DecimalParse s = {number, text, 0, -1, false};
    if (!ParseSign(s))
        return DEC_NO_NUMBER;
    if (!ParseIntegerPart(s)) {
        MarkOverflow(number);
        return DEC_OVERFLOW;
    }
    ParseFraction(s);
    ZeroIfTooSmall(s);
    if (!ParseExponent(s)) {
        MarkOverflow(number);
        return DEC_OVERFLOW;
    }
    return FinishParse(s);
}

void RoundToPrecision(PackedDecimal* number)
{
    if (!number)
        return;
    unsigned char* b = number->bytes;
    // The byte whose high nibble is the first dropped digit.
    int first = (b[DEC_FLAGS] & DEC_PRECISION20) ? DEC_DIGITS + 10 : DEC_DIGITS + 5;
    bool up = (b[first] >> 4) >= 5;
    for (int i = first; i < DEC_SIZE; i++)
        b[i] = 0;
    if (up) {
        for (int i = first - 1; i >= DEC_GUARD; i--) {
            if (i == DEC_GUARD) {
                b[i] = 1;
                break;
            }
            int v = b[i] + 1;
            if ((v & 0x0F) >= 0x0A)
                v += 6;
            if (v < 0x9A) {
                b[i] = (unsigned char)v;
                break;
            }
            b[i] = 0;
        }
    }
    if (b[DEC_GUARD]) {
        SetExponent(b, Exponent(b) + 1);
        b[DEC_GUARD] = 0;
        memset(b + DEC_DIGITS, 0, DEC_DIGIT_BYTES);
        b[DEC_DIGITS] = 0x10;
    }
}

int FormatDecimal(char* text, const PackedDecimal* number, int places)
{
    if (!text)
        return 0;
    if (!number) {
        text[0] = '\0';
        return 0;
    }
    const unsigned char* b = number->bytes;
    int d[kDigitCount];
    for (int k = 0; k < kDigitCount; k++)
        d[k] = Digit(b, k);
    int exponent = Exponent(b);
    bool negative = (b[DEC_FLAGS] & DEC_NEGATIVE) != 0;
    int precision = (b[DEC_FLAGS] & DEC_PRECISION20) ? 20 : 10;

    char* out = text;
    if (places <= 0) {
        if (RoundDigits(d, precision))
            exponent++;
        int count = precision;
        while (count > 0 && d[count - 1] == 0)
            count--;
        if (count == 0) {
            *out++ = '0';
        } else {
            if (negative)
                *out++ = '-';
            out = PutDigits(out, d, count, exponent, IsFixedRange(exponent));
        }
    } else {
        if (places > kMaxPlaces)
            places = kMaxPlaces;
        bool fixed = IsFixedRange(exponent);
        int count = fixed ? exponent + places + 1 : places + 1;
        // Digits past the number's precision are not significant: they are
        // written as zeros rather than rounded in.
        if (RoundDigits(d, count < precision ? count : precision)) {
            exponent++;
            fixed = IsFixedRange(exponent);
            count = fixed ? exponent + places + 1 : places + 1;
        }
        bool zero = true;
        for (int k = 0; k < count && k < kDigitCount; k++)
            if (d[k])
                zero = false;
        if (zero) {
            // Nothing to show but zeros: 0.00..., without a sign.
            *out++ = '0';
            *out++ = '.';
            for (int k = 0; k < places; k++)
                *out++ = '0';
        } else {
            if (negative)
                *out++ = '-';
            out = PutDigits(out, d, count, exponent, fixed);
        }
    }
    *out = '\0';
    return (int)(out - text);
}

void EncodeDecimalKey(PackedDecimal* number)
{
    if (!number)
        return;
    unsigned char* b = number->bytes;
    if (b[DEC_FLAGS] & DEC_NEGATIVE) {
        // Larger magnitudes must sort lower: mirror exponent and digits.
        b[DEC_EXPONENT] = (unsigned char)(105 - Exponent(b));
        for (int i = DEC_DIGITS; i < DEC_SIZE; i++)
            b[i] = (unsigned char)(0xAA - b[i]);
    } else {
        b[DEC_FLAGS] |= DigitsAreZero(b) ? 0x40 : 0x80;
        b[DEC_EXPONENT] = (unsigned char)(b[DEC_EXPONENT] + 100);
        for (int i = DEC_DIGITS; i < DEC_SIZE; i++)
            b[i] = (unsigned char)(b[i] + 0x11);
    }
    b[DEC_GUARD] |= 0x80;
}

void DecodeDecimalKey(DecimalKey* key)
{
    if (!key)
        return;
    unsigned char* b = key->bytes;
    if (b[DEC_FLAGS] & DEC_NEGATIVE) {
        b[DEC_EXPONENT] = (unsigned char)(105 - b[DEC_EXPONENT]);
        for (int i = DEC_DIGITS; i < DEC_SIZE; i++)
            b[i] = (unsigned char)(0xAA - b[i]);
    } else {
        b[DEC_FLAGS] &= 0x3F;
        b[DEC_EXPONENT] = (unsigned char)(b[DEC_EXPONENT] - 100);
        for (int i = DEC_DIGITS; i < DEC_SIZE; i++)
            b[i] = (unsigned char)(b[i] - 0x11);
    }
    b[DEC_GUARD] = 0;
}

int CompareDecimal(const PackedDecimal* a, const PackedDecimal* b)
{
    if (!a || !b)
        return a ? 1 : (b ? -1 : 0);
    const unsigned char* x = a->bytes;
    const unsigned char* y = b->bytes;
    bool xNeg = (x[DEC_FLAGS] & DEC_NEGATIVE) != 0;
    bool yNeg = (y[DEC_FLAGS] & DEC_NEGATIVE) != 0;
    if (xNeg != yNeg)
        return xNeg ? -1 : 1;

    int magnitude = 0;
    bool xZero = DigitsAreZero(x);
    bool yZero = DigitsAreZero(y);
    if (xZero || yZero) {
        magnitude = xZero == yZero ? 0 : (xZero ? -1 : 1);
    } else if (Exponent(x) != Exponent(y)) {
        magnitude = Exponent(x) < Exponent(y) ? -1 : 1;
    } else {
        int c = memcmp(x + DEC_DIGITS, y + DEC_DIGITS, DEC_DIGIT_BYTES);
        magnitude = c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return xNeg ? -magnitude : magnitude;
}
