// Two versions of a table compared record by record. Records are matched
// by the handheld's sync ID where both have one; the rest first by equal
// cells (a record that did not change, wherever it moved), then by their
// first non-empty cell (a record edited in place keeps its name), in order.
// What is left was removed from the older version or added in the newer.
// Cells are compared field by field in column order, a picture by its bytes.
// A cell or title is printed as show prints it: one line, no control
// characters that a terminal would obey.
#include <algorithm>
#include "archive.h"
#include "show_width.h"

namespace {

const size_t kNone = (size_t)-1;

std::string Label(const std::vector<std::string>& cells)
{
    std::string label;
    int taken = 0;
    for (size_t i = 0; i < cells.size() && taken < 2; i++) {
        if (cells[i].empty())
            continue;
        label += (taken++ ? ", " : "") + OneLine(cells[i]);
    }
    return label.empty() ? "(an empty record)" : label;
}

std::string FirstCell(const std::vector<std::string>& cells)
{
    for (const std::string& c : cells)
        if (!c.empty())
            return c;
    return "";
}

// Pairs each unmatched record of b with the first unmatched one of a for
// which same holds.
template <typename Same>
void MatchBy(const DecodedTable& a, const DecodedTable& b, std::vector<size_t>* ofB, std::vector<bool>* usedA,
             Same same)
{
    for (size_t j = 0; j < b.rows.size(); j++)
        for (size_t i = 0; (*ofB)[j] == kNone && i < a.rows.size(); i++)
            if (!(*usedA)[i] && same(i, j)) {
                (*ofB)[j] = i;
                (*usedA)[i] = true;
            }
}

bool SameCell(const DecodedTable& a, const DecodedTable& b, size_t i, size_t j, size_t f)
{
    const std::vector<std::string>&old = a.rows[i], &now = b.rows[j];
    const std::string& was = f < old.size() ? old[f] : "";
    const std::string& is = f < now.size() ? now[f] : "";
    bool pictures = f < a.pictures[i].size() && f < b.pictures[j].size() &&
                    !(a.pictures[i][f].empty() && b.pictures[j][f].empty());
    return pictures ? a.pictures[i][f] == b.pictures[j][f] : was == is;
}

bool SameRecord(const DecodedTable& a, const DecodedTable& b, size_t i, size_t j)
{
    for (size_t f = 0; f < std::max(a.rows[i].size(), b.rows[j].size()); f++)
        if (!SameCell(a, b, i, j, f))
            return false;
    return true;
}

std::string Changes(const DecodedTable& a, const DecodedTable& b, size_t i, size_t j)
{
    std::string lines;
    const std::vector<std::string>&old = a.rows[i], &now = b.rows[j];
    for (size_t f = 0; f < std::max(old.size(), now.size()); f++) {
        std::string was = f < old.size() ? old[f] : "", is = f < now.size() ? now[f] : "";
        std::string title = f < b.titles.size() ? b.titles[f] : a.titles[f];
        if (!SameCell(a, b, i, j, f))
            lines += "    " + OneLine(title) + ": " + OneLine(was) + " \u2192 " + OneLine(is) + "\n";
    }
    return lines.empty() ? "" : "~ " + Label(now) + "\n" + lines;
}

std::string Join(const std::vector<std::string>& titles)
{
    std::string s;
    for (size_t i = 0; i < titles.size(); i++)
        s += (i ? ", " : "") + OneLine(titles[i]);
    return s;
}

}   // namespace

std::string TableDiff(const DecodedTable& a, const DecodedTable& b)
{
    std::vector<size_t> ofB(b.rows.size(), kNone);
    std::vector<bool> usedA(a.rows.size(), false);
    MatchBy(a, b, &ofB, &usedA,
            [&](size_t i, size_t j) { return !a.syncIds[i].empty() && a.syncIds[i] == b.syncIds[j]; });
    MatchBy(a, b, &ofB, &usedA, [&](size_t i, size_t j) { return SameRecord(a, b, i, j); });
    MatchBy(a, b, &ofB, &usedA, [&](size_t i, size_t j) {
        return a.syncIds[i].empty() && b.syncIds[j].empty() && FirstCell(a.rows[i]) == FirstCell(b.rows[j]);
    });
    std::string out;
    if (a.titles != b.titles)
        out += "fields: " + Join(a.titles) + " \u2192 " + Join(b.titles) + "\n";
    for (size_t i = 0; i < a.rows.size(); i++)
        if (!usedA[i])
            out += "- " + Label(a.rows[i]) + "\n";
    for (size_t j = 0; j < b.rows.size(); j++)
        out += ofB[j] == kNone ? "+ " + Label(b.rows[j]) + "\n" : Changes(a, b, ofB[j], j);
    return out;
}
