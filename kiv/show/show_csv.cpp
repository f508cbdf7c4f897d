// A table CSV for kiv show: its cells as from-csv reads them (UTF-8 or code
// page 932, a byte-order mark passed over), a window at a time, and, from
// the schema beside it, which columns hold numbers, times and pictures. A
// CSV without a schema shows as text.
#include <sys/stat.h>
#include "file_io.h"
#include "kiv_convert.h"
#include "show_table.h"
#include "staging.h"
#include "table_csv_input.h"
#include "table_model.h"

namespace {

// The first problem of the file as the user's one line.
int Refuse(const Problems& problems, std::string* error)
{
    *error = ProblemLines(problems).front();
    return KIV_EXIT_CONVERT;
}

std::string WithoutExtension(const std::string& path)
{
    size_t dot = path.find_last_of('.'), slash = path.find_last_of('/');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? path
                                                                                   : path.substr(0, dot);
}

// The field kinds from the schema, when there is one.
int ReadKinds(const std::string& path, ShownTable* table, std::string* error)
{
    std::string schemaPath = WithoutExtension(path) + ".schema", text, why;
    struct stat st;
    if (stat(schemaPath.c_str(), &st) != 0)
        return KIV_EXIT_OK;
    int rc = ReadWholeFile(schemaPath, &text, error);
    TableModel model;
    std::vector<SchemaRow> kept;
    if (rc == KIV_EXIT_OK && !ReadSchema(text, &model, &kept, &why)) {
        *error = schemaPath + ": " + why;
        rc = KIV_EXIT_CONVERT;
    }
    for (size_t c = 0; rc == KIV_EXIT_OK && c < model.fields.size() && c < table->titles.size(); c++) {
        table->numbers[c] = model.fields[c].kind == FK_NUMBER;
        table->times[c] = model.fields[c].kind == FK_TIME;
        table->pictures[c] = model.fields[c].kind == FK_IMAGE;
    }
    if (!model.name.empty())
        table->name = model.name;
    return rc;
}

// The row's texts into cells, whose room is reused from row to row.
void Texts(const CsvRow& row, std::vector<std::string>* cells)
{
    cells->resize(row.cells.size());
    for (size_t c = 0; c < row.cells.size(); c++)
        (*cells)[c].assign(row.cells[c].text);
}

}   // namespace

// Every record must be as wide as the titles; that is said only when the
// file reads as text to its end, as a file that does not outranks it. No
// record is handed out once either is found.
int CsvShownPass(const ShownInput& input, ShownTable* table, const ShownRowTaker& take, std::string* error)
{
    Problems problems, widths;
    problems.file = widths.file = input.path;
    CsvRowStream csv;
    int rc = OpenCsvRows(&csv, input.path, ENCODING_DETECT, &problems, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    CsvRow row;
    std::vector<std::string> cells;
    int taken = KIV_EXIT_OK;
    std::string takeError;
    table->titles.clear();
    CsvNext next;
    for (size_t r = 0; (next = NextCsvRow(&csv, &row, &problems, error)) == CSV_ROW; r++) {
        if (r == 0) {
            Texts(row, &table->titles);
            continue;
        }
        size_t count = row.cells.size(), titles = table->titles.size();
        if (count != titles && !widths.errors)
            AddError(&widths, row.line, 0, "",
                     std::to_string(count) + " cells where the titles are " + std::to_string(titles));
        if (problems.errors || widths.errors || taken != KIV_EXIT_OK)
            continue;
        Texts(row, &cells);
        taken = take({&cells, nullptr}, &takeError);
    }
    if (next == CSV_FAILED && !error->empty())
        return KIV_EXIT_READ;
    if (problems.errors)
        return Refuse(problems, error);
    if (widths.errors)
        return Refuse(widths, error);
    table->numbers.assign(table->titles.size(), false);
    table->times.assign(table->titles.size(), false);
    table->pictures.assign(table->titles.size(), false);
    table->name = WithoutExtension(LeafOf(input.path));
    table->folder = FolderOf(input.path);
    rc = ReadKinds(input.path, table, error);
    if (rc == KIV_EXIT_OK && taken != KIV_EXIT_OK) {
        *error = takeError;
        rc = taken;
    }
    return rc;
}
