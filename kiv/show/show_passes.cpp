// The two passes over a shown table. The first keeps, per column, only the
// width of its widest cell, and the count of records: all that the layouts
// need before their first line.
#include <algorithm>
#include "kiv_convert.h"
#include "show_table.h"
#include "show_width.h"

namespace {

int Pass(const ShownInput& input, ShownTable* table, const ShownRowTaker& take, std::string* error)
{
    return input.isKcsv || input.kcsv ? KcsvShownPass(input, table, take, error)
                                      : CsvShownPass(input, table, take, error);
}

}   // namespace

int MeasureShown(const ShownInput& input, ShownTable* table, std::string* error)
{
    table->records = 0;
    table->widest.clear();
    auto measure = [table](const ShownRow& row, std::string*) {
        const std::vector<std::string>& cells = *row.cells;
        if (table->widest.size() < cells.size())
            table->widest.resize(cells.size(), 0);
        for (size_t c = 0; c < cells.size(); c++)
            table->widest[c] = std::max(table->widest[c], DisplayWidth(cells[c]));
        table->records++;
        return (int)KIV_EXIT_OK;
    };
    int rc = Pass(input, table, measure, error);
    table->widest.resize(table->titles.size(), 0);
    return rc;
}

int EachShownRow(const ShownInput& input, const ShownRowTaker& take, std::string* error)
{
    ShownTable again;
    return Pass(input, &again, take, error);
}
