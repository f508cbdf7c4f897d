// A table CSV for kiv show: its cells (RFC 4180, UTF-8 or code page 932, a
// byte-order mark passed over) and, from the schema beside it, which columns
// hold numbers and pictures. A CSV without a schema shows as text.
#include <sys/stat.h>
#include "cp932_text.h"
#include "file_io.h"
#include "kiv_convert.h"
#include "show_table.h"
#include "show_width.h"
#include "staging.h"
#include "table_model.h"

namespace {

typedef std::vector<std::vector<std::string>> Rows;

bool IsUtf8(const std::string& bytes)
{
    for (size_t at = 0, before = 0; at < bytes.size(); before = at)
        if (NextCodePoint(bytes, &at) == 0xFFFD && bytes.compare(before, 3, "\xEF\xBF\xBD") != 0)
            return false;
    return true;
}

// One field from *at, which moves to the separator or line end after it;
// false for a quote left open.
bool Field(const std::string& text, size_t* at, std::string* field)
{
    field->clear();
    if (*at >= text.size() || text[*at] != '"') {
        size_t end = text.find_first_of(",\r\n", *at);
        end = end == std::string::npos ? text.size() : end;
        *field = text.substr(*at, end - *at);
        *at = end;
        return true;
    }
    for (size_t i = *at + 1; i < text.size(); i++) {
        if (text[i] != '"')
            *field += text[i];
        else if (i + 1 < text.size() && text[i + 1] == '"')
            *field += text[++i];
        else {
            *at = i + 1;
            return true;
        }
    }
    return false;
}

// The rows of text; 0, or the line of a quote left open.
size_t SplitRows(const std::string& text, Rows* rows)
{
    size_t at = 0, line = 1;
    while (at < text.size()) {
        rows->emplace_back();
        for (bool more = true; more;) {
            size_t start = at;
            rows->back().emplace_back();
            if (!Field(text, &at, &rows->back().back()))
                return line;
            for (size_t i = start; i < at; i++)
                line += text[i] == '\n';
            more = at < text.size() && text[at] == ',';
            at += more;
        }
        at += text.compare(at, 2, "\r\n") == 0 ? 2 : at < text.size();
        line++;
    }
    return 0;
}

int ReadCells(const std::string& path, Rows* rows, std::string* error)
{
    std::string bytes, text;
    int rc = ReadWholeFile(path, &bytes, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    if (IsUtf8(bytes))
        text = bytes;
    else if (!Cp932ToUtf8(bytes, path, &text, error))
        return KIV_EXIT_CONVERT;
    if (size_t line = SplitRows(text, rows)) {
        *error = path + ": line " + std::to_string(line) + ": a quote is left open";
        return KIV_EXIT_CONVERT;
    }
    return KIV_EXIT_OK;
}

int CheckWidths(const Rows& rows, const std::string& path, std::string* error)
{
    for (size_t r = 1; r < rows.size(); r++) {
        if (rows[r].size() != rows[0].size()) {
            *error = path + ": record " + std::to_string(r) + " has " + std::to_string(rows[r].size()) +
                     " cells, the titles " + std::to_string(rows[0].size());
            return KIV_EXIT_CONVERT;
        }
    }
    return KIV_EXIT_OK;
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
        table->pictures[c] = model.fields[c].kind == FK_IMAGE;
    }
    if (!model.name.empty())
        table->name = model.name;
    return rc;
}

}

int LoadCsvShown(const std::string& path, ShownTable* table, std::string* error)
{
    Rows rows;
    int rc = ReadCells(path, &rows, error);
    if (rc == KIV_EXIT_OK)
        rc = CheckWidths(rows, path, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    if (!rows.empty()) {
        table->titles = rows[0];
        table->rows.assign(rows.begin() + 1, rows.end());
    }
    table->numbers.assign(table->titles.size(), false);
    table->pictures.assign(table->titles.size(), false);
    table->name = WithoutExtension(LeafOf(path));
    table->folder = FolderOf(path);
    return ReadKinds(path, table, error);
}
