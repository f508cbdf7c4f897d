#include "cell_values.h"
#include <fcntl.h>
#include <unistd.h>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include "cp932_text.h"
#include "file_io.h"
#include "kcsv/kcsv_format.h"
#include "staging.h"
#include "sjis1_chars.h"
#include "table_cells.h"
#include "number_text.h"
#include "kcsv/field_codecs.h"
#include "kcsv/leadbyte.h"
#include "number/packed_decimal.h"

namespace {

// ---- time ------------------------------------------------------------------

struct Stamp {
    int part[6];   // year, month, day, hour, minute, second
    int count;     // parts given, from the first (date forms) or from the hour
    bool clockOnly;
};

// Between min and max digits at p; false when there are fewer or more.
bool TakeNumber(const char*& p, int min, int max, int* value)
{
    int n = 0, v = 0;
    for (; *p >= '0' && *p <= '9'; p++, n++)
        v = v * 10 + (*p - '0');
    *value = v;
    return n >= min && n <= max;
}

// 2001-01[-05] or 2001/1[/5]: ISO pads month and day to two digits.
bool TakeDate(const char*& p, Stamp* s, bool* iso)
{
    if (!TakeNumber(p, 4, 4, &s->part[0]) || (*p != '-' && *p != '/'))
        return false;
    char sep = *p++;
    *iso = sep == '-';
    int width = *iso ? 2 : 1;
    if (!TakeNumber(p, width, 2, &s->part[1]))
        return false;
    s->count = 2;
    if (*p != sep)
        return true;
    p++;
    s->count = 3;
    return TakeNumber(p, width, 2, &s->part[2]);
}

// 23:59[:58]; the Japanese forms write the hour without padding.
bool TakeClock(const char*& p, Stamp* s, int first, bool iso)
{
    if (!TakeNumber(p, iso ? 2 : 1, 2, &s->part[first]) || *p++ != ':' ||
        !TakeNumber(p, 2, 2, &s->part[first + 1]))
        return false;
    s->count = first + 2;
    if (*p != ':')
        return true;
    p++;
    s->count = first + 3;
    return TakeNumber(p, 2, 2, &s->part[first + 2]);
}

bool TakeStamp(const std::string& text, Stamp* s)
{
    const char* p = text.c_str();
    bool iso = false;
    s->clockOnly = text.find_first_of("-/") == std::string::npos;
    if (s->clockOnly) {
        s->count = 0;
        return TakeClock(p, s, 3, true) && !*p;
    }
    if (!TakeDate(p, s, &iso))
        return false;
    if (s->count == 3 && (*p == 'T' || (*p == ' ' && p[1]))) {
        if (*p == 'T' && !iso)
            return false;
        p++;
        if (!TakeClock(p, s, 3, iso))
            return false;
    }
    return !*p;
}

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Empty when the parts name a moment that exists, else what is wrong.
std::string CheckStamp(const Stamp& s)
{
    int first = s.clockOnly ? 3 : 0;
    const int* v = s.part;
    if (first == 0 && (v[1] < 1 || v[1] > 12))
        return "no month " + std::to_string(v[1]);
    if (first == 0 && s.count > 2 && (v[2] < 1 || v[2] > DaysInMonth(v[0], v[1])))
        return "no day " + std::to_string(v[2]) + " in that month";
    if (s.count > 3 && v[3] > 23)
        return "no hour " + std::to_string(v[3]);
    if (s.count > 4 && v[4] > 59)
        return "no minute " + std::to_string(v[4]);
    if (s.count > 5 && v[5] > 59)
        return "no second " + std::to_string(v[5]);
    return "";
}

TimeForm FormOf(const Stamp& s)
{
    if (s.clockOnly)
        return s.count == 6 ? TIME_SECONDS : TIME_MINUTES;
    static const TimeForm byCount[] = {TIME_YEAR_MONTH, TIME_DATE, TIME_DATE, TIME_DATE_MINUTE,
                                       TIME_DATE_SECONDS};
    return byCount[s.count - 2];
}

// ---- numbers -----------------------------------------------------------------

// Significant digits of the mantissa as written: leading and trailing zeros
// do not count, nor do the sign and the point.
size_t SignificantDigits(const std::string& text)
{
    std::string digits;
    for (char c : text) {
        if (c == 'e' || c == 'E')
            break;
        if (c >= '0' && c <= '9' && !(digits.empty() && c == '0'))
            digits += c;
    }
    size_t end = digits.find_last_not_of('0');
    return end == std::string::npos ? 0 : end + 1;
}

// ---- text ----------------------------------------------------------------------

// Code page 932 text in the handheld's set, as the desktop writer stores it.
std::string Encoded(const std::string& cp932)
{
    std::string out;
    if (cp932.empty() || Sjis1ByTable(cp932, false, &out))
        return out;
    auto keep = [](const char* encoded, void* o) {
        *(std::string*)o = encoded;
        return true;
    };
    return WithSjis1Text(cp932.c_str(), false, keep, &out) ? out : cp932;
}

size_t Utf8Length(unsigned char lead) { return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1; }

// Plain ASCII goes to the handheld and back as it is; only a line feed
// changes, and a cell refuses that before.
bool PlainAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80 || c == '\n')
            return false;
    return true;
}

