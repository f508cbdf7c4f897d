// The application's layout and CSV file into a Kcsv table. The core reads
// "<base>.table" beside its CSV input and writes "<base>.csv" and the chunk
// file "<base>.cnk" beside it, so both inputs are placed in a private folder
// under such names (transcoded there under --utf8) and the caller's files are
// only read. Picture paths in the CSV are opened as the DLL opens them:
// relative ones from the current directory.
#include "kiv_convert.h"
#include <cstring>
#include <cerrno>
#include "classic_cells.h"
#include "cp932_text.h"
#include "file_io.h"
#include "layout_text.h"
#include "lost_rows.h"
#include "staging.h"
#include "table_csv_input.h"
#include "kcsv/csv_to_kcsv.h"
#include "kcsv/kcsv_format.h"
#include "textstream.h"
#include <cstdlib>
#include <sys/stat.h>

namespace {

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The input as the core takes it: code page 932, from UTF-8 under --utf8,
// when a layout with its fields aligned again.
// A file in the other encoding than the one given is refused before the
// core reads it: its titles and names would come out garbled.
int ReadInput(const std::string& path, bool layout, const ConvertOptions& options, std::string* bytes,
              std::string* error)
{
    int rc = ReadWholeFile(path, bytes, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    auto cp932 = [&]() {
        std::string text, ignored;
        return Cp932ToUtf8(*bytes, path, &text, &ignored);
    };
    if (!options.utf8) {
        if (FirstNonUtf8Line(*bytes) != 0 || cp932())
            return KIV_EXIT_OK;
        *error = path + ": this looks like UTF-8: give --utf8";
        return KIV_EXIT_CONVERT;
    }
    std::string converted;
    if (!Utf8ToCp932(*bytes, path, &converted, error)) {
        if (FirstNonUtf8Line(*bytes) != 0 && cp932())
            *error += "; this looks like code page 932: leave out --utf8";
        return KIV_EXIT_CONVERT;
    }
    bytes->swap(converted);
    if (layout && !AlignLayout(*bytes, path, bytes, error))
        return KIV_EXIT_CONVERT;
    return KIV_EXIT_OK;
}

// Converts in the stage's folder; *kcsvPath names the Kcsv file written there.
// shownOutput names the result for the user.
// The cells' problems, as the table CSV's are reported: *report gets every
// line, or when there is none *error the first error.
int CheckCells(const std::string& layout, const std::string& csvPath, const ConvertOptions& options,
               std::string* csv, std::vector<std::string>* report, std::string* error)
{
    std::string given;
    if (options.utf8 && ReadWholeFile(csvPath, &given, error) != KIV_EXIT_OK)
        return KIV_EXIT_READ;
    Problems problems;
    problems.file = csvPath;
    problems.strict = options.strict;
    ClassicChecks checks;
    checks.decimalComma = options.decimalComma;
    checks.missingPicturesEmpty = options.missingPicturesEmpty;
    CheckClassicCells(layout, csv, given, checks, &problems);
    std::vector<std::string> lines = ProblemLines(problems);
    if (report)
        *report = lines;
    else if (problems.errors && !lines.empty())
        *error = lines.front();
    return problems.errors ? KIV_EXIT_CONVERT : KIV_EXIT_OK;
}

int TooManyFields(const std::string& layoutPath, std::string* error)
{
    *error = layoutPath + ": more fields than a table holds (" + std::to_string(TABLE_MAX_FIELDS) +
             " in all, at most " + std::to_string(TABLE_MAX_IMAGES) + " pictures and " +
             std::to_string(TABLE_MAX_OTHERS) + " others)";
    return KIV_EXIT_CONVERT;
}

// A layout the core refuses for its size is said so before its cells are
// checked: no cell of it would be converted.
bool LayoutFits(const std::string& layout)
{
    LayoutFile file = {};
    TableLayout table;
    TextStream* ts = TextOpenMemory(layout.data(), layout.size());
    bool read = ts && ReadLayoutStream(ts, &file);
    if (ts)
        TextClose(ts);
    return !read || BuildTableLayout(&file, &table);
}

int ConvertInStage(Staging* stage, const std::string& layoutPath, const std::string& csvPath,
                   const ConvertOptions& options, const std::string& shownOutput, std::string* kcsvPath,
                   std::vector<std::string>* report, std::string* error)
{
    std::string layout, csv;
    int rc = ReadInput(layoutPath, true, options, &layout, error);
    if (rc == KIV_EXIT_OK)
        rc = ReadInput(csvPath, false, options, &csv, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    if (size_t line = FirstUnreadLine(csv, false)) {
        *error = csvPath + ": line " + std::to_string(line) +
                 ": not a row of quoted values; the rows from there on would be lost";
        return KIV_EXIT_CONVERT;
    }
    if (!LayoutFits(layout))
        return TooManyFields(layoutPath, error);
    rc = CheckCells(layout, csvPath, options, &csv, report, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    std::string base = StageName(stage, "");
    if ((base + ".table").size() >= KCSV_PATH_MAX) {
        *error = "cannot write " + shownOutput + ": the folder's path is too long for a table";
        return KIV_EXIT_WRITE;
    }
    rc = WriteWholeFile(base + ".table", layout, shownOutput, error);
    if (rc == KIV_EXIT_OK)
        rc = WriteWholeFile(base + ".txt", csv, shownOutput, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    *kcsvPath = base + ".csv";
    errno = 0;
    if (ConvertCsvToKcsv((base + ".txt").c_str()))
        return KIV_EXIT_OK;
    int err = errno;
    // The core creates nothing when it refuses the layout; any other failure
    // is a write that failed, and the system's reason is its last error.
    if (Exists(*kcsvPath)) {
        *error = "cannot write " + shownOutput + ": " + (err ? strerror(err) : "the write did not complete");
        return KIV_EXIT_WRITE;
    }
    return TooManyFields(layoutPath, error);
}

}   // namespace

int CsvToKcsvFile(const std::string& layoutPath, const std::string& csvPath, const std::string& outPath,
                  const ConvertOptions& options, std::string* error, std::vector<std::string>* report)
{
    // --force replaces outputs, never the inputs they are made from.
    for (const std::string& input : {layoutPath, csvPath}) {
        if (SameFile(input, outPath)) {
            *error = outPath + ": is the input " + input + "; name another output";
            return KIV_EXIT_USAGE;
        }
    }
    Staging stage;
    std::string kcsvPath;
    int rc = StageOpen(&stage, FolderOf(outPath), error);
    if (rc == KIV_EXIT_OK)
        rc = ConvertInStage(&stage, layoutPath, csvPath, options, outPath, &kcsvPath, report, error);
    if (rc == KIV_EXIT_OK) {
        StageAdd(&stage, kcsvPath, outPath);
        rc = StageCommit(&stage, options.force, nullptr, error);
    }
    StageClose(&stage);
    return rc;
}

// The private folder goes where temporary files go; nothing of it stays.
int CsvToKcsvBlock(const std::string& layoutPath, const std::string& csvPath, const ConvertOptions& options,
                   std::vector<uint8_t>* block, std::string* error, std::vector<std::string>* report)
{
    const char* tmp = getenv("TMPDIR");
    Staging stage;
    std::string kcsvPath, kcsv;
    int rc = StageOpen(&stage, tmp && *tmp ? tmp : "/tmp", error);
    if (rc == KIV_EXIT_OK)
        rc = ConvertInStage(&stage, layoutPath, csvPath, options, "the table to send", &kcsvPath, report,
                            error);
    if (rc == KIV_EXIT_OK)
        rc = ReadWholeFile(kcsvPath, &kcsv, error);
    StageClose(&stage);
    if (rc == KIV_EXIT_OK)
        block->assign(kcsv.begin(), kcsv.end());
    return rc;
}
