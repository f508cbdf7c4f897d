#include "table_cells.h"
#include <cstdlib>
#include <cstring>
#include "cp932_chars.h"
#include "cp932_text.h"
#include "kcsv/field_codecs.h"
#include "kcsv/leadbyte.h"
#include "kcsv_slots.h"
#include "sjis1_chars.h"
#include "number/packed_decimal.h"

namespace {

bool IsAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

// Sjis1Decode (toPc) or Sjis1Encode of text, or text itself when the
// conversion gives nothing.
std::string Sjis1(const std::string& text, bool toPc)
{
    std::string out;
    if (!text.empty() && Sjis1ByTable(text, toPc, &out))
        return out;
    auto take = [](const char* converted, void* result) {
        *(std::string*)result = converted;
        return true;
    };
    if (text.empty() || !WithSjis1Text(text.c_str(), toPc, take, &out))
        return text;
    return out;
}

// The formatter's scientific form ("1.5E+12", "1E-3") written out as a plain
// decimal with every digit: the exponent moves the point.
std::string PlainDecimal(const std::string& text)
{
    size_t e = text.find('E');
    if (e == std::string::npos)
        return text;
    bool negative = text[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < e; i++)
        if (text[i] != '.')
            digits += text[i];
    long exponent = strtol(text.c_str() + e + 1, nullptr, 10);
    std::string plain;
    if (exponent >= 0) {
        if (digits.size() < (size_t)exponent + 1)
            digits.append(exponent + 1 - digits.size(), '0');
        plain = digits.substr(0, exponent + 1);
        if (digits.size() > (size_t)exponent + 1)
            plain += "." + digits.substr(exponent + 1);
    } else {
        plain = "0." + std::string(-exponent - 1, '0') + digits;
    }
    return (negative ? "-" : "") + plain;
}

}   // namespace

std::string Cp932ToUtf8Lenient(const std::string& cp932)
{
    std::string utf8, ignored;
    if (IsAscii(cp932))
        return cp932;
    if (Cp932ToUtf8ByTable(cp932, &utf8))
        return utf8;
    utf8.clear();
    if (Cp932ToUtf8(cp932, "", &utf8, &ignored))
        return utf8;
    // Character by character: only the one that has no form is replaced.
    utf8.clear();
    for (size_t i = 0; i < cp932.size();) {
        size_t n = IsLeadByte932((unsigned char)cp932[i]) && i + 1 < cp932.size() ? 2 : 1;
        std::string one;
        utf8 += Cp932ToUtf8(cp932.substr(i, n), "", &one, &ignored) ? one : "\xEF\xBF\xBD";
        i += n;
    }
    return utf8;
}

std::string TextCell(const std::string& value) { return Cp932ToUtf8Lenient(Sjis1(value, true)); }

bool TextSlot(const std::string& cell, std::string* slot)
{
    std::string cp932, ignored;
    if (IsAscii(cell))
        cp932 = cell;
    else if (cell.compare(0, 3, "\xEF\xBB\xBF") == 0 || !Utf8ToCp932ByTable(cell, &cp932))
        if (!Utf8ToCp932(cell, "", &cp932, &ignored))   // also takes a leading byte-order mark off
            return false;
    *slot = QuoteSlot(Sjis1(cp932, false));
    return true;
}

bool TextCellRebuilds(const std::string& value, std::string_view slot, std::string* cell, std::string* room)
{
    std::string& cp932 = *room;
    bool encodesBack = false, roundTrips = true;
    if (value.empty() || !Sjis1DecodeByTable(value, &cp932, &encodesBack)) {
        cp932 = Sjis1(value, true);
        encodesBack = false;
    }
    cell->clear();
    if (IsAscii(cp932))
        *cell = cp932;
    else if (!Cp932ToUtf8ByTable(cp932, cell, &roundTrips)) {
        *cell = Cp932ToUtf8Lenient(cp932);
        roundTrips = false;   // a character iconv had to answer for
    }
    // When every character comes back, the cell in code page 932 is cp932;
    // a leading byte-order mark would not come back, as TextSlot drops it.
    std::string canonical;
    if (!roundTrips || cell->compare(0, 3, "\xEF\xBB\xBF") == 0)
        return TextSlot(*cell, &canonical) && canonical == slot;
    return IsQuotedSlotOf(slot, encodesBack ? value : Sjis1(cp932, false));
}

bool DecodedNumber(const char* value, char* text)
{
    // Used on the main thread only, as the conversions are.
    static std::string lastValue;
    static char lastText[DEC_TEXT_MAX];
    static bool lastOk = false, kept = false;
    if (!kept || lastValue != value) {
        lastValue = value;
        lastOk = DecodeNumberField(value, lastText, sizeof lastText);
        kept = true;
    }
    memcpy(text, lastText, sizeof lastText);
    return lastOk;
}

std::string NumberCell(const std::string& value)
{
    char text[DEC_TEXT_MAX];
    return DecodedNumber(value.c_str(), text) ? PlainDecimal(text) : std::string();
}

namespace {

// The key's text of the number cell reads as; its length.
size_t NumberKeyText(const std::string& cell, char* chars)
{
    PackedDecimal number;
    ParseDecimal(&number, cell.c_str());
    EncodeDecimalKey(&number);
    return Encode3to4Bytes(number.bytes, DEC_SIZE, chars);
}

}   // namespace

bool IsNumberSlotOf(std::string_view slot, const std::string& cell)
{
    if (cell.empty())
        return slot.empty();
    char chars[NUMBER_FIELD_CHARS];
    size_t n = NumberKeyText(cell, chars);
    return slot.size() == n + 2 && slot.front() == '"' && slot.back() == '"' &&
           memcmp(slot.data() + 1, chars, n) == 0;
}

std::string NumberSlot(const std::string& cell)
{
    if (cell.empty())
        return cell;
    char chars[NUMBER_FIELD_CHARS];
    size_t n = NumberKeyText(cell, chars);
    std::string slot;
    slot.reserve(n + 2);
    slot.push_back('"');
    slot.append(chars, n);
    slot.push_back('"');
    return slot;
}
