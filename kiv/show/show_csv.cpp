// A table CSV for kiv show: its cells as from-csv reads them (UTF-8 or code
// page 932, a byte-order mark passed over) and, from the schema beside it,
// which columns hold numbers, times and pictures. A CSV without a schema shows as
// text.
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

// Every record as wide as the titles.
int ReadRows(const std::string& path, std::vector<CsvRow>* rows, std::string* error)
{
    std::string bytes, text;
    int rc = ReadWholeFile(path, &bytes, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    Problems problems;
    problems.file = path;
    if (DecodeCsvText(bytes, ENCODING_DETECT, &problems, &text))
        SplitCsvRows(text, rows, &problems);
    for (size_t r = 1; r < rows->size() && !problems.errors; r++) {
        size_t cells = (*rows)[r].cells.size(), titles = (*rows)[0].cells.size();
        if (cells != titles)
            AddError(&problems, (*rows)[r].line, 0, "",
                     std::to_string(cells) + " cells where the titles are " + std::to_string(titles));
    }
    return problems.errors ? Refuse(problems, error) : KIV_EXIT_OK;
}

std::vector<std::string> Texts(const CsvRow& row)
{
    std::vector<std::string> texts;
    for (const CsvCell& cell : row.cells)
        texts.push_back(cell.text);
    return texts;
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

}

int LoadCsvShown(const std::string& path, ShownTable* table, std::string* error)
{
    std::vector<CsvRow> rows;
    int rc = ReadRows(path, &rows, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    for (size_t r = 0; r < rows.size(); r++) {
        if (r == 0)
            table->titles = Texts(rows[r]);
        else
            table->rows.push_back(Texts(rows[r]));
    }
    table->numbers.assign(table->titles.size(), false);
    table->times.assign(table->titles.size(), false);
    table->pictures.assign(table->titles.size(), false);
    table->name = WithoutExtension(LeafOf(path));
    table->folder = FolderOf(path);
    return ReadKinds(path, table, error);
}
