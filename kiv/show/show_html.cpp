// The table as one web page that needs nothing but itself and its picture
// files: UTF-8, the style inline, no script, no address outside the page's
// folder. On a narrow screen each record becomes a block of its cells, each
// under its title. Every cell is escaped; line breaks in a cell show as such.
#include "show_table.h"
#include "show_width.h"

namespace {

const char kStyle[] =
    "body{font-family:sans-serif;margin:1em;color:#222;background:#fff}\n"
    "h1{font-size:1.3em}\n"
    "table{border-collapse:collapse}\n"
    "th,td{border:1px solid #bbb;padding:.3em .6em;text-align:left;vertical-align:top}\n"
    "th{background:#eee}\n"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
    "td img{display:block;height:4em;max-width:8em;object-fit:contain}\n"
    "@media (max-width:40em){\n"
    " thead{display:none}\n"
    " table,tbody,tr,td{display:block}\n"
    " tr{border:1px solid #bbb;margin-bottom:.8em}\n"
    " td,td.n{border:none;border-top:1px solid #eee;text-align:left}\n"
    " td::before{content:attr(data-label);display:block;font-size:.8em;font-weight:bold;color:#555}\n"
    "}\n";

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

std::string Cell(const ShownTable& table, size_t r, size_t c, const std::string& link)
{
    const std::string& cell = table.rows[r][c];
    std::string td = std::string("<td") + (table.numbers[c] ? " class=\"n\"" : "") + " data-label=\"" +
                     Escaped(table.titles[c], false) + "\">";
    return td + (link.empty() ? Escaped(cell, true) : Thumbnail(link, cell)) + "</td>";
}

std::string Head(const ShownTable& table)
{
    std::string html = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>" +
                       Escaped(table.name, false) + "</title>\n<style>\n" + kStyle + "</style>\n</head>\n";
    html += "<body>\n<h1>" + Escaped(table.name, false) + "</h1>\n<p>" + std::to_string(table.rows.size()) +
            (table.rows.size() == 1 ? " record" : " records") + "</p>\n<table>\n<thead><tr>";
    for (const std::string& title : table.titles)
        html += "<th>" + Escaped(title, true) + "</th>";
    return html + "</tr></thead>\n<tbody>\n";
}

}

std::string HtmlPage(const ShownTable& table, const std::vector<std::vector<std::string>>& pictureLinks)
{
    std::string html = Head(table);
    for (size_t r = 0; r < table.rows.size(); r++) {
        html += "<tr>";
        for (size_t c = 0; c < table.titles.size(); c++)
            html += Cell(table, r, c, pictureLinks[r][c]);
        html += "</tr>\n";
    }
    return html + "</tbody>\n</table>\n</body>\n</html>\n";
}
