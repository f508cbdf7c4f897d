// Number fields: a decimal value as the 3TO4 text of its 15-byte key. The key
// is encoded and decoded in memory; no scratch file is involved, so two
// conversions may run side by side in one directory.
#include <cstring>
#include "kcsv/field_codecs.h"
#include "number/packed_decimal.h"

static_assert(Encoded3to4Length(DEC_SIZE) == NUMBER_FIELD_CHARS, "a key is five full groups");

namespace {

// A decoded key holds BCD digits only; anything else did not come from a key.
bool HoldsDigits(const PackedDecimal& number)
{
    for (int i = DEC_DIGITS; i < DEC_SIZE; i++) {
        unsigned char b = number.bytes[i];
        if ((b >> 4) > 9 || (b & 0x0F) > 9)
            return false;
    }
    return true;
}

}   // namespace

bool EncodeNumberField(const char* text, TextStream* output)
{
    PackedDecimal number;
    ParseDecimal(&number, text ? text : "");
    EncodeDecimalKey(&number);
    char chars[NUMBER_FIELD_CHARS];
    size_t n = Encode3to4Bytes(number.bytes, DEC_SIZE, chars);
    return TextWrite(output, chars, n);
}

bool DecodeNumberField(const char* value, char* text, size_t textSize)
{
    if (!value || !text || textSize == 0)
        return false;
    DecimalKey key;
    if (Decode3to4Bytes(value, key.bytes, DEC_SIZE) != DEC_SIZE)
        return false;
    DecodeDecimalKey(&key);
    if (!HoldsDigits(key))
        return false;
    char formatted[DEC_TEXT_MAX + 16];
    FormatDecimal(formatted, &key, 0);
    formatted[sizeof formatted - 1] = '\0';
    size_t n = strlen(formatted);
    if (n >= textSize)
        n = textSize - 1;
    memcpy(text, formatted, n);
    text[n] = '\0';
    return true;
}
