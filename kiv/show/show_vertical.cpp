// Each record as a block: a line "-[ record N ]", then one line per column,
// its title and a colon, padded so that the values line up, then the value.
// The titles take at most half the width, cut to end in "…"; a value wider
// than the rest of the line goes on over the next lines, under itself, so
// that nothing of it is lost, a number or a time least of all.
#include <algorithm>
#include "show_table.h"
#include "show_width.h"

namespace {

const int kWidestTitle = 32;

int TitleCells(const ShownTable& table, const TextView& view)
{
    int cells = 0;
    for (size_t c : view.columns)
        cells = std::max(cells, DisplayWidth(table.titles[c]) + 1);   // with its colon
    cells = std::min(cells, kWidestTitle);
    return view.width ? std::min(cells, view.width / 2) : cells;
}

// The title cut to leave room for its colon, the colon, the padding.
std::string Label(const std::string& title, int cells)
{
    std::string label = FitCells(title, cells - 1, false);
    label.erase(label.find_last_not_of(' ') + 1);
    return label + ":" + std::string((size_t)(cells - 1 - DisplayWidth(label)), ' ');
}

// The value in pieces of at most room cells (0: one piece), each on a line
// of its own after the first, indented by indent.
std::string Wrapped(const std::string& value, int room, const std::string& indent)
{
    std::string line = OneLine(value), text;
    int used = 0;
    for (size_t at = 0, before = 0; at < line.size(); before = at) {
        int w = CodePointWidth(NextCodePoint(line, &at));
        if (room && used + w > room && used > 0) {
            text += "\n" + indent;
            used = 0;
        }
        used += w;
        text.append(line, before, at - before);
    }
    return text;
}

}

std::string VerticalStart(TextLayout* layout)
{
    if (layout->table->records == 0)
        return "(no records)\n";
    layout->titleCells = TitleCells(*layout->table, layout->view);
    for (size_t c : layout->view.columns)
        layout->labels.push_back(Label(layout->table->titles[c], layout->titleCells));
    return std::string();
}

void VerticalRecord(const TextLayout* layout, const std::vector<std::string>& cells, std::string* text)
{
    const TextView& view = layout->view;
    int room = view.width ? view.width - layout->titleCells - 1 : 0;
    std::string indent((size_t)layout->titleCells + 1, ' ');
    *text += "-[ record " + std::to_string(layout->number + 1) + " ]\n";
    for (size_t i = 0; i < view.columns.size(); i++) {
        std::string line = layout->labels[i] + " " + Wrapped(cells[view.columns[i]], room, indent);
        line.erase(line.find_last_not_of(' ') + 1);
        *text += line + "\n";
    }
}