// ---- pictures ------------------------------------------------------------------

// The format code of a picture by its signature, or 0.
int PictureFormat(const std::string& bytes)
{
    static const struct {
        const char* magic;
        size_t size;
        int format;
    } kSignatures[] = {
        {"\xFF\xD8\xFF", 3, IMG_JPEG}, {"GIF8", 4, IMG_GIF}, {"\x89PNG\r\n\x1A\n", 8, IMG_PNG}};
    for (const auto& s : kSignatures)
        if (bytes.compare(0, s.size, s.magic, s.size) == 0)
            return s.format;
    return 0;
}

}   // namespace

std::string ChangedCharacters(const std::string& given, const std::string& cp932)
{
    if (PlainAscii(given) && given == cp932)
        return "";
    std::string back = TextCell(Encoded(cp932));
    if (back == given)
        return "";
    std::string list;
    size_t at = given.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;   // a byte-order mark has no character
    for (size_t i = 0; i < cp932.size();) {
        size_t n = IsLeadByte932((unsigned char)cp932[i]) && i + 1 < cp932.size() ? 2 : 1;
        std::string ch = cp932.substr(i, n), wrote;
        i += n;
        if (at < given.size()) {
            wrote = given.substr(at, Utf8Length((unsigned char)given[at]));
            at += wrote.size();
        } else {
            wrote = Cp932ToUtf8Lenient(ch);
        }
        std::string shown = TextCell(Encoded(ch));
        if (shown != wrote)
            list += (list.empty() ? "" : ", ") + wrote + " becomes " + (shown.empty() ? "nothing" : shown);
    }
    if (list.empty())
        list = "\"" + given + "\" becomes \"" + back + "\"";
    return "the handheld's characters differ: " + list;
}

bool ParseTimeCell(const std::string& text, std::string* digits, TimeForm* form, std::string* what)
{
    Stamp s = {};
    what->clear();
    if (!TakeStamp(text, &s)) {
        return false;
    }
    std::string wrong = CheckStamp(s);
    if (!wrong.empty()) {
        *what = "\"" + text + "\": " + wrong;
        return false;
    }
    digits->clear();
    // By hand: a format call per part cost more than the rest of the cell.
    for (int i = s.clockOnly ? 3 : 0; i < s.count; i++) {
        char two[16];
        int width = i == 0 ? 4 : 2, n = 0;
        for (unsigned v = (unsigned)s.part[i]; v || n < width; v /= 10)
            two[n++] = (char)('0' + v % 10);
        while (n)
            *digits += two[--n];
    }
    *form = FormOf(s);
    return true;
}

bool ParseNumberCell(const std::string& text, bool decimalComma, std::string* field, std::string* what,
                     std::string* warning)
{
    std::string plain;
    if (!TakeNumberText(text, decimalComma, &plain, what))
        return false;
    PackedDecimal number;
    uint16_t rc = ParseDecimal(&number, plain.c_str());
    bool zero = number.bytes[DEC_DIGITS] == 0;
    if (rc == DEC_OVERFLOW || (zero && SignificantDigits(plain) > 0)) {
        *what = "\"" + text +
                "\" is beyond the range of a number field (magnitudes from 1E-99 to below 1E+100)";
        return false;
    }
    if (SignificantDigits(plain) > 20) {
        char shown[DEC_TEXT_MAX];
        FormatDecimal(shown, &number, 0);
        *warning = "\"" + text + "\" has more than 20 significant digits; it is rounded to " + shown;
    }
    EncodeDecimalKey(&number);
    char chars[NUMBER_FIELD_CHARS];
    field->assign(chars, Encode3to4Bytes(number.bytes, DEC_SIZE, chars));
    return true;
}

