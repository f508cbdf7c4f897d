// Display widths from the C library's tables under the C.UTF-8 locale, which
// glibc always provides, so that the layout is the same in every user's
// locale; the locale is switched for this thread only, around each look-up.
#include "show_width.h"
#include <locale.h>
#include <wchar.h>

namespace {

locale_t utf8Locale = (locale_t)0;   // made on first use, kept for the run

// The wide ranges alone, for a C library without C.UTF-8.
int FallbackWidth(uint32_t cp)
{
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0))
        return -1;
    if ((cp >= 0x0300 && cp <= 0x036F) || cp == 0x200B || (cp >= 0x3099 && cp <= 0x309A))
        return 0;
    bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
                (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
                (cp >= 0x20000 && cp <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The C library's width under C.UTF-8, -1 for a character not shown.
int LookedUpWidth(uint32_t cp)
{
    if (!utf8Locale)
        utf8Locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    if (!utf8Locale)
        return FallbackWidth(cp);
    locale_t saved = uselocale(utf8Locale);
    int width = wcwidth((wchar_t)cp);
    uselocale(saved);
    return width;
}

bool Continuation(const std::string& text, size_t at)
{
    return at < text.size() && ((unsigned char)text[at] & 0xC0) == 0x80;
}

}

uint32_t NextCodePoint(const std::string& text, size_t* at)
{
    unsigned char b = text[*at];
    int extra = b >= 0xF0 && b <= 0xF4 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : 0;
    uint32_t cp = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : b & 0x1F;
    if (b < 0x80) {
        ++*at;
        return b;
    }
    for (int k = 1; k <= extra; k++) {
        if (!Continuation(text, *at + k))
            extra = 0;
        else
            cp = cp << 6 | ((unsigned char)text[*at + k] & 0x3F);
    }
    bool shortest = extra == 1 || (extra == 2 && cp >= 0x800) || (extra == 3 && cp >= 0x10000);
    if (extra == 0 || !shortest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++*at;
        return 0xFFFD;
    }
    *at += 1 + extra;
    return cp;
}

std::string Utf8Of(uint32_t cp)
{
    std::string s;
    if (cp < 0x80)
        return s += (char)cp;
    if (cp < 0x800)
        return s += {(char)(0xC0 | cp >> 6), (char)(0x80 | (cp & 0x3F))};
    if (cp < 0x10000)
        return s += {(char)(0xE0 | cp >> 12), (char)(0x80 | (cp >> 6 & 0x3F)), (char)(0x80 | (cp & 0x3F))};
    return s += {(char)(0xF0 | cp >> 18), (char)(0x80 | (cp >> 12 & 0x3F)), (char)(0x80 | (cp >> 6 & 0x3F)),
                 (char)(0x80 | (cp & 0x3F))};
}

int CodePointWidth(uint32_t cp)
{
    // Printable ASCII, most of any table, needs no look-up; the rest of the
    // first plane is looked up once each: the locale switch around each
    // look-up cost more than the layout.
    if (cp >= 0x20 && cp < 0x7F)
        return 1;
    static signed char known[0x10000];   // width + 2, 0 for not looked up yet
    if (cp < 0x10000 && known[cp])
        return known[cp] - 2;
    int width = LookedUpWidth(cp);
    if (cp < 0x10000)
        known[cp] = (signed char)(width + 2);
    return width;
}

std::string OneLine(const std::string& text)
{
    std::string line;
    line.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        // A run of printable ASCII goes over as it is.
        size_t run = at;
        while (run < text.size() && text[run] >= 0x20 && text[run] < 0x7F)
            run++;
        line.append(text, at, run - at);
        if ((at = run) >= text.size())
            break;
        size_t before = at;
        uint32_t cp = NextCodePoint(text, &at);
        if (cp == '\r' && at < text.size() && text[at] == '\n')
            continue;   // CR LF is one break
        if (cp == '\n' || cp == '\r' || cp == 0x1F)
            line += "↵";
        else if (cp == '\t')
            line += ' ';
        else if (CodePointWidth(cp) < 0 || (cp == 0xFFFD && at - before != 3))
            line += "\uFFFD";   // a control character, or a byte that is no UTF-8
        else
            line.append(text, before, at - before);
    }
    return line;
}

namespace {

// The cells a text that OneLine gave takes.
int LineWidth(const std::string& line)
{
    int width = 0;
    for (size_t at = 0; at < line.size();)
        width += (unsigned char)line[at] < 0x80 ? (at++, 1) : CodePointWidth(NextCodePoint(line, &at));
    return width;
}

}   // namespace

int DisplayWidth(const std::string& text) { return LineWidth(OneLine(text)); }

std::string FitCells(const std::string& text, int width, bool right)
{
    std::string line = OneLine(text), kept;
    int used = LineWidth(line);
    if (used > width) {
        used = 0;
        for (size_t at = 0, before = 0; at < line.size(); before = at) {
            int w = CodePointWidth(NextCodePoint(line, &at));
            if (used + w > width - 1)
                break;
            used += w;
            kept += line.substr(before, at - before);
        }
        line = kept + (width > 0 ? "…" : "");
        used += width > 0;
    }
    std::string pad(width - used, ' ');
    return right ? pad + line : line + pad;
}
