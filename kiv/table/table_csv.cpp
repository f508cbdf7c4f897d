// pull and to-csv by default: a Kcsv table into the table CSV, its schema and
// its pictures, staged as one job. The input is read a piece at a time and
// the CSV streams row by row into its staged file; only the schema's row
// lines (records holding more than the desktop writer puts in) are held until
// the end, since the schema's head counts rows.
#include <dirent.h>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include "background_file.h"
#include "cp932_text.h"
#include "csv_fields.h"
#include "file_io.h"
#include "kcsv_pass.h"
#include "kcsv_window.h"
#include "kiv_convert.h"
#include "staging.h"
#include "table_check.h"
#include "table_files.h"
#include "table_from_kcsv.h"

namespace {

struct Job {
    Staging stage;
    ConvertOptions options;
    std::string dir, base;
    std::string input;      // names the table in messages
    std::string csvShown;   // the CSV's final path
    BackgroundFile csv;     // written by its own thread
    std::string csvStaged, schemaStaged;
    long lines = 0;
    std::string rowLines;
    PassWatch watch;      // told of each step of the pass, when set
    BaseNamer nameBase;   // asked for the base at the pass's end
};

int WriteLine(Job* job, const std::string& utf8, std::string* error)
{
    job->lines++;
    std::string cp932;
    if (job->options.cp932 && !Utf8ToCp932(utf8, job->csvShown, &cp932, error)) {
        // Again with the lines before it, for the line number in the message.
        Utf8ToCp932(std::string(job->lines - 1, '\n') + utf8, job->csvShown, &cp932, error);
        return KIV_EXIT_CONVERT;
    }
    const std::string& bytes = job->options.cp932 ? cp932 : utf8;
    if (!BackgroundWrite(&job->csv, bytes.data(), bytes.size())) {
        *error = "cannot write " + job->csvShown + ": " + strerror(errno);
        return KIV_EXIT_WRITE;
    }
    return KIV_EXIT_OK;
}

int StagePicture(Job* job, const std::string& relative, const std::string& bytes, std::string* error)
{
    return StagePictureWrite(&job->stage, JoinPath(job->dir, relative), bytes.data(), bytes.size(), error);
}

int WriteTitles(Job* job, const TableModel& model, std::string* error)
{
    std::vector<std::string> titles;
    if (job->options.conflictMarks)
        titles.push_back("conflict");
    for (const ModelField& f : model.fields)
        titles.push_back(f.title);
    return WriteLine(
        job, (job->options.bom && !job->options.cp932 ? "\xEF\xBB\xBF" : "") + CsvLine(titles, nullptr),
        error);
}

int OpenCsv(Job* job, std::string* error)
{
    job->csvStaged = StageName(&job->stage, "");
    if (!OpenBackgroundFile(&job->csv, job->csvStaged)) {
        *error = "cannot write " + job->csvShown + ": " + strerror(errno);
        return KIV_EXIT_WRITE;
    }
    return KIV_EXIT_OK;
}

int CloseCsv(Job* job, int rc, std::string* error)
{
    int err = CloseBackgroundFile(&job->csv);
    if (err && rc == KIV_EXIT_OK) {
        *error = "cannot write " + job->csvShown + ": " + strerror(err);
        rc = KIV_EXIT_WRITE;
    }
    return rc;
}

// The header is read: the staged files start.
int StartRows(Job* job, const TableModel& model, std::string* error)
{
    int rc = StageOpen(&job->stage, job->dir, error);
    if (rc == KIV_EXIT_OK)
        rc = OpenCsv(job, error);
    if (rc == KIV_EXIT_OK)
        rc = WriteTitles(job, model, error);
    return rc;
}

int WriteRow(Job* job, const KcsvPass& pass, std::string* line, std::string* error)
{
    const ModelRow& row = pass.row;
    CsvLineInto(row.cells, &pass.model.fields, line);
    if (const std::vector<std::string>* marks = job->options.conflictMarks) {
        size_t r = (size_t)row.number - 1;
        // An empty mark stays a bare comma: a spreadsheet shows no value.
        std::string mark = r < marks->size() ? (*marks)[r] : "";
        std::string head = mark.empty() ? "\r\n" : CsvLine({mark}, nullptr);
        head.replace(head.size() - 2, 2, ",");
        line->insert(0, head);
    }
    int rc = WriteLine(job, *line, error);
    for (size_t c = 0; rc == KIV_EXIT_OK && c < row.pictures.size(); c++)
        if (!row.pictures[c].empty())
            rc = StagePicture(job, row.cells[c], row.pictures[c], error);
    job->rowLines += SchemaRowLine(row);
    return rc;
}

// The staged picture folder becomes the set's when it has none yet, and
// goes back when a later rename fails.
int Commit(Job* job, std::vector<std::string>* written, std::string* error)
{
    StageAdd(&job->stage, job->csvStaged, JoinPath(job->dir, job->base + ".csv"));
    StageAdd(&job->stage, job->schemaStaged, JoinPath(job->dir, job->base + ".schema"));
    StagePicturesHere(&job->stage);
    for (const auto& f : job->options.besideFiles) {
        int rc = StageWrite(&job->stage, JoinPath(job->dir, f.first), f.second.data(), f.second.size(),
                            error);
        if (rc != KIV_EXIT_OK)
            return rc;
    }
    std::string folder = JoinPath(job->dir, job->base + "-pictures");
    int rc = StageSetRecord(&job->stage, job->dir, job->base, job->base, job->options.force, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    return StageCommitWithFolder(&job->stage, folder, false, job->options.force, written, error);
}

// One pass over the records: each is checked and then converted into the
// staged files. A fault of the table found later still refuses it with
// nothing written, as the staged files go unless committed; and it outranks
// a failure of the conversion. A read error of the input outranks both.
int Run(KcsvWindow* in, Job* job, std::vector<std::string>* written, std::string* error)
{
    KcsvPass pass;
    StartKcsvPass(&pass, in, job->base, job->input);
    int rc = KIV_EXIT_OK;
    std::string failure, line;   // the row's CSV line, its room reused
    for (PassStep step; (step = NextKcsvPass(&pass)) != PASS_END;) {
        rc = step == PASS_TITLES ? StartRows(job, pass.model, &failure)
                                 : WriteRow(job, pass, &line, &failure);
        if (job->watch && rc == KIV_EXIT_OK)
            job->watch(pass, step == PASS_TITLES);
        pass.ended = pass.ended || rc != KIV_EXIT_OK;
    }
    int passRc = KcsvPassResult(&pass, error);
    rc = CloseCsv(job, rc, &failure);
    if (passRc == KIV_EXIT_OK && rc == KIV_EXIT_OK) {
        pass.model.rows = pass.table.rows;
        pass.model.baseVersion = job->options.baseVersion;
        pass.model.baseHash = job->options.baseHash;
        pass.model.conflictColumn = job->options.conflictMarks != nullptr;
        if (job->nameBase)
            job->nameBase(&pass.model.baseVersion, &pass.model.baseHash);
        job->schemaStaged = StageName(&job->stage, "");
        rc = WriteWholeFile(job->schemaStaged, SchemaHead(pass.model) + job->rowLines,
                            JoinPath(job->dir, job->base + ".schema"), &failure);
    }
    if (passRc == KIV_EXIT_OK && rc == KIV_EXIT_OK)
        rc = Commit(job, written, &failure);
    StageClose(&job->stage);
    if (passRc != KIV_EXIT_OK)
        return passRc;
    if (rc != KIV_EXIT_OK)
        *error = failure;
    return rc;
}

// In place: the job's CSV file, once open, has a thread that points at it.
void MakeJob(Job* job, const std::string& input, const std::string& dir, const std::string& base,
             const ConvertOptions& options)
{
    job->input = input;
    job->options = options;
    job->dir = dir;
    job->base = base;
    job->csvShown = JoinPath(dir, base + ".csv");
}

// The table's name from its description when it makes a file name, else "table".
std::string TableBaseName(const std::string& kcsv)
{
    KcsvTable table;
    TableModel model;
    std::string ignored;
    if (OpenKcsvTable(kcsv, "", "", &table, &model, &ignored) == KIV_EXIT_OK && SafeFileName(model.name))
        return model.name;
    return "table";
}

std::string WithoutExtension(const std::string& leaf)
{
    size_t dot = leaf.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? leaf : leaf.substr(0, dot);
}

}   // namespace

int KcsvFileToTableCsv(const std::string& kcsvPath, const std::string& dir, const ConvertOptions& options,
                       std::string* error)
{
    KcsvWindow in;
    int rc = OpenKcsvWindowFile(kcsvPath, &in, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    Job job;
    MakeJob(&job, kcsvPath, dir.empty() ? FolderOf(kcsvPath) : dir, WithoutExtension(LeafOf(kcsvPath)),
            options);
    return Run(&in, &job, nullptr, error);
}

// The table's own name when none is given and it makes a file name; when
// a file of that name's set exists (without --force) the whole set takes the
// first free name. The Kcsv file is committed first, alone: a table that
// cannot be converted or written further is still kept, since it came from
// the handheld once and may not come again.
int KcsvBlockToTableFiles(const std::vector<uint8_t>& block, const std::string& dir, const std::string& name,
                          const ConvertOptions& options, std::vector<std::string>* written,
                          std::string* error, AfterKcsv afterKcsv, PassWatch watch, BaseNamer nameBase)
{
    if (!name.empty() && !SafeFileName(name)) {
        *error = name + ": not a name for a file in one folder";
        return KIV_EXIT_USAGE;
    }
    ReceivedTable table;
    table.kcsv.assign(block.begin(), block.end());
    std::string base = name.empty() ? TableBaseName(table.kcsv) : name;
    std::string wanted = JoinPath(dir, base);
    std::string free = options.force
                           ? wanted
                           : FreePathFor(wanted, {".kcsv", ".csv", ".schema", "-pictures", ".kiv-files"});
    table.kcsvPath = free + ".kcsv";
    if (free != wanted)
        table.takenPath = wanted + ".kcsv";
    int rc = CommitReceivedKcsv(table, options, written, error, afterKcsv);
    if (rc != KIV_EXIT_OK)
        return rc;
    Job job;
    MakeJob(&job, "the received table", dir, LeafOf(free), options);
    job.watch = watch;
    job.nameBase = nameBase;
    KcsvWindow in;
    OpenKcsvWindow(std::move(table.kcsv), &in);
    rc = Run(&in, &job, written, error);
    if (rc != KIV_EXIT_OK)
        *error += "; the received table is kept in " + table.kcsvPath;
    return rc;
}

int KcsvToTableCsv(const std::string& kcsv, const std::string& shown, const std::string& dir,
                   const std::string& base, const ConvertOptions& options, std::vector<std::string>* written,
                   std::string* error)
{
    Job job;
    MakeJob(&job, shown, dir, base, options);
    KcsvWindow in;
    OpenKcsvWindow(std::string(kcsv), &in);
    return Run(&in, &job, written, error);
}
