// The rules both directions of the table CSV share: fingerprints, the escape
// of raw bytes, time values, picture files, and the schema file's lines.
#include "table_model.h"
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include "kcsv_slots.h"

uint64_t RowFingerprint(const std::vector<std::string>& cells)
{
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](unsigned char b) { hash = (hash ^ b) * 1099511628211ull; };
    for (const std::string& cell : cells) {
        for (unsigned char b : cell)
            mix(b);
        mix(0x1F);
    }
    return hash;
}

uint32_t CellFingerprint(const std::string& cell)
{
    uint32_t hash = 2166136261u;
    for (unsigned char b : cell)
        hash = (hash ^ b) * 16777619u;
    return hash;
}

std::string TableHash(const std::string& bytes)
{
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char b : bytes)
        hash = (hash ^ b) * 1099511628211ull;
    char hex[17];
    snprintf(hex, sizeof hex, "%016" PRIx64, hash);
    return hex;
}

std::string EscapeRaw(const std::string& bytes)
{
    std::string text;
    for (unsigned char b : bytes) {
        if (b == '\\') {
            text += "\\\\";
        } else if (b >= 0x20 && b < 0x7F) {
            text += (char)b;
        } else {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02X", b);
            text += hex;
        }
    }
    return text;
}

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}   // namespace

bool UnescapeRaw(const std::string& text, std::string* bytes)
{
    bytes->clear();
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\\') {
            *bytes += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            *bytes += '\\';
            i++;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' && HexValue(text[i + 2]) >= 0 &&
                   HexValue(text[i + 3]) >= 0) {
            *bytes += (char)(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

// ---- time values ----------------------------------------------------------------

namespace {

// The separator before digit i (from 0) of each layout, or 0 for none.
char DateSeparator(size_t i)
{
    switch (i) {
    case 4:
    case 6: return '-';
    case 8: return 'T';
    case 10:
    case 12: return ':';
    case 14: return '.';
    default: return 0;
    }
}

char ClockSeparator(size_t i) { return (i == 2 || i == 4) ? ':' : 0; }

const size_t kClockDigits = 6;

void LayDigitsInto(const std::string& digits, bool clock, std::string* cell)
{
    cell->resize(digits.size() * 2);   // at most a separator before each digit
    char* out = &(*cell)[0];
    for (size_t i = 0; i < digits.size(); i++) {
        char sep = clock ? ClockSeparator(i) : DateSeparator(i);
        if (sep)
            *out++ = sep;
        *out++ = digits[i];
    }
    cell->resize((size_t)(out - cell->data()));
}

std::string LayDigits(const std::string& digits, bool clock)
{
    std::string cell;
    LayDigitsInto(digits, clock, &cell);
    return cell;
}

bool AllDigits(const std::string& text)
{
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

}   // namespace

bool TimeIsClock(const std::string& digits, int subKind)
{
    return (subKind == 3 || subKind == 4) && digits.size() <= kClockDigits;
}

bool TimeCellFromDigits(const std::string& digits, int subKind, std::string* cell)
{
    if (!AllDigits(digits))
        return false;
    LayDigitsInto(digits, TimeIsClock(digits, subKind), cell);   // into the cell's own room
    return true;
}

bool TimeDigitsFromCell(const std::string& cell, std::string* digits)
{
    std::string found;
    for (char c : cell)
        if (c >= '0' && c <= '9')
            found += c;
    if (cell != LayDigits(found, false) && (found.size() > kClockDigits || cell != LayDigits(found, true)))
        return false;
    *digits = found;
    return true;
}

// ---- pictures ---------------------------------------------------------------------

int PictureFormatOfBytes(const std::string& bytes)
{
    if (bytes.compare(0, 3, "\xFF\xD8\xFF") == 0)
        return IMG_JPEG;
    if (bytes.compare(0, 6, "GIF87a") == 0 || bytes.compare(0, 6, "GIF89a") == 0)
        return IMG_GIF;
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0)
        return IMG_PNG;
    return 0;
}

const char* PictureExtension(int format)
{
    switch (format) {
    case IMG_JPEG: return "jpg";
    case IMG_GIF: return "gif";
    case IMG_PNG: return "png";
    default: return "bin";
    }
}

std::string PicturePath(const std::string& base, long row, int column, int format)
{
    return base + "-pictures/" + std::to_string(row) + "-" + std::to_string(column) + "." +
           PictureExtension(format);
}
