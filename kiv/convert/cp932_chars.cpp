#include "cp932_chars.h"
#include <iconv.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// One character's bytes on the other side; size 0 while not yet asked,
// kNone when iconv has no form for it.
struct Form {
    uint8_t size;
    char bytes[4];
    int8_t
        back;   // code page 932 to UTF-8: 1 when the bytes convert back to the character, 0 when not, -1 unknown
};
const uint8_t kNone = 0xFF;
const uint8_t kLead = 0xFE;   // a code page 932 byte that starts two

// The tables are filled and read on the main thread only, as iconv's
// descriptors in cp932_text.cpp are.
struct Tables {
    iconv_t toUtf8 = (iconv_t)-1, toCp932 = (iconv_t)-1;
    Form single[256] = {};
    std::unique_ptr<Form[]> rows[256];    // by lead byte, 256 trail bytes each
    std::unique_ptr<Form[]> pages[256];   // UTF-8 to code page 932, by the code point's high byte
};

Tables& TheTables()
{
    static Tables tables;
    return tables;
}

// iconv's answer for one character; kLead when the input is only the start
// of one.
Form Ask(iconv_t* cd, const char* to, const char* from, const char* in, size_t size)
{
    Form form = {kNone, {}, -1};
    if (*cd == (iconv_t)-1)
        *cd = iconv_open(to, from);
    if (*cd == (iconv_t)-1)
        return form;
    iconv(*cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in);
    char* dst = form.bytes;
    size_t srcLeft = size, dstLeft = sizeof form.bytes;
    size_t rc = iconv(*cd, &src, &srcLeft, &dst, &dstLeft);
    if (rc == (size_t)-1 && errno == EINVAL)
        form.size = kLead;
    else if (rc != (size_t)-1 && srcLeft == 0 && iconv(*cd, nullptr, nullptr, &dst, &dstLeft) != (size_t)-1)
        form.size = (uint8_t)(sizeof form.bytes - dstLeft);
    return form;
}

Form& SingleByte(Tables& t, unsigned char b)
{
    Form& f = t.single[b];
    if (f.size == 0) {
        char in = (char)b;
        f = Ask(&t.toUtf8, "UTF-8", "CP932", &in, 1);
        if (f.size == 0)
            f.size = kNone;   // a byte that gives nothing is left to iconv
    }
    return f;
}

Form& DoubleByte(Tables& t, unsigned char lead, unsigned char trail)
{
    std::unique_ptr<Form[]>& row = t.rows[lead];
    if (!row)
        row.reset(new Form[256]());
    Form& f = row[trail];
    if (f.size == 0) {
        char in[2] = {(char)lead, (char)trail};
        f = Ask(&t.toUtf8, "UTF-8", "CP932", in, 2);
        if (f.size == 0 || f.size == kLead)
            f.size = kNone;
    }
    return f;
}

// The code point of the UTF-8 sequence at in[at] and its length, or 0.
size_t DecodeUtf8(std::string_view in, size_t at, uint32_t* cp)
{
    unsigned char c = (unsigned char)in[at];
    size_t extra = c < 0x80             ? 0
                   : (c & 0xE0) == 0xC0 ? 1
                   : (c & 0xF0) == 0xE0 ? 2
                   : (c & 0xF8) == 0xF0 ? 3
                                        : 4;
    if (extra > 3 || at + extra >= in.size())
        return 0;
    uint32_t value = extra == 0 ? c : c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; k++) {
        unsigned char t = (unsigned char)in[at + k];
        if ((t & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (t & 0x3F);
    }
    static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    if (value < smallest[extra] || value > 0xFFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;   // beyond the tables' pages: iconv answers
    *cp = value;
    return extra + 1;
}

const Form& CodePoint(Tables& t, std::string_view utf8, uint32_t cp)
{
    std::unique_ptr<Form[]>& page = t.pages[cp >> 8];
    if (!page)
        page.reset(new Form[256]());
    Form& f = page[cp & 0xFF];
    if (f.size == 0) {
        f = Ask(&t.toCp932, "CP932", "UTF-8", utf8.data(), utf8.size());
        if (f.size == 0 || f.size == kLead)
            f.size = kNone;
    }
    return f;
}

// Whether f, the UTF-8 of the code page 932 character in, converts back to in.
bool ConvertsBack(Form* f, std::string_view in)
{
    if (f->back < 0) {
        std::string back;
        f->back = Utf8ToCp932ByTable(std::string_view(f->bytes, f->size), &back) && back == in;
    }
    return f->back == 1;
}

}   // namespace

bool Cp932ToUtf8ByTable(std::string_view in, std::string* out, bool* roundTrips)
{
    Tables& t = TheTables();
    *roundTrips = true;
    // Written in place: no byte of code page 932 gives more than four of UTF-8.
    size_t start = out->size();
    out->resize(start + in.size() * sizeof(Form().bytes));
    char* o = &(*out)[start];
    for (size_t i = 0; i < in.size(); i++) {
        unsigned char b = (unsigned char)in[i];
        if (b < 0x80 && b != 0) {   // ASCII is itself in both
            *o++ = (char)b;
            continue;
        }
        size_t from = i;
        Form* f = &SingleByte(t, b);
        if (f->size == kLead && i + 1 < in.size())
            f = &DoubleByte(t, b, (unsigned char)in[++i]);
        if (f->size == kNone || f->size == kLead) {
            out->resize((size_t)(o - out->data()));
            return false;
        }
        memcpy(o, f->bytes, sizeof f->bytes);
        o += f->size;
        if (*roundTrips && !ConvertsBack(f, in.substr(from, i + 1 - from)))
            *roundTrips = false;
    }
    out->resize((size_t)(o - out->data()));
    return true;
}

bool Cp932ToUtf8ByTable(std::string_view in, std::string* out)
{
    bool ignored;
    return Cp932ToUtf8ByTable(in, out, &ignored);
}

bool Utf8ToCp932ByTable(std::string_view in, std::string* out)
{
    Tables& t = TheTables();
    for (size_t i = 0; i < in.size();) {
        unsigned char b = (unsigned char)in[i];
        if (b < 0x80 && b != 0) {
            out->push_back((char)b);
            i++;
            continue;
        }
        uint32_t cp;
        size_t n = DecodeUtf8(in, i, &cp);
        if (n == 0)
            return false;
        const Form& f = CodePoint(t, in.substr(i, n), cp);
        if (f.size == kNone)
            return false;
        out->append(f.bytes, f.size);
        i += n;
    }
    return true;
}
