#pragma once
// clang-format off
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Exit statuses of every kiv command (also listed in kiv --help, each command's in its own help by
// cli/help_text.cpp, and in docs/kiv.md).
enum KivExit : int {
    KIV_EXIT_OK = 0,
    // 1 to 5: the link's result codes (time-out, retries failed, line error, no memory, port unavailable)
    KIV_EXIT_CONVERT = 6,        // the table could not be converted (bad input, a character with no
                                 // code page 932 form under --utf8)
    KIV_EXIT_READ = 7,           // an input file could not be opened or read
    KIV_EXIT_WRITE = 8,          // an output could not be written, or exists and --force was not given
    KIV_EXIT_USAGE = 64,         // bad command line
    KIV_EXIT_INTERRUPTED = 130,  // Ctrl-C (SIGTERM 143, SIGHUP 129)
};

struct ConvertOptions {
    bool utf8 = false;    // layout and record files in UTF-8 instead of code page 932
    bool force = false;   // replace outputs that exist
    bool classic = false; // the Windows application's file set instead of the table CSV
    bool bom = false;     // the table CSV starts with a UTF-8 byte-order mark
    bool cp932 = false;   // the table CSV in code page 932 instead of UTF-8
    bool strict = false;         // from-csv and push --classic: a warning refuses the table
    bool decimalComma = false;   // from-csv and push --classic: numbers saved as 0,25
    bool missingPicturesEmpty = false;   // from-csv and push --classic: an unreadable picture's cell
                                         // stays empty (with a warning) instead of refusing the table
    long baseVersion = 0;   // the table CSV's schema names this archived version as its base (0: none)
    std::string baseHash;   // and this TableHash of its bytes
    // merge: the table CSV starts with the conflict column, one mark per data record ("" for none)
    const std::vector<std::string>* conflictMarks = nullptr;
    // merge: more files of the set, staged with it: a name beside the CSV and its bytes
    std::vector<std::pair<std::string, std::string>> besideFiles;
};

// Every function returns a KivExit value; on failure *error holds one line for the user (no
// newline), naming the file and, for an encoding error, the line and column; nothing is left
// behind: every output is written under a temporary name in its own folder and renamed into
// place only when the whole job has succeeded.

// to-csv: the Kcsv file at kcsvPath into dir: "<dir>/<name>.table", ".rec", ".num", ".tab" and the
// pictures "<name>.N.jpg|gif|png", name being kcsvPath's file name, exactly as the DLL's conversion
// writes them beside the Kcsv file (the Kcsv file itself is not copied).
int KcsvFileToCsv(const std::string& kcsvPath, const std::string& dir, const ConvertOptions& options,
                  std::string* error);
// pull: a received Kcsv block as "<dir>/<name>.kcsv" with the files above beside it. An empty name
// means: the table's name from the block's header when it makes a safe file name, otherwise
// "table". Without force, when a file of that set exists, the whole set takes the first free name
// ("<name>-2.kcsv", "<name>-2.kcsv.rec", ...) and takenPath says which was taken.
struct ReceivedTable {
    std::string kcsv;
    std::string kcsvPath;
    std::string takenPath;
    std::vector<std::pair<std::string, std::string>> files;   // suffix after kcsvPath, bytes
    int convertStatus = KIV_EXIT_OK;   // when not OK only the Kcsv file is written,
    std::string convertError;          // and this says why
};
// Called once the Kcsv file is in place; a status other than KIV_EXIT_OK (with *error) ends the
// job there.
typedef int (*AfterKcsv)(const ReceivedTable& table, std::string* error);
struct KcsvPass;
typedef std::function<void(const KcsvPass& pass, bool titles)> PassWatch;
// The Kcsv file is committed first, alone, then the others together. A table that cannot be
// converted keeps its Kcsv file; when that cannot be written either, the block is kept by
// KeepBlock. *written receives the paths written, in order, for the program to list.
int KcsvBlockToFiles(const std::vector<uint8_t>& block, const std::string& dir, const std::string& name,
                     const ConvertOptions& options, std::vector<std::string>* written, std::string* error,
                     AfterKcsv afterKcsv = nullptr);
// After a write failed: the block whole, readable by its owner only, as
// "kiv-received-YYYYMMDD-HHMMSS-PID.kcsv" in path's folder, failing that in $TMPDIR (or /tmp);
// the path it was saved at, or "" when it could be saved nowhere.
std::string KeepBlock(const std::string& block, const std::string& path);

// Checks made before a transfer, so that a table is never received only to be refused:
// dir is a folder kiv may write in.
int CheckOutputFolder(const std::string& dir, std::string* error);
// path names a file in such a folder, and exists only when force is given.
int CheckOutputFile(const std::string& path, bool force, std::string* error);
// Why an output that is a symbolic link is refused: kiv never writes or removes through one.
std::string SymbolicLinkRefusal(const std::string& path);
// base + longestSuffix fits one name in dir, and the longest path the job opens under it
// fits PATH_MAX; else KIV_EXIT_USAGE and the reason.
int CheckNameFits(const std::string& dir, const std::string& base, const std::string& longestSuffix,
                  std::string* error);
// The longest suffix a free name adds to its base ("-999").
extern const char kFreeNumberMax[];
// A name that stays one file in the chosen folder, neither hidden nor taken for an option.
bool SafeFileName(const std::string& name);
// from-csv: the application's layout file and CSV file into the Kcsv file at outPath. The cells'
// problems and warnings go to *report, one line each, as the table CSV's do (when report is null,
// *error holds the first problem).
int CsvToKcsvFile(const std::string& layoutPath, const std::string& csvPath, const std::string& outPath,
                  const ConvertOptions& options, std::string* error, std::vector<std::string>* report = nullptr);
// push: the same into memory, the block to send (ending with the end byte 0x1A).
int CsvToKcsvBlock(const std::string& layoutPath, const std::string& csvPath, const ConvertOptions& options,
                   std::vector<uint8_t>* block, std::string* error, std::vector<std::string>* report = nullptr);
// receive -o: one block into a file, atomically; refused when path exists and !force.
int WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data, bool force,
                        std::string* error);
// pull and to-csv without --classic: the table CSV "<dir>/<base>.csv", its schema "<base>.schema"
// and the pictures "<base>-pictures/R-C.EXT" (docs/formats.md); pull keeps "<base>.kcsv" too.
int KcsvFileToTableCsv(const std::string& kcsvPath, const std::string& dir, const ConvertOptions& options,
                       std::string* error);
// Called once the pass has read the whole table and before the schema is staged: the base the
// schema is to name (it sets *version and *hash, or leaves them 0 and "" for none).
typedef std::function<void(long* version, std::string* hash)> BaseNamer;
// pull takes the received table's name, free names and the Kcsv file first as KcsvBlockToFiles does.
// watch, when given, is told of the header (titles true) and of each row as the one pass reads
// them, for a reader beside the files (pull's archive); nameBase then archives the table, so that
// the CSV set is committed with the base its schema names, or not at all.
int KcsvBlockToTableFiles(const std::vector<uint8_t>& block, const std::string& dir, const std::string& name,
                          const ConvertOptions& options, std::vector<std::string>* written, std::string* error,
                          AfterKcsv afterKcsv = nullptr, PassWatch watch = nullptr,
                          BaseNamer nameBase = nullptr);
// export: a table's bytes (shown names it in errors) as to-csv writes them, "<dir>/<base>.csv" and the rest.
int KcsvToTableCsv(const std::string& kcsv, const std::string& shown, const std::string& dir,
                   const std::string& base, const ConvertOptions& options, std::vector<std::string>* written,
                   std::string* error);
// clang-format on
