// Packed decimal numbers: the 15-byte packed-BCD form that numeric Kcsv fields
// carry, and its order-preserving stored form (the key). All operations work in
// place on caller-supplied 15-byte buffers and never allocate.
//
// Byte layout of a PackedDecimal:
//   0      flags: DEC_PRECISION20 (20 significant digits, else 10), DEC_NEGATIVE
//   1      signed decimal exponent (-99..+99 for parsed values)
//   2      guard, 0 in every finished value (catches a rounding carry)
//   3..14  24 BCD digits, most significant first, high nibble before low nibble
// The value is d0.d1d2... x 10^exponent. A non-zero value has d0 != 0.
#pragma once
#include <cstdint>

const int DEC_SIZE = 15;
const int DEC_FLAGS = 0;   // byte positions
const int DEC_EXPONENT = 1;
const int DEC_GUARD = 2;
const int DEC_DIGITS = 3;
const int DEC_DIGIT_BYTES = 12;

const unsigned char DEC_PRECISION20 = 0x01;
const unsigned char DEC_NEGATIVE = 0x08;

// ParseDecimal results.
const uint16_t DEC_OK = 0;
const uint16_t DEC_NO_NUMBER = 1;   // no number at the start of the text
const uint16_t DEC_OVERFLOW = 2;    // exponent beyond +99
const uint16_t DEC_TRAILING = 3;    // characters left after the number

// FormatDecimal with places 0 never needs more than this, NUL included.
const int DEC_TEXT_MAX = 28;

struct PackedDecimal {
    unsigned char bytes[DEC_SIZE];
};

// The stored form occupies the same 15 bytes: EncodeDecimalKey and
// DecodeDecimalKey convert a buffer in place. Keys of the same precision compare
// with memcmp like the numbers, and no byte of a parsed number's key is 0x00.
typedef PackedDecimal DecimalKey;

// Zero: flags DEC_PRECISION20, exponent 0, guard 0, all digits 0.
void ClearDecimal(PackedDecimal* number);

// Parses NUL-terminated decimal text (blanks and control characters before it,
// sign, digits in which commas are skipped, fraction, exponent "E[+-]n") into a
// 20-digit number, rounded half up once from all the digits read. The buffer
// always holds a usable value, whatever the result: zero for DEC_NO_NUMBER, the
// number read so far for DEC_TRAILING, and the digits read with exponent 100
// for DEC_OVERFLOW (zero stays zero). Magnitudes below 1E-99 become zero.
uint16_t ParseDecimal(PackedDecimal* number, const char* text);

// Rounds half up to 20 or 10 digits (by the precision flag) and clears the
// digits beyond; a carry out of the first digit gives mantissa 1, exponent + 1.
void RoundToPrecision(PackedDecimal* number);

// Writes the number as NUL-terminated text and returns its length.
// places 0 (or less): all significant digits, fixed notation for exponents -2..9,
// otherwise scientific ("1.5E+12"); at most DEC_TEXT_MAX bytes.
// places p > 0: p decimal places (of the scientific mantissa outside -2..9),
// trailing zeros written; the buffer needs DEC_TEXT_MAX + p bytes (p is at
// most 1000; more counts as 1000).
int FormatDecimal(char* text, const PackedDecimal* number, int places);

// PackedDecimal -> DecimalKey, in place.
void EncodeDecimalKey(PackedDecimal* number);
// DecimalKey -> PackedDecimal, in place.
void DecodeDecimalKey(DecimalKey* key);

// -1, 0 or 1 as a is less than, equal to or greater than b (by value; the
// precision flag is not compared).
int CompareDecimal(const PackedDecimal* a, const PackedDecimal* b);
