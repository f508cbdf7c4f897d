// The table as one web page that needs nothing but itself and its picture
// files: UTF-8, the style inline, no script, no address outside the page's
// folder. The table scrolls sideways in a frame of its own, its first column
// kept in view, so that no column is squeezed to fit the window: each column
// has a class by its kind and content that sets how narrow it may become
// (numbers and dates never break, long text wraps at a reading measure), and
// titles break only at spaces. On a narrow screen each record becomes a
// block of its cells, each under its title. Every cell is escaped; line
// breaks in a cell show as such.
#include <algorithm>
#include "show_table.h"
#include "show_width.h"

namespace {

const char kStyle[] =
    "body{font-family:sans-serif;margin:1em;color:#222;background:#fff}\n"
    "h1{font-size:1.3em}\n"
    ".frame{overflow-x:auto;max-width:100%}\n"
    "table{border-collapse:separate;border-spacing:0;border-top:1px solid #bbb;border-left:1px solid #bbb}\n"
    "th,td{border-right:1px solid #bbb;border-bottom:1px solid #bbb;padding:.3em .6em;text-align:left;"
    "vertical-align:top;background:#fff}\n"
    "th{background:#eee;word-break:keep-all;overflow-wrap:break-word}\n"
    "th:first-child,td:first-child{position:sticky;left:0;z-index:1}\n"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
    "td.n,td.d,td.s{white-space:nowrap}\n"
    "td.m div{min-width:8em}\n"
    "td.l div{width:24em}\n"
    "td.p{min-width:4em}\n"
    "td img{display:block;height:4em;max-width:8em;object-fit:contain}\n"
    "@media (max-width:40em){\n"
    " thead{display:none}\n"
    " table,tbody,tr,td{display:block}\n"
    " table{border:none}\n"
    " tr{border:1px solid #bbb;margin-bottom:.8em}\n"
    " td,td.n{border:none;border-top:1px solid #eee;text-align:left;white-space:normal;position:static}\n"
    " td.m div,td.l div{width:auto;min-width:0}\n"
    " td::before{content:attr(data-label);display:block;font-size:.8em;font-weight:bold;color:#555}\n"
    "}\n";

// Text up to this many cells stays on one line; up to kMedium it wraps
// within a column of at least 8 em, beyond that at 24 em.
const int kShort = 16;
const int kMedium = 48;

// Text for an element or an attribute: markup characters as references,
// control characters and bytes that are no UTF-8 as U+FFFD; line breaks as
// <br> where lines may break.
std::string Escaped(const std::string& text, bool lines)
{
    std::string out;
    for (size_t at = 0; at < text.size();) {
        uint32_t cp = NextCodePoint(text, &at);
        if (cp == '\r' && at < text.size() && text[at] == '\n')
            continue;
        if (cp == '\n' || cp == '\r' || cp == 0x1F)
            out += lines ? "<br>" : " ";
        else if (cp == '&')
            out += "&amp;";
        else if (cp == '<')
            out += "&lt;";
        else if (cp == '>')
            out += "&gt;";
        else if (cp == '"')
            out += "&quot;";
        else if (cp == '\'')
            out += "&#39;";
        else
            out += Utf8Of(cp == '\t' || CodePointWidth(cp) >= 0 ? cp : 0xFFFD);
    }
    return out;
}

// A thumbnail that opens the picture file itself.
std::string Thumbnail(const std::string& link, const std::string& alt)
{
    std::string href = Escaped(link, false);
    return "<a href=\"" + href + "\"><img src=\"" + href + "\" alt=\"" + Escaped(alt, false) +
           "\" loading=\"lazy\"></a>";
}

// A column's class: "n" a number, "d" a date or time, "p" a picture, else
// its text by its widest cell, "s" short, "m" medium, "l" long.
const char* Kind(const ShownTable& table, size_t c)
{
    int widest = table.widest[c];
    return table.numbers[c]    ? "n"
           : table.times[c]    ? "d"
           : table.pictures[c] ? "p"
           : widest <= kShort  ? "s"
           : widest <= kMedium ? "m"
                               : "l";
}

void Cell(const ShownTable& table, const std::string& cell, size_t c, const std::string& link,
          std::string* html)
{
    const char* kind = Kind(table, c);
    *html += "<td class=\"";
    *html += kind;
    *html += "\" data-label=\"" + Escaped(table.titles[c], false) + "\">";
    bool wraps = kind[0] == 'm' || kind[0] == 'l';
    if (!link.empty())
        *html += Thumbnail(link, cell);
    else if (wraps)
        *html += "<div>" + Escaped(cell, true) + "</div>";
    else
        *html += Escaped(cell, true);
    *html += "</td>";
}

}   // namespace

std::string HtmlHead(const ShownTable& table)
{
    std::string html = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>" +
                       Escaped(table.name, false) + "</title>\n<style>\n" + kStyle + "</style>\n</head>\n";
    html += "<body>\n<h1>" + Escaped(table.name, false) + "</h1>\n<p>" + std::to_string(table.records) +
            (table.records == 1 ? " record" : " records") +
            "</p>\n<div class=\"frame\">\n<table>\n<thead><tr>";
    for (size_t c = 0; c < table.titles.size(); c++)
        html += std::string("<th class=\"") + Kind(table, c) + "\">" + Escaped(table.titles[c], true) +
                "</th>";
    return html + "</tr></thead>\n<tbody>\n";
}

std::string HtmlRow(const ShownTable& table, const std::vector<std::string>& cells,
                    const std::vector<std::string>& links)
{
    std::string html = "<tr>";
    for (size_t c = 0; c < table.titles.size(); c++)
        Cell(table, cells[c], c, links[c], &html);
    return html + "</tr>\n";
}

std::string HtmlTail() { return "</tbody>\n</table>\n</div>\n</body>\n</html>\n"; }
