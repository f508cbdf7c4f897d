// Both CSVs are read by the core's own record reader, so a cell is what the
// conversion would take; under --utf8 the file as written and its code page
// 932 form are read side by side, as their rows are the same.
#include "classic_cells.h"
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "cell_values.h"
#include "number_text.h"
#include "table_cells.h"
#include "csv/csv_record.h"
#include "kcsv/csv_to_kcsv.h"
#include "kcsv/kcsv_format.h"
#include "textstream.h"

namespace {

struct Column {
    FieldKind kind;
    std::string title;   // UTF-8, for the report
};

std::vector<Column> Columns(const std::string& layout)
{
    std::vector<Column> columns;
    LayoutFile file = {};
    TextStream* ts = TextOpenMemory(layout.data(), layout.size());
    bool read = ts && ReadLayoutStream(ts, &file);
    if (ts)
        TextClose(ts);
    for (int i = 0; read && i < file.fieldCount; i++) {
        std::string title = file.fields[i].title;
        title.erase(title.find_last_not_of(' ') + 1);
        columns.push_back({file.fields[i].kind, Cp932ToUtf8Lenient(title)});
    }
    return columns;
}

// A stream over bytes in memory reads them where they lie.
size_t Offset(TextStream* ts, const std::string& text)
{
    return (size_t)(reinterpret_cast<TextReadWindow*>(ts)->next - (const unsigned char*)text.data());
}

std::string Trimmed(const char* value)
{
    std::string v = value;
    size_t from = v.find_first_not_of(" \t"), to = v.find_last_not_of(" \t");
    return from == std::string::npos ? std::string() : v.substr(from, to - from + 1);
}

void AppendQuoted(std::string* out, const char* value)
{
    *out += '"';
    for (const char* p = value; *p; p++)
        *out += *p == '"' ? "\"\"" : std::string(1, *p);
    *out += '"';
}

// Why the core would leave a picture cell empty: a name it takes for no
// picture, or a file it cannot read (opened from the current folder, as the
// core opens it); "" when it embeds the file. shown is the cell as written.
std::string PictureProblem(const char* path, const std::string& shown)
{
    if (strlen(path) <= 5)
        return "the picture " + shown + ": a name of 5 bytes or fewer is taken for none; rename the file";
    if (!ImageFormatOfPath(path))
        return "the picture " + shown + " is not named .jpg, .jpeg, .gif or .png";
    int fd = open(path, O_RDONLY);
    struct stat st;
    std::string why;
    if (fd < 0)
        why = strerror(errno);
    else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        why = "not a file";
    if (fd >= 0)
        close(fd);
    return why.empty() ? why : "the picture " + shown + ": " + why;
}

// One record's cells; *value is the number to write for the core instead.
void CheckRecord(const std::vector<Column>& columns, const CsvRecord& record, const CsvRecord* given,
                 const ClassicChecks& checks, size_t line, Problems* problems,
                 std::vector<std::string>* numbers)
{
    bool decimalComma = checks.decimalComma;
    numbers->assign((size_t)CSV_MAX_FIELDS, std::string());
    for (size_t i = 0; i < columns.size() && i < (size_t)CSV_MAX_FIELDS; i++) {
        const char* value = record.fields[i];
        if (!value)
            continue;
        std::string what, warning, slot;
        if (columns[i].kind == FK_NUMBER) {
            std::string number = Trimmed(value), plain;
            if (number.empty())
                continue;
            if (ParseNumberCell(number, decimalComma, &slot, &what, &warning) &&
                TakeNumberText(number, decimalComma, &plain, &what))
                (*numbers)[i] = plain;
        } else if (columns[i].kind == FK_TEXT) {
            const char* wrote = given ? given->fields[i] : nullptr;
            warning = ChangedCharacters(wrote ? std::string(wrote) : Cp932ToUtf8Lenient(value), value);
        } else if (columns[i].kind == FK_IMAGE && *value) {
            const char* wrote = given ? given->fields[i] : nullptr;
            std::string problem = PictureProblem(value,
                                                 wrote ? std::string(wrote) : Cp932ToUtf8Lenient(value));
            if (problem.empty())
                continue;
            if (checks.missingPicturesEmpty)
                warning = problem + "; the cell is left empty";
            else
                what = problem + " (--missing-pictures=empty leaves such cells empty)";
        }
        if (!what.empty())
            AddError(problems, line, i + 1, columns[i].title, what);
        else if (!warning.empty())
            AddWarning(problems, line, i + 1, columns[i].title, warning);
    }
}

void AppendRecord(const CsvRecord& record, int n, const std::vector<std::string>& numbers, std::string* out)
{
    for (int i = 0; i < n; i++) {
        if (i)
            *out += ',';
        if (!numbers[(size_t)i].empty())
            AppendQuoted(out, numbers[(size_t)i].c_str());
        else if (record.fields[i])
            AppendQuoted(out, record.fields[i]);
    }
    *out += "\r\n";
}

}   // namespace

void CheckClassicCells(const std::string& layout, std::string* csv, const std::string& given,
                       const ClassicChecks& checks, Problems* problems)
{
    bool decimalComma = checks.decimalComma;
    std::vector<Column> columns = Columns(layout);
    TextStream* ts = TextOpenMemory(csv->data(), csv->size());
    TextStream* written = given.empty() ? nullptr : TextOpenMemory(given.data(), given.size());
    if (!ts)
        return;
    CsvRecord record, wrote;
    std::vector<std::string> numbers;
    std::string again;
    size_t line = 1, counted = 0;
    while (!TextEof(ts)) {
        size_t start = Offset(ts, *csv);
        line += (size_t)std::count(csv->begin() + (long)counted, csv->begin() + (long)start, '\n');
        counted = start;
        int n = ReadCsvRecord(ts, &record);
        bool side = written && ReadCsvRecord(written, &wrote) == n;
        if (n == 0) {
            if (written)
                FreeCsvRecord(&wrote);
            break;
        }
        CheckRecord(columns, record, side ? &wrote : nullptr, checks, line, problems, &numbers);
        if (decimalComma)
            AppendRecord(record, n, numbers, &again);
        FreeCsvRecord(&record);
        if (written)
            FreeCsvRecord(&wrote);
    }
    TextClose(ts);
    if (written)
        TextClose(written);
    if (decimalComma && problems->errors == 0)
        *csv = again;
}
