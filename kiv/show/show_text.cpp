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

// One shown column: its place in the table and its widths.
struct Column {
    size_t at;
    int natural;   // its widest cell, title included, capped at kWidest unless a value needs more
    int floor;     // the narrowest it may become
};

bool Whole(const ShownTable& table, size_t c) { return table.numbers[c] || table.times[c]; }

std::vector<Column> Measure(const ShownTable& table, const std::vector<size_t>& shown)
{
    std::vector<Column> columns;
    for (size_t c : shown) {
        int title = DisplayWidth(table.titles[c]), cells = 0;
        for (const std::vector<std::string>& row : table.rows)
            cells = std::max(cells, DisplayWidth(row[c]));
        Column column = {c, std::min(std::max(title, cells), kWidest), 0};
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
std::vector<Column> Fitting(const std::vector<Column>& columns, int width, std::vector<size_t>* left)
{
    std::vector<Column> kept;
    int used = -kGapCells;
    for (const Column& column : columns) {
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
std::vector<int> Narrowed(const std::vector<Column>& columns, int width)
{
    std::vector<int> widths;
    long long line = -kGapCells, room = 0;
    for (const Column& column : columns) {
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

std::string Line(const std::vector<std::string>& cells, const std::vector<Column>& columns,
                 const std::vector<int>& widths, const ShownTable& table)
{
    std::string line;
    for (size_t i = 0; i < columns.size(); i++)
        line += (i ? kGap : "") + FitCells(cells[columns[i].at], widths[i], table.numbers[columns[i].at]);
    line.erase(line.find_last_not_of(' ') + 1);
    return line + "\n";
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

}

std::string TextTable(const ShownTable& table, const TextView& view)
{
    std::vector<size_t> left;
    std::vector<Column> columns = Fitting(Measure(table, view.columns), view.width, &left);
    if (view.vertical || columns.size() < std::min<size_t>(2, view.columns.size()))
        return VerticalText(table, view);
    std::vector<int> widths = Narrowed(columns, view.width);
    std::vector<std::string> rule(table.titles.size());
    for (size_t i = 0; i < columns.size(); i++)
        rule[columns[i].at] = std::string(widths[i], '-');
    std::string text = Line(table.titles, columns, widths, table) + Line(rule, columns, widths, table);
    for (const std::vector<std::string>& row : table.rows)
        text += Line(row, columns, widths, table);
    return left.empty() ? text : text + LeftOut(table, left, view.width);
}
