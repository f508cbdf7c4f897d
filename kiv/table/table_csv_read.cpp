// The table is built a record at a time: the header records the schema kept
// (or, for a schema written by hand, those the core's desktop writer makes
// from its fields), then one data record per CSV row, into a staged file
// that is committed only when no cell has a problem (push builds the block
// to send in memory the same way).
#include "table_csv_read.h"
#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include "background_file.h"
#include "cell_values.h"
#include "cp932_text.h"
#include "file_io.h"
#include "header_renew.h"
#include "kiv_convert.h"
#include "staging.h"
#include "data_records.h"
#include "kcsv/csv_to_kcsv.h"
#include "kcsv/field_codecs.h"
#include "memfiles.h"

namespace {

const size_t kTitleMax = LAYOUT_TITLE_WIDTH - 1;
const size_t kNameMax = LAYOUT_NAME_WIDTH - 1;
const char kLineEnd[] = "\r\n";

std::string SchemaPathOf(const std::string& csvPath)
{
    size_t slash = csvPath.find_last_of('/'), dot = csvPath.find_last_of('.');
    bool ext = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (ext ? csvPath.substr(0, dot) : csvPath) + ".schema";
}

std::string Cp932(const std::string& utf8)
{
    std::string out, error;
    return Utf8ToCp932(utf8, "", &out, &error) ? out : std::string();
}

// A name or title in code page 932 within max bytes; else a problem.
void CheckLabel(Problems* p, size_t line, size_t column, const std::string& what, const std::string& text,
                size_t max)
{
    std::string cp932, error;
    if (!Utf8ToCp932(text, "", &cp932, &error))
        AddError(p, line, column, "", what + " \"" + text + "\" has a character with no code page 932 form");
    else if (cp932.size() > max)
        AddError(p, line, column, "",
                 what + " \"" + text + "\" takes " + std::to_string(cp932.size()) +
                     " bytes in code page 932, " + std::to_string(max) + " at most");
}

void CheckHeaderRow(const TableModel& model, const CsvRow& header, Problems* p)
{
    CheckLabel(p, 0, 0, "the table's name in the schema", model.name, kNameMax);
    if (header.cells.size() != model.fields.size()) {
        AddError(p, header.line, 0, "",
                 "the header has " + std::to_string(header.cells.size()) + " columns, the schema " +
                     std::to_string(model.fields.size()));
        return;
    }
    size_t column = model.conflictColumn ? 2 : 1;   // the CSV's, a merge's conflict column counted
    for (size_t i = 0; i < header.cells.size(); i++) {
        if (header.cells[i].text.find_first_of("\r\n") != std::string::npos)
            AddError(p, header.line, i + column, "", "a line break inside a title");
        else
            CheckLabel(p, header.line, i + column, "the title", header.cells[i].text, kTitleMax);
        // A new title goes to the handheld in its own character set, as a text cell does.
        std::string cp932, error;
        if (header.cells[i].text != model.fields[i].title &&
            Utf8ToCp932(header.cells[i].text, "", &cp932, &error)) {
            std::string warning = ChangedCharacters(header.cells[i].text, cp932);
            if (!warning.empty())
                AddWarning(p, header.line, i + column, "",
                           "the title \"" + header.cells[i].text + "\": " + warning);
        }
    }
}

// The header the core's desktop writer makes for the fields, from a layout
// file in memory and an empty CSV.
std::vector<std::string> DesktopHeader(const TableModel& model)
{
    std::string layout = Cp932(model.name);
    layout.resize(LAYOUT_NAME_WIDTH, ' ');
    layout += kLineEnd;
    for (const ModelField& f : model.fields) {
        std::string title = Cp932(f.title);
        title.resize(LAYOUT_TITLE_WIDTH, ' ');
        char codes[16];
        snprintf(codes, sizeof codes, "%02d%02d", (int)f.kind, f.kind == FK_TIME ? f.subKind : 0);
        layout += title + codes + kLineEnd;
    }
    UseMemoryFiles(true);
    ClearMemoryFiles();
    PutMemoryFile("t.table", layout.data(), layout.size());
    PutMemoryFile("t.txt", "", 0);
    size_t size = 0;
    const unsigned char* kcsv = ConvertCsvToKcsv("t.txt") ? GetMemoryFile("t.csv", &size) : nullptr;
    std::string text(kcsv ? (const char*)kcsv : "", size);
    ClearMemoryFiles();
    UseMemoryFiles(false);
    std::vector<std::string> header;
    for (size_t at = 0, end; (end = text.find(kLineEnd, at)) != std::string::npos; at = end + 2)
        header.push_back(text.substr(at, end - at));
    return header;
}

// A table made from field lines alone has the header the desktop writer
// makes, so its records take that writer's slots: the fields in order from
// the first field slot, each picture with its format code in the slot after
// it. The lines' own slots (a group, a picture without a format column)
// would give records that header does not describe.
void TakeDesktopSlots(TableModel* model)
{
    int column = KCSV_FIRST_FIELD_COLUMN;
    model->systemColumns = KCSV_SYSTEM_COLUMNS;
    for (ModelField& f : model->fields) {
        f.column = column++;
        f.formatColumn = f.kind == FK_IMAGE ? column++ : -1;
        f.group.clear();
    }
}

// The "T" record's slot of each field whose title the CSV's first row
// changed: the new title in the handheld's set.
void RetitleHeader(std::vector<std::string>* header, const TableModel& model, const CsvRow& titles)
{
    for (std::string& record : *header) {
        std::vector<std::string> slots = SplitSlots(record);
        if (SlotValue(slots[0]) != "T")
            continue;
        for (size_t i = 0; i < model.fields.size(); i++) {
            size_t k = (size_t)model.fields[i].column;
            if (titles.cells[i].text == model.fields[i].title || k >= slots.size())
                continue;
            std::string encoded;
            auto keep = [](const char* text, void* out) {
                *(std::string*)out = text;
                return true;
            };
            WithSjis1Text(Cp932(titles.cells[i].text).c_str(), false, keep, &encoded);
            slots[k] = QuoteSlot(encoded);
        }
        record = JoinSlots(slots);
    }
}

int ReadSchemaBeside(const std::string& csvPath, TableModel* model, std::vector<SchemaRow>* kept,
                     std::string* error)
{
    std::string path = SchemaPathOf(csvPath), text;
    if (ReadWholeFile(path, &text, error) != KIV_EXIT_OK) {
        *error += " (the schema that pull and to-csv write beside the CSV)";
        return KIV_EXIT_READ;
    }
    if (!ReadSchema(text, model, kept, error)) {
        *error = path + ": " + *error;
        return KIV_EXIT_CONVERT;
    }
    return KIV_EXIT_OK;
}

// Where the table goes as it is built: a staged file, or the block in
// memory. Once a cell has a problem nothing more is written (the staged file
// is never committed), but every row is still checked.
struct KcsvSink {
    BackgroundFile* file = nullptr;
    std::string* block = nullptr;
    int writeError = 0;   // errno of the first failed write
};

void Put(KcsvSink* sink, const std::string& record)
{
    if (!sink)
        return;
    if (sink->block) {
        *sink->block += record;
        *sink->block += kLineEnd;
        return;
    }
    if (!sink->file || sink->writeError)
        return;
    if (!BackgroundWrite(sink->file, record.data(), record.size()) ||
        !BackgroundWrite(sink->file, kLineEnd, 2))
        sink->writeError = errno ? errno : EIO;
}

// The first pass: the rows' count and the titles, or what keeps the rows
// from being read. A file that is no text of its encoding is only that. The
// pass also finds the encoding, and counts again from the first row when
// the file turns out to be in code page 932.
int CountRows(CsvRowStream* csv, CsvRow* titles, long* rows, Problems* problems, std::string* error)
{
    CsvRow row;
    *rows = 0;
    for (CsvNext next; (next = NextCsvRow(csv, &row, problems, error)) != CSV_DONE;) {
        if (next == CSV_FAILED)
            return error->empty() ? KIV_EXIT_CONVERT : KIV_EXIT_READ;
        if (next == CSV_AGAIN) {
            *rows = 0;
            continue;
        }
        if (*rows == 0)
            *titles = row;
        ++*rows;
    }
    return KIV_EXIT_OK;
}

std::string ChangedWhileRead(const std::string& csvPath)
{
    return csvPath + ": the file changed while it was read; read it again once it is saved";
}

// A merge's conflict column goes before the fields are read: a row still
// marked is a conflict nobody resolved, and would send both its versions.
void TakeConflictMark(const TableModel& model, CsvRow* row, bool header, Problems* p)
{
    if (!model.conflictColumn || row->cells.empty())
        return;
    const CsvCell& mark = row->cells[0];
    if (header && mark.text != "conflict")
        AddError(p, row->line, 1, "",
                 "the first column is titled \"" + mark.text +
                     "\"; the schema's conflict line makes it the merge's marks, titled \"conflict\"");
    else if (!header && !mark.text.empty())
        AddError(p, mark.line, 1, "conflict",
                 "a conflict the merge left (marked \"" + mark.text +
                     "\"): keep one of its rows, delete the other and clear the mark");
    row->cells.erase(row->cells.begin());
}

// The second pass: every data record, or problems.
int DataRecords(const TableModel& model, const std::vector<SchemaRow>& kept, CsvRowStream* csv,
                const CsvRow& titles, long rows, const char* stamp, const TableReadOptions& options,
                KcsvSink* sink, Problems* problems, std::string* error)
{
    RowContext c;
    c.model = &model;
    c.folder = FolderOf(csv->path);
    c.stamp = stamp;
    c.stampSlot = StampSlot(model);
    c.sameRowCount = rows - 1 == model.rows;
    c.decimalComma = options.decimalComma;
    c.keptRows = options.keptRows;
    IndexKeptRows(&c, kept);
    for (const CsvCell& cell : titles.cells)
        c.titles.push_back(cell.text);
    int rc = RewindCsvRows(csv, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    Problems again;
    CsvRow row;
    std::string record;
    long r = 0;
    for (CsvNext next; (next = NextCsvRow(csv, &row, &again, error)) != CSV_DONE; r++) {
        if (next == CSV_FAILED || again.errors || r >= rows)
            break;
        if (r > 0)
            TakeConflictMark(model, &row, false, problems);
        if (r > 0 && BuildDataRecord(&c, kept, row, r, problems, &record) && problems->errors == 0)
            Put(sink, record);
    }
    if (!error->empty())
        return KIV_EXIT_READ;
    if (r != rows || again.errors) {
        *error = ChangedWhileRead(csv->path);
        return KIV_EXIT_READ;
    }
    return KIV_EXIT_OK;
}

std::string TooManyFields(const std::string& csvPath)
{
    return SchemaPathOf(csvPath) + ": more fields than a table holds (" + std::to_string(TABLE_MAX_FIELDS) +
           " in all, at most " + std::to_string(TABLE_MAX_IMAGES) + " pictures and " +
           std::to_string(TABLE_MAX_OTHERS) + " others)";
}

// The header records with the row count and the titles of this CSV, or
// *error when none can be made.
bool HeaderRecords(const TableModel& model, const CsvRow& titles, long rows, const char* stamp,
                   const std::string& csvPath, std::vector<std::string>* header, std::string* error)
{
    *header = model.header.empty() ? DesktopHeader(model) : model.header;
    if (header->empty()) {
        *error = TooManyFields(csvPath);
        return false;
    }
    RetitleHeader(header, model, titles);
    if (!RenewHeader(header, rows - 1, stamp, PackedStampNow(), Cp932(model.name))) {
        *error = SchemaPathOf(csvPath) + ": the kept \"P\" record holds no table description to rename";
        return false;
    }
    return true;
}

// The CSV is read twice and never held: once to count its rows (the header
// records carry the count) and find what keeps them from being read, then
// once to check and write each record. A header that cannot be made is
// said only when no cell has a problem, as the cells are the user's to mend.
int BuildTable(const std::string& csvPath, const TableReadOptions& options, KcsvSink* sink,
               Problems* problems, std::string* error, TableCsvBase* base)
{
    TableModel model;
    std::vector<SchemaRow> kept;
    int rc = ReadSchemaBeside(csvPath, &model, &kept, error);
    if (rc == KIV_EXIT_OK && base) {
        base->version = model.baseVersion;
        base->hash = model.baseHash;
    }
    if (rc == KIV_EXIT_OK && model.header.empty())
        TakeDesktopSlots(&model);
    CsvRowStream csv;
    if (rc == KIV_EXIT_OK)
        rc = OpenCsvRows(&csv, csvPath, options.encoding, problems, error, true);
    if (rc != KIV_EXIT_OK)
        return rc;
    CsvRow titles;
    long rows = 0;
    rc = CountRows(&csv, &titles, &rows, problems, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    if (rows == 0 && problems->errors == 0)
        AddError(problems, 1, 0, "", "no header row: the first row holds the fields' titles");
    if (rows > 0)
        TakeConflictMark(model, &titles, true, problems);
    if (rows > 0)
        CheckHeaderRow(model, titles, problems);
    if (problems->errors)
        return KIV_EXIT_CONVERT;
    char stamp[TIMESTAMP_SIZE];
    FormatTimestamp(stamp);
    std::vector<std::string> header;
    std::string headerError;
    bool headed = HeaderRecords(model, titles, rows, stamp, csvPath, &header, &headerError);
    for (size_t i = 0; headed && i < header.size(); i++)
        Put(sink, header[i]);
    rc = DataRecords(model, kept, &csv, titles, rows, stamp, options, headed ? sink : nullptr, problems,
                     error);
    if (rc != KIV_EXIT_OK || problems->errors)
        return rc != KIV_EXIT_OK ? rc : KIV_EXIT_CONVERT;
    if (!headed) {
        *error = headerError;
        return KIV_EXIT_CONVERT;
    }
    if (sink->block)
        *sink->block += "\x1A";
    else if (sink->file && !sink->writeError && !BackgroundWrite(sink->file, "\x1A", 1))
        sink->writeError = errno ? errno : EIO;
    return KIV_EXIT_OK;
}

int Build(const std::string& csvPath, const TableReadOptions& options, KcsvSink* sink,
          std::vector<std::string>* report, std::string* error, TableCsvBase* base = nullptr)
{
    Problems problems;
    problems.file = csvPath;
    problems.strict = options.strict;
    int rc = BuildTable(csvPath, options, sink, &problems, error, base);
    *report = ProblemLines(problems);
    return rc;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}   // namespace

int TableCsvToKcsvFile(const std::string& csvPath, const std::string& outPath,
                       const TableReadOptions& options, std::vector<std::string>* report, std::string* error)
{
    for (const std::string& input : {csvPath, SchemaPathOf(csvPath)}) {
        if (SameFile(input, outPath)) {
            *error = outPath + ": is the input " + input + "; name another output";
            return KIV_EXIT_USAGE;
        }
    }
    // A stage that cannot be made, or a write that fails, is said only once
    // the table has been checked: its problems come first.
    Staging stage;
    BackgroundFile file;
    KcsvSink sink;
    std::string stageError, staged;
    int stageRc = StageOpen(&stage, FolderOf(outPath), &stageError);
    if (stageRc == KIV_EXIT_OK) {
        staged = StageName(&stage, "");
        // Written by this thread: a record takes less than a hand-off to a
        // writer that must wait for its turn on a busy machine.
        if (OpenBackgroundFile(&file, staged, false))
            sink.file = &file;
        else
            sink.writeError = errno;
    }
    int rc = Build(csvPath, options, &sink, report, error);
    int closed = CloseBackgroundFile(&file);
    sink.writeError = sink.writeError ? sink.writeError : closed;
    if (rc == KIV_EXIT_OK && stageRc != KIV_EXIT_OK) {
        rc = stageRc;
        *error = stageError;
    } else if (rc == KIV_EXIT_OK && sink.writeError) {
        rc = KIV_EXIT_WRITE;
        *error = "cannot write " + outPath + ": " + strerror(sink.writeError);
    }
    if (rc == KIV_EXIT_OK) {
        StageAdd(&stage, staged, outPath);
        rc = StageCommit(&stage, options.force, nullptr, error);
    }
    StageClose(&stage);
    return rc;
}

int TableCsvToKcsvBlock(const std::string& csvPath, const TableReadOptions& options,
                        std::vector<uint8_t>* block, std::vector<std::string>* report, std::string* error,
                        TableCsvBase* base)
{
    std::string kcsv;
    KcsvSink sink;
    sink.block = &kcsv;
    int rc = Build(csvPath, options, &sink, report, error, base);
    if (rc == KIV_EXIT_OK)
        block->assign(kcsv.begin(), kcsv.end());
    return rc;
}
