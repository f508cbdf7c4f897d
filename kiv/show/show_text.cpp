// The table as aligned columns: a title line, a rule, a line per record.
// Each column is as wide as its widest cell, at most kWidest cells; when the
// lines are still wider than the limit, the widest columns give up cells in
// turn down to kNarrowest, so that a pager shows each record on one line.
// A cut cell ends in "…"; numbers are right-aligned.
#include <algorithm>
#include "show_table.h"
#include "show_width.h"

namespace {

const int kWidest = 32;
const int kNarrowest = 6;
const char kGap[] = "  ";

std::vector<int> NaturalWidths(const ShownTable& table)
{
    std::vector<int> widths;
    for (size_t c = 0; c < table.titles.size(); c++) {
        int w = DisplayWidth(table.titles[c]);
        for (const std::vector<std::string>& row : table.rows)
            w = std::max(w, DisplayWidth(row[c]));
        widths.push_back(std::min(w, kWidest));
    }
    return widths;
}

int LineWidth(const std::vector<int>& widths)
{
    int sum = 0;
    for (int w : widths)
        sum += w;
    return widths.empty() ? 0 : sum + (int)(sizeof kGap - 1) * ((int)widths.size() - 1);
}

void Narrow(std::vector<int>* widths, int limit)
{
    while (limit > 0 && LineWidth(*widths) > limit) {
        auto widest = std::max_element(widths->begin(), widths->end());
        if (*widest <= kNarrowest)
            return;
        --*widest;
    }
}

std::string Line(const std::vector<std::string>& cells, const std::vector<int>& widths,
                 const std::vector<bool>& right)
{
    std::string line;
    for (size_t c = 0; c < cells.size(); c++)
        line += (c ? kGap : "") + FitCells(cells[c], widths[c], right[c]);
    line.erase(line.find_last_not_of(' ') + 1);
    return line + "\n";
}

}

std::string TextTable(const ShownTable& table, int width)
{
    std::vector<int> widths = NaturalWidths(table);
    Narrow(&widths, width);
    std::vector<std::string> rule;
    for (int w : widths)
        rule.push_back(std::string(w, '-'));
    std::string text = Line(table.titles, widths, table.numbers) + Line(rule, widths, table.numbers);
    for (const std::vector<std::string>& row : table.rows)
        text += Line(row, widths, table.numbers);
    return text;
}
