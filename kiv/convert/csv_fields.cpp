// Spreadsheets split an unquoted line at commas, semicolons and tabs alike
// and trim blanks at a cell's ends, so a cell holding any of them is quoted.
// They also read every unquoted or quoted cell that looks like a number as a
// number, losing leading zeros and digits beyond the 15th; nothing in the
// CSV can stop that, but quoting those cells lets one import choice ("quoted
// fields as text") keep them, so the cells that would change are quoted too.
#include "csv_fields.h"
#include <cstring>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A text a spreadsheet takes for a number, date or time: it starts with a
// digit, or with a sign or point before one. A few more cells are quoted
// than need it, which costs nothing.
bool LooksNumeric(const std::string& cell)
{
    size_t at = cell.find_first_not_of("+-.");
    return at != std::string::npos && at <= 2 && IsDigit(cell[at]);
}

// Digits a binary double cannot hold: more than 15 significant ones, from
// the first digit other than 0 to the last, before any exponent.
bool BeyondDouble(const std::string& number)
{
    size_t digits = 0, significant = 0;   // digits seen, and up to the last non-zero one
    bool started = false;
    for (size_t i = 0; i < number.size() && number[i] != 'E' && number[i] != 'e'; i++) {
        if (!IsDigit(number[i]) || (!started && number[i] == '0'))
            continue;
        started = true;
        digits++;
        if (number[i] != '0')
            significant = digits;
    }
    return significant > 15;
}

bool ChangedAsNumber(const std::string& cell, const ModelField* field)
{
    if (!field || field->kind == FK_TEXT)
        return LooksNumeric(cell);
    if (field->kind == FK_NUMBER)
        return BeyondDouble(cell);
    // A time of digits alone ("05", "0105") loses its leading zero, one
    // with a fraction ("23:59:58.12") gains digits.
    bool digits = true;
    for (char c : cell)
        digits = digits && IsDigit(c);
    return field->kind == FK_TIME &&
           ((digits && cell.size() > 1 && cell[0] == '0') || cell.find('.') != std::string::npos);
}

// A character a spreadsheet splits or ends a cell at, or a quote.
bool HasSeparator(const std::string& cell)
{
    static const struct Separators {
        bool is[256] = {};
        Separators()
        {
            for (unsigned char c : std::string(",;\t\"\r\n"))
                is[c] = true;
        }
    } separators;
    for (unsigned char c : cell)
        if (separators.is[c])
            return true;
    return false;
}

// Appends the cell to line, quoted when it needs it.
void AppendCsvField(std::string* line, const std::string& cell, const ModelField* field)
{
    bool quote = HasSeparator(cell) || (!cell.empty() && (cell.front() == ' ' || cell.back() == ' ')) ||
                 ChangedAsNumber(cell, field);
    if (!quote) {
        line->append(cell);
        return;
    }
    line->push_back('"');
    for (size_t at = 0, q; at <= cell.size(); at = q + 1) {
        q = cell.find('"', at);
        if (q == std::string::npos) {
            line->append(cell, at, std::string::npos);
            break;
        }
        line->append(cell, at, q + 1 - at).push_back('"');   // a quote is written twice
    }
    line->push_back('"');
}

}   // namespace

void CsvLineInto(const std::vector<std::string>& cells, const std::vector<ModelField>* fields,
                 std::string* line)
{
    line->clear();
    size_t size = 2;
    for (const std::string& cell : cells)
        size += cell.size() + 3;   // room for the quotes and the comma most cells take
    line->reserve(size);
    for (size_t i = 0; i < cells.size(); i++) {
        const ModelField* field = fields && i < fields->size() ? &(*fields)[i] : nullptr;
        if (i)
            line->push_back(',');
        AppendCsvField(line, cells[i], field);
    }
    // A line of one empty cell is written as a quoted one: readers of CSV
    // skip an empty line, and the record with it.
    if (cells.size() == 1 && cells[0].empty())
        line->append("\"\"");
    line->append("\r\n");
}

std::string CsvLine(const std::vector<std::string>& cells, const std::vector<ModelField>* fields)
{
    std::string line;
    CsvLineInto(cells, fields, &line);
    return line;
}