namespace {

// What one character of a cell becomes in a slot. A character is taken
// from the table only when it goes into the handheld's set on its own, reads
// back as itself and its bytes end where a character ends (a letter after
// it reads back as that letter), so that a cell of such characters reads
// back a character at a time. Any other (a line break, a character the
// handheld replaces or has no form for) sends its whole cell the long way,
// where its problem or warning is worded.
struct CellChar {
    uint8_t state;   // kUnasked, kByTable or kLongWay
    uint8_t size;
    char bytes[4];
};
const uint8_t kUnasked = 0, kByTable = 1, kLongWay = 2;

// By the code point's high byte, filled on first use; main thread only, as
// the conversions under it are.
std::unique_ptr<CellChar[]> cellCharPages[256];

CellChar AskCellChar(uint32_t cp, std::string_view utf8)
{
    CellChar c = {kLongWay, 0, {}};
    std::string given(utf8), cp932, encoded, error;
    if (cp == 0 || cp == '\r' || cp == '\n' || !Utf8ToCp932(given, "", &cp932, &error) || cp932.empty() ||
        !Sjis1ByTable(cp932, false, &encoded) || encoded.empty() || encoded.size() > sizeof c.bytes ||
        !ChangedCharacters(given, cp932).empty() || TextCell(encoded + "A") != given + "A")
        return c;
    c.state = kByTable;
    c.size = (uint8_t)encoded.size();
    memcpy(c.bytes, encoded.data(), encoded.size());
    return c;
}

// The code point of the UTF-8 sequence at text[i] below U+10000 and its
// length, or 0 (the long way tells what is wrong).
size_t CodePointAt(const std::string& text, size_t i, uint32_t* cp)
{
    unsigned char c = (unsigned char)text[i];
    size_t n = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 0;
    if (n == 0 || i + n > text.size())
        return 0;
    uint32_t v = c & (n == 2 ? 0x1F : 0x0F);
    for (size_t k = 1; k < n; k++) {
        unsigned char t = (unsigned char)text[i + k];
        if ((t & 0xC0) != 0x80)
            return 0;
        v = (v << 6) | (t & 0x3F);
    }
    if (v < (n == 2 ? 0x80u : 0x800u) || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *cp = v;
    return n;
}

// ParseTextCell for a cell whose every character is in the table: the
// same field, and no warning. False, *field undefined, for any other.
bool TextByCharacters(const std::string& text, std::string* field)
{
    field->clear();
    for (size_t i = 0; i < text.size();) {
        unsigned char b = (unsigned char)text[i];
        uint32_t cp = b;
        size_t n = b < 0x80 ? 1 : CodePointAt(text, i, &cp);
        if (n == 0 || cp == 0xFEFF)   // a byte-order mark is taken off the long way
            return false;
        std::unique_ptr<CellChar[]>& page = cellCharPages[cp >> 8];
        if (!page)
            page.reset(new CellChar[256]());
        CellChar& c = page[cp & 0xFF];
        if (c.state == kUnasked)
            c = AskCellChar(cp, std::string_view(text).substr(i, n));
        if (c.state != kByTable)
            return false;
        field->append(c.bytes, c.size);
        i += n;
    }
    return true;
}

}   // namespace

bool ParseTextCell(const std::string& text, std::string* field, std::string* what, std::string* warning)
{
    if (TextByCharacters(text, field))
        return true;
    field->clear();
    if (text.find_first_of("\r\n") != std::string::npos) {
        *what = "a line break inside a cell: a record of the table is one line";
        return false;
    }
    std::string cp932, error;
    if (!Utf8ToCp932(text, "", &cp932, &error)) {
        size_t at = error.find(": ", error.find("column"));
        *what = at == std::string::npos ? error : error.substr(at + 2);
        return false;
    }
    *warning = ChangedCharacters(text, cp932);
    *field = Encoded(cp932);
    return true;
}

namespace {

// The format a picture file's name gives, 0 for none.
int FormatOfName(const std::string& path)
{
    static const struct {
        const char* extension;
        int format;
    } names[] = {{".jpg", IMG_JPEG}, {".jpeg", IMG_JPEG}, {".gif", IMG_GIF}, {".png", IMG_PNG}};
    size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? "" : path.substr(dot);
    for (char& ch : extension)
        ch = (char)tolower((unsigned char)ch);
    for (const auto& n : names)
        if (extension == n.extension)
            return n.format;
    return 0;
}

// The folder of the last picture read, held open: a table's pictures lie
// side by side, and opening each by its leaf spares the walk of the whole
// path. Main thread only, as the cells are read.
struct PictureFolder {
    std::string path;
    int fd = -1;
    ~PictureFolder()
    {
        if (fd >= 0)
            close(fd);
    }
};

// ReadWholeFile of a picture.
int ReadPicture(const std::string& path, std::string* bytes, std::string* error)
{
    static PictureFolder folder;
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (dir != folder.path) {
        if (folder.fd >= 0)
            close(folder.fd);
        folder.path = dir;
        folder.fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    // A folder that cannot be opened is left to the whole path, which says why.
    std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    if (folder.fd < 0 || leaf.empty())
        return ReadWholeFile(path, bytes, error);
    return ReadWholeFileAt(folder.fd, leaf, path, bytes, error);
}

}   // namespace

bool ParsePictureCell(const std::string& text, const std::string& folder, std::string* field, int* format,
                      std::string* what, std::string* warning)
{
    *format = 0;
    field->clear();
    if (text.empty())
        return true;
    static std::string bytes;   // room reused from picture to picture
    std::string path = text[0] == '/' ? text : JoinPath(folder, text), error;
    if (ReadPicture(path, &bytes, &error) != 0) {
        *what = "the picture " + error;
        return false;
    }
    *format = PictureFormat(bytes);
    if (!*format && (*format = FormatOfName(path)) != 0)
        *warning = "the picture " + path + " is no JPEG, GIF or PNG file; it goes as its name's format";
    if (!*format) {
        *what = "the picture " + path + " is no JPEG, GIF or PNG file, nor named as one";
        return false;
    }
    field->resize(Encoded3to4Length(bytes.size()));
    field->resize(Encode3to4Bytes(bytes.data(), bytes.size(), &(*field)[0]));
    return true;
}
