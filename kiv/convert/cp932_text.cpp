#include "cp932_text.h"
#include "cp932_chars.h"
#include <cerrno>
#include <cstdio>
#include <iconv.h>

namespace {

enum Direction { TO_CP932, TO_UTF8 };

bool Cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Characters in in[from, to), which is text the conversion has already
// accepted, so each lead byte has its trail.
size_t CountCharacters(const std::string& in, size_t from, size_t to, Direction dir)
{
    size_t n = 0;
    for (size_t i = from; i < to; i++) {
        unsigned char c = (unsigned char)in[i];
        if (dir == TO_CP932) {
            n += (c & 0xC0) != 0x80;
        } else {
            n++;
            i += Cp932Lead(c);
        }
    }
    return n;
}

// The code point of the UTF-8 sequence at in[at], or -1 when it is not one.
long DecodeUtf8(const std::string& in, size_t at)
{
    unsigned char c = (unsigned char)in[at];
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || at + (size_t)extra >= in.size())
        return -1;
    long cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; k++) {
        unsigned char t = (unsigned char)in[at + (size_t)k];
        if ((t & 0xC0) != 0x80)
            return -1;
        cp = (cp << 6) | (t & 0x3F);
    }
    static const long smallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < smallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return -1;
    return cp;
}

std::string Describe(const std::string& in, size_t at, Direction dir)
{
    char text[64];
    if (dir == TO_CP932) {
        long cp = DecodeUtf8(in, at);
        if (cp < 0)
            return "bytes that are not UTF-8";
        snprintf(text, sizeof text, "the character U+%04lX has no code page 932 form", cp);
    } else if (at + 1 < in.size() && Cp932Lead((unsigned char)in[at])) {
        snprintf(text, sizeof text, "the bytes 0x%02X 0x%02X are no code page 932 character",
                 (unsigned char)in[at], (unsigned char)in[at + 1]);
    } else {
        snprintf(text, sizeof text, "the byte 0x%02X is no code page 932 character", (unsigned char)in[at]);
    }
    return text;
}

std::string Where(const std::string& in, size_t at, Direction dir, const std::string& name)
{
    size_t line = 1, lineStart = 0;
    for (size_t i = 0; i < at; i++) {
        if (in[i] == '\n') {
            line++;
            lineStart = i + 1;
        }
    }
    size_t column = CountCharacters(in, lineStart, at, dir) + 1;
    return name + ": line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
           Describe(in, at, dir);
}

// One descriptor per direction, opened at first use and kept: the table CSV
// converts every cell on its own, and opening iconv costs more than a short
// cell's conversion. Conversions run on the main thread only.
iconv_t Descriptor(Direction dir)
{
    static iconv_t open[2] = {(iconv_t)-1, (iconv_t)-1};
    iconv_t& cd = open[dir == TO_CP932 ? 0 : 1];
    if (cd == (iconv_t)-1)
        cd = dir == TO_CP932 ? iconv_open("CP932", "UTF-8") : iconv_open("UTF-8", "CP932");
    else
        iconv(cd, nullptr, nullptr, nullptr, nullptr);   // back to the initial state
    return cd;
}

bool Convert(const std::string& in, Direction dir, const std::string& name, std::string* out,
             std::string* error)
{
    iconv_t cd = Descriptor(dir);
    if (cd == (iconv_t)-1) {
        *error = name + ": this system's iconv knows no code page 932";
        return false;
    }
    std::string converted;
    converted.reserve(in.size() + in.size() / 2);
    if (dir == TO_UTF8 ? Cp932ToUtf8ByTable(in, &converted) : Utf8ToCp932ByTable(in, &converted)) {
        *out = std::move(converted);
        return true;
    }
    // A half-width katakana byte becomes three bytes of UTF-8; nothing grows more.
    std::string buffer(in.size() * 3 + 1, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &buffer[0];
    size_t dstLeft = buffer.size();
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    bool ok = rc != (size_t)-1 && iconv(cd, nullptr, nullptr, &dst, &dstLeft) != (size_t)-1;
    if (!ok) {
        *error = Where(in, (size_t)(src - in.data()), dir, name);
        return false;
    }
    buffer.resize(buffer.size() - dstLeft);
    *out = std::move(buffer);
    return true;
}

}   // namespace

bool Utf8ToCp932(const std::string& in, const std::string& name, std::string* out, std::string* error)
{
    // A spreadsheet may begin its UTF-8 export with a byte order mark.
    if (in.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        std::string rest = in.substr(3);
        return Convert(rest, TO_CP932, name, out, error);
    }
    return Convert(in, TO_CP932, name, out, error);
}

bool Cp932ToUtf8(const std::string& in, const std::string& name, std::string* out, std::string* error)
{
    return Convert(in, TO_UTF8, name, out, error);
}
