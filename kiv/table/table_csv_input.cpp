#include "table_csv_input.h"
#include "cp932_text.h"

namespace {

const char kBom[] = "\xEF\xBB\xBF";

// Length of the UTF-8 sequence at text[i], or 0 when there is none.
size_t Utf8Length(const std::string& text, size_t i)
{
    unsigned char c = (unsigned char)text[i];
    size_t n = c < 0x80                          ? 1
               : (c & 0xE0) == 0xC0 && c >= 0xC2 ? 2
               : (c & 0xF0) == 0xE0              ? 3
               : (c & 0xF8) == 0xF0 && c <= 0xF4 ? 4
                                                 : 0;
    if (n == 0 || i + n > text.size())
        return 0;
    for (size_t k = 1; k < n; k++)
        if (((unsigned char)text[i + k] & 0xC0) != 0x80)
            return 0;
    return n;
}

bool LineEnd(char c) { return c == '\r' || c == '\n'; }

// A quoted field from text[i], the opening quote; i ends after the closing
// quote. False when the file ends first.
bool TakeQuoted(const std::string& text, size_t& i, size_t* line, std::string* cell)
{
    for (i++; i < text.size(); i++) {
        char c = text[i];
        if (c == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                *cell += '"';
                i++;
                continue;
            }
            i++;
            return true;
        }
        *line += c == '\n';
        *cell += c;
    }
    return false;
}

// One row from text[i]; i ends at its line end or the end of the text.
bool TakeRow(const std::string& text, size_t& i, size_t* line, CsvRow* row, Problems* problems)
{
    row->line = *line;
    for (;;) {
        CsvCell cell{"", *line};
        if (i < text.size() && text[i] == '"' && !TakeQuoted(text, i, line, &cell.text)) {
            AddError(problems, cell.line, row->cells.size() + 1, "",
                     "a quote opened here is never closed: the rest of the file is one cell");
            return false;
        }
        while (i < text.size() && text[i] != ',' && !LineEnd(text[i]))
            cell.text += text[i++];
        row->cells.push_back(cell);
        if (i == text.size() || text[i] != ',')
            return true;
        i++;
    }
}

}   // namespace

size_t FirstNonUtf8Line(const std::string& text)
{
    size_t line = 1;
    for (size_t i = 0; i < text.size();) {
        size_t n = Utf8Length(text, i);
        if (n == 0)
            return line;
        line += text[i] == '\n';
        i += n;
    }
    return 0;
}

bool DecodeCsvText(const std::string& bytes, TextEncoding encoding, Problems* problems, std::string* text)
{
    bool bom = bytes.compare(0, 3, kBom) == 0;
    if (encoding != ENCODING_CP932) {
        std::string body = bom ? bytes.substr(3) : bytes;
        size_t bad = FirstNonUtf8Line(body);
        if (!bad) {
            *text = body;
            return true;
        }
        if (encoding == ENCODING_UTF8 || bom) {
            AddError(problems, bad, 0, "",
                     "bytes that are not UTF-8 (a file in code page 932 needs --encoding cp932)");
            return false;
        }
    }
    std::string error;
    if (Cp932ToUtf8(bytes, "", text, &error))
        return true;
    // error is ": line L, column C: what", no name before it
    AddError(problems, 0, 0, "", error.substr(2) + " (read as code page 932)");
    return false;
}

void SplitCsvRows(const std::string& text, std::vector<CsvRow>* rows, Problems* problems)
{
    size_t i = 0, line = 1;
    while (i < text.size()) {
        CsvRow row;
        bool whole = TakeRow(text, i, &line, &row, problems);
        rows->push_back(row);
        if (!whole)
            return;
        if (i < text.size() && text[i] == '\r')
            i++;
        if (i < text.size() && text[i] == '\n')
            i++;
        line++;
    }
}
