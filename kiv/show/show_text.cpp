// The table as aligned columns: a title line, a rule, a line per record, so
// that a pager shows each record on one line. A column is as wide as its
// widest cell, at most kWidest cells. When the line is wider than the limit,
// each column gives up cells in proportion to what it has above its floor:
// a text column's floor is kNarrowest cells, and its cells are cut to end in
// "…"; a number or a time is never cut, so its column's floor is its widest
// value. Columns whose floors do not fit beside those before them are left
// out and named in a last line; when fewer than two fit, each record becomes
// a block of its own lines instead.
#include <algorithm>
#include "show_table.h"
#include "show_width.h"

namespace {

const int kWidest = 32;
const int kNarrowest = 6;
const char kGap[] = "  ";
const int kGapCells = (int)sizeof kGap - 1;

bool Whole(const ShownTable& table, size_t c) { return table.numbers[c] || table.times[c]; }

std::vector<TextColumn> Measure(const ShownTable& table, const std::vector<size_t>& shown)
{
    std::vector<TextColumn> columns;
    for (size_t c : shown) {
        int title = DisplayWidth(table.titles[c]), cells = table.widest[c];
        TextColumn column = {c, std::min(std::max(title, cells), kWidest), 0};
        column.floor = std::min(column.natural, kNarrowest);
        if (Whole(table, c)) {
            column.natural = std::max(column.natural, cells);
            column.floor = std::max(column.floor, cells);
        }
        columns.push_back(column);
    }
    return columns;
}

// The columns whose floors fit the width, in order; the others go to *left.
std::vector<TextColumn> Fitting(const std::vector<TextColumn>& columns, int width, std::vector<size_t>* left)
{
    std::vector<TextColumn> kept;
    int used = -kGapCells;
    for (const TextColumn& column : columns) {
        if (width == 0 || used + kGapCells + column.floor <= width) {
            kept.push_back(column);
            used += kGapCells + column.floor;
        } else {
            left->push_back(column.at);
        }
    }
    return kept;
}

// The widths that bring the line down to width: the cells to give up are
// shared out in proportion to each column's room above its floor, the
// remainder going to the largest shares left over. The floors fit, so the
// room is enough.
std::vector<int> Narrowed(const std::vector<TextColumn>& columns, int width)
{
    std::vector<int> widths;
    long long line = -kGapCells, room = 0;
    for (const TextColumn& column : columns) {
        widths.push_back(column.natural);
        line += kGapCells + column.natural;
        room += column.natural - column.floor;
    }
    const long long over = width == 0 ? 0 : line - width;
    if (over <= 0)
        return widths;
    std::vector<long long> shareLeft;
    long long left = over;
    for (size_t i = 0; i < columns.size(); i++) {
        long long share = over * (columns[i].natural - columns[i].floor);
        widths[i] -= (int)(share / room);
        left -= share / room;
        shareLeft.push_back(share % room);
    }
    for (; left > 0; left--) {
        size_t most = (size_t)(std::max_element(shareLeft.begin(), shareLeft.end()) - shareLeft.begin());
        widths[most]--;
        shareLeft[most] = -1;
    }
    return widths;
}

void Line(const std::vector<std::string>& cells, const TextLayout& layout, std::string* text)
{
    size_t start = text->size();
    for (size_t i = 0; i < layout.columns.size(); i++) {
        size_t at = layout.columns[i].at;
        if (i)
            *text += kGap;
        *text += FitCells(cells[at], layout.widths[i], layout.table->numbers[at]);
    }
    size_t kept = text->find_last_not_of(' ');
    text->erase(kept == std::string::npos || kept < start ? start : kept + 1);
    *text += "\n";
}

// "N more columns: A, B, …, use --columns", as many titles as the width
// allows; on two lines when not even the count fits on one.
std::string LeftOut(const ShownTable& table, const std::vector<size_t>& left, int width)
{
    std::string head = std::to_string(left.size()) + (left.size() == 1 ? " more column:" : " more columns:");
    const std::string tail = ", use --columns";
    std::string names;
    size_t named = 0;
    for (; named < left.size(); named++) {
        std::string more = names + (named ? ", " : " ") + OneLine(table.titles[left[named]]);
        bool last = named + 1 == left.size();
        if (width && DisplayWidth(head + more + (last ? "" : ", …") + tail) > width)
            break;
        names = more;
    }
    if (named < left.size())
        names += named ? ", …" : " …";
    if (width && DisplayWidth(head + names + tail) > width)
        return head + "\nuse --columns\n";
    return head + names + tail + "\n";
}

}   // namespace

std::string TextStart(const ShownTable& table, const TextView& view, TextLayout* layout)
{
    layout->table = &table;
    layout->view = view;
    layout->columns = Fitting(Measure(table, view.columns), view.width, &layout->left);
    layout->vertical = view.vertical || layout->columns.size() < std::min<size_t>(2, view.columns.size());
    if (layout->vertical)
        return VerticalStart(layout);
    layout->widths = Narrowed(layout->columns, view.width);
    std::vector<std::string> rule(table.titles.size());
    for (size_t i = 0; i < layout->columns.size(); i++)
        rule[layout->columns[i].at] = std::string(layout->widths[i], '-');
    std::string text;
    Line(table.titles, *layout, &text);
    Line(rule, *layout, &text);
    return text;
}

void TextRecord(TextLayout* layout, const std::vector<std::string>& cells, std::string* text)
{
    if (layout->vertical)
        VerticalRecord(layout, cells, text);
    else
        Line(cells, *layout, text);
    layout->number++;
}

std::string TextEnd(const TextLayout& layout)
{
    if (layout.vertical || layout.left.empty())
        return std::string();
    return LeftOut(*layout.table, layout.left, layout.view.width);
}
