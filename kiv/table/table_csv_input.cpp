#include "table_csv_input.h"
#include <cerrno>
#include <cstring>
#include "cp932_text.h"
#include "kiv_convert.h"

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
        size_t quote = text.find('"', i);
        size_t stop = quote == std::string::npos ? text.size() : quote;
        for (size_t k = i; k < stop; k++)
            *line += text[k] == '\n';
        cell->append(text, i, stop - i);
        i = stop;
        if (i == text.size())
            break;
        if (i + 1 < text.size() && text[i + 1] == '"') {
            *cell += '"';
            i++;
            continue;
        }
        i++;
        return true;
    }
    return false;
}

// One row from text[i]; i ends at its line end or the end of the text. The
// row's cells are reused, so that a stream of rows allocates no more once
// its rows' cells have their room.
bool TakeRow(const std::string& text, size_t& i, size_t* line, CsvRow* row, Problems* problems)
{
    row->line = *line;
    for (size_t k = 0;; k++) {
        if (k == row->cells.size())
            row->cells.push_back(CsvCell());
        CsvCell& cell = row->cells[k];
        cell.text.clear();
        cell.line = *line;
        if (i < text.size() && text[i] == '"' && !TakeQuoted(text, i, line, &cell.text)) {
            AddError(problems, cell.line, k + 1, "",
                     "a quote opened here is never closed: the rest of the file is one cell");
            row->cells.resize(k);
            return false;
        }
        size_t end = i;
        while (end < text.size() && text[end] != ',' && !LineEnd(text[end]))
            end++;
        cell.text.append(text, i, end - i);
        i = end;
        if (i == text.size() || text[i] != ',') {
            row->cells.resize(k + 1);
            return true;
        }
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

// ---- the rows of a file, a window at a time ---------------------------------------

namespace {

// Smaller than most tables, so that what a read holds stays the same past a
// few hundred rows.
const size_t kReadSize = 1 << 14;

size_t CountLineEnds(const std::string& text, size_t from)
{
    size_t n = 0;
    for (const char *p = text.data() + from, *end = text.data() + text.size();
         (p = (const char*)memchr(p, '\n', (size_t)(end - p))) != nullptr; p++)
        n++;
    return n;
}

// The next whole lines of the file into *piece (the rest of the file at its
// end, *end then set). False with *error when the file cannot be read.
bool ReadLines(FILE* file, const std::string& path, std::string* carry, std::string* piece, bool* end,
               std::string* error)
{
    char buffer[kReadSize];
    for (;;) {
        size_t n = fread(buffer, 1, sizeof buffer, file);
        if (n == 0 && ferror(file)) {
            *error = path + ": " + strerror(errno);
            return false;
        }
        const void* lineEnd = n ? memrchr(buffer, '\n', n) : nullptr;
        if (n == 0 || lineEnd) {
            *end = n == 0;
            size_t take = n == 0 ? 0 : (size_t)((const char*)lineEnd - buffer) + 1;
            piece->swap(*carry);
            piece->append(buffer, take);
            carry->assign(buffer + take, n - take);
            return true;
        }
        carry->append(buffer, n);
    }
}

// The line of the file's first byte that is not UTF-8 (the mark skipped),
// or 0; KIV_EXIT_READ on a read error.
int FirstNonUtf8LineOf(FILE* file, const std::string& path, bool bom, size_t* bad, std::string* error)
{
    std::string carry, piece;
    size_t lines = 0;
    bool end = false, first = true;
    *bad = 0;
    while (!end) {
        if (!ReadLines(file, path, &carry, &piece, &end, error))
            return KIV_EXIT_READ;
        if (first && bom)
            piece.erase(0, 3);
        first = false;
        if (size_t line = FirstNonUtf8Line(piece)) {
            *bad = lines + line;
            return KIV_EXIT_OK;
        }
        lines += CountLineEnds(piece, 0);
    }
    return KIV_EXIT_OK;
}

const char kNotUtf8[] = "bytes that are not UTF-8 (a file in code page 932 needs --encoding cp932)";

enum Filled { FILLED, FILL_FAILED, FILL_AGAIN };

// A piece of a stream that is checked as it is read: UTF-8, or the problem
// (a file that must be UTF-8), or the stream back at its start as code page
// 932.
Filled CheckPiece(CsvRowStream* s, const std::string& piece, Problems* problems, std::string* error)
{
    size_t bad = FirstNonUtf8Line(piece);
    if (!bad) {
        s->linesBefore += CountLineEnds(piece, 0);
        return FILLED;
    }
    if (s->encoding == ENCODING_UTF8 || s->bom) {
        AddError(problems, s->linesBefore + bad, 0, "", kNotUtf8);
        return FILL_FAILED;
    }
    s->cp932 = true;
    return RewindCsvRows(s, error) == KIV_EXIT_OK ? FILL_AGAIN : FILL_FAILED;
}

// More of the file into the window, the rows before stream->at dropped.
Filled Fill(CsvRowStream* s, Problems* problems, std::string* error)
{
    std::string piece;
    bool skipBom = !s->cp932 && ftell(s->file) == 0;
    if (!ReadLines(s->file, s->path, &s->raw, &piece, &s->end, error))
        return FILL_FAILED;
    if (skipBom && piece.compare(0, 3, kBom) == 0)
        piece.erase(0, 3);
    if (!s->cp932 && s->checking) {
        Filled checked = CheckPiece(s, piece, problems, error);
        if (checked != FILLED)
            return checked;
    }
    s->text.erase(0, s->at);
    s->at = 0;
    if (!s->cp932) {
        s->text += piece;
        return FILLED;
    }
    std::string utf8, what;
    if (!Cp932ToUtf8(piece, "", &utf8, &what)) {
        // Again with the lines before it, for the line number in the message;
        // what is ": line L, column C: what", no name before it.
        Cp932ToUtf8(std::string(s->linesBefore, '\n') + piece, "", &utf8, &what);
        AddError(problems, 0, 0, "", what.substr(2) + " (read as code page 932)");
        return FILL_FAILED;
    }
    s->linesBefore += CountLineEnds(piece, 0);
    s->text += utf8;
    return FILLED;
}

}   // namespace

CsvRowStream::~CsvRowStream()
{
    if (file)
        fclose(file);
}

int OpenCsvRows(CsvRowStream* s, const std::string& path, TextEncoding encoding, Problems* problems,
                std::string* error, bool asRead)
{
    s->path = path;
    s->file = fopen(path.c_str(), "rb");
    if (!s->file) {
        *error = path + ": " + strerror(errno);
        return KIV_EXIT_READ;
    }
    s->encoding = encoding;
    s->cp932 = encoding == ENCODING_CP932;
    if (!s->cp932) {
        char head[3] = {};
        s->bom = fread(head, 1, 3, s->file) == 3 && memcmp(head, kBom, 3) == 0;
        rewind(s->file);
    }
    if (!s->cp932 && asRead) {
        int rc = RewindCsvRows(s, error);
        s->checking = true;
        return rc;
    }
    if (!s->cp932) {
        size_t bad = 0;
        if (FirstNonUtf8LineOf(s->file, path, s->bom, &bad, error) != KIV_EXIT_OK)
            return KIV_EXIT_READ;
        if (bad && (encoding == ENCODING_UTF8 || s->bom)) {
            AddError(problems, bad, 0, "", kNotUtf8);
            s->end = true;
            return KIV_EXIT_OK;
        }
        s->cp932 = bad != 0;
    }
    return RewindCsvRows(s, error);
}

int RewindCsvRows(CsvRowStream* s, std::string* error)
{
    s->raw.clear();
    s->text.clear();
    s->at = 0;
    s->line = 1;
    s->linesBefore = 0;
    s->end = false;
    s->checking = false;   // a second pass reads what the first found
    if (fseek(s->file, 0, SEEK_SET) != 0) {
        *error = s->path + ": " + strerror(errno);
        return KIV_EXIT_READ;
    }
    return KIV_EXIT_OK;
}

CsvNext NextCsvRow(CsvRowStream* s, CsvRow* row, Problems* problems, std::string* error)
{
    for (;;) {
        if (s->at == s->text.size() && s->end)
            return CSV_DONE;
        size_t i = s->at, line = s->line;
        Problems tried;
        bool whole = s->at < s->text.size() && TakeRow(s->text, i, &line, row, &tried);
        // A row that reaches the window's end may go on in the file.
        if (s->at == s->text.size() || (i == s->text.size() && !s->end)) {
            Filled filled = Fill(s, problems, error);
            if (filled != FILLED)
                return filled == FILL_AGAIN ? CSV_AGAIN : CSV_FAILED;
            continue;
        }
        if (!whole) {
            AddError(problems, tried.list[0].line, tried.list[0].column, "", tried.list[0].what);
            s->at = s->text.size();
            return CSV_ROW;
        }
        if (i < s->text.size() && s->text[i] == '\r')
            i++;
        if (i < s->text.size() && s->text[i] == '\n')
            i++;
        s->at = i;
        s->line = line + 1;
        return CSV_ROW;
    }
}
