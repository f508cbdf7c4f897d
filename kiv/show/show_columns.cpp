// The columns a --columns list names. An item is a title as the table has
// it, or else a column's number from 1; a title made of digits thus names
// its own column, and any other column is still reached by its number. A
// column may be named twice, as the user may want it beside two others.
#include <cstdlib>
#include "show_table.h"
#include "show_width.h"

namespace {

bool ByTitle(const ShownTable& table, const std::string& name, size_t* column)
{
    for (size_t c = 0; c < table.titles.size(); c++) {
        if (table.titles[c] == name) {
            *column = c;
            return true;
        }
    }
    return false;
}

bool ByNumber(const ShownTable& table, const std::string& name, size_t* column)
{
    if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long number = strtol(name.c_str(), nullptr, 10);
    if (number < 1 || (size_t)number > table.titles.size())
        return false;
    *column = (size_t)number - 1;
    return true;
}

std::string Known(const ShownTable& table)
{
    std::string known;
    for (size_t c = 0; c < table.titles.size(); c++)
        known += (c ? ", " : "") + std::to_string(c + 1) + " " + OneLine(table.titles[c]);
    return known;
}

}

bool PickColumns(const ShownTable& table, const std::string& list, std::vector<size_t>* columns,
                 std::string* error)
{
    for (size_t at = 0; at <= list.size();) {
        size_t comma = list.find(',', at);
        comma = comma == std::string::npos ? list.size() : comma;
        std::string name = list.substr(at, comma - at);
        size_t column = 0;
        if (!ByTitle(table, name, &column) && !ByNumber(table, name, &column)) {
            *error = "has no column \"" + OneLine(name) + "\"; its columns are " + Known(table);
            return false;
        }
        columns->push_back(column);
        at = comma + 1;
    }
    return true;
}
