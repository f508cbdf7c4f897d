// The kiv commands behind the command line: each takes its parsed options
// and returns the program's exit status.
#pragma once
#include <string>
#include <vector>
#include "port_settings.h"

struct CommonOptions {
    LinkOptions link;
    std::string archive;   // --archive; "" for the default path
    bool noArchive = false;
    bool quiet = false;
    bool force = false;
    bool utf8 = false;
    bool classic = false;   // pull, to-csv: the Windows application's file set
    bool bom = false;
    std::string encoding = "utf-8";   // of the table CSV: utf-8 or cp932
    bool strict = false;              // from-csv and push --classic: warnings refuse the table
    bool decimalComma = false;        // from-csv and push --classic: numbers saved as 0,25
    bool missingPicturesEmpty =
        false;             // from-csv and push --classic: an unreadable picture's cell stays empty
    std::string trace;     // link commands: the session's trace file, or none
    std::string command;   // the command's name, for the trace
};

// A signal held since kiv could no longer cancel, taken once what it waited
// for is done: its status, said with what follows the cancel message; 0 when
// none came, with the signals let in again.
int HeldSignalStatus(const std::string& said);
int ReceiveCommand(const CommonOptions& o, const std::string& outPath);
int SendCommand(const CommonOptions& o, const std::string& inPath);
int PortsCommand(void);
// Checks the port at path, one line each on stdout; with probe, whether
// the IR line device answers. doctor_command.cpp.
int DoctorCommand(const std::string& path, bool probe);

// Runs one transfer with the link options; the exit status, with the
// received block in *received when asked for.
int LinkTransfer(const CommonOptions& o, bool sending, const std::vector<uint8_t>& block,
                 std::vector<uint8_t>* received);
// One line on stderr, "kiv: " before it.
void Complain(const std::string& line);

int PullCommand(const CommonOptions& o, const std::string& dir, const std::string& name);
int PushCommand(const CommonOptions& o, const std::string& layout, const std::string& csv);
int ToCsvCommand(const CommonOptions& o, const std::string& kcsv, const std::string& dir);
int FromCsvCommand(const CommonOptions& o, const std::string& layout, const std::string& csv,
                   const std::string& outPath);
// The table CSV (NAME.csv with NAME.schema beside it) into a Kcsv file, or
// sent; table_commands.cpp.
struct TableReadOptions;
int TableFromCsvCommand(const TableReadOptions& o, const std::string& csv, const std::string& outPath);
// With sent, the block the handheld took is put there and the set is left
// to the caller; else a push that went through renews the set as
// RecordTablePush does.
int TablePushCommand(const CommonOptions& link, const TableReadOptions& o, const std::string& csv,
                     std::vector<uint8_t>* sent = nullptr);
// Once the handheld has the table of csv: the merge's copies that the set's
// record lists are removed from the folder and the record; with version,
// the schema's base becomes version and hash. push_record.cpp.
int RecordTablePush(const std::string& csv, long version, const std::string& hash);
// Before a table CSV is pushed: the archive's versions of its table against
// the CSV's base (baseId 0: none) and the block made of it; KIV_EXIT_WRITE,
// said, when the push would replace the handheld's changes or remove most
// of the base's records (o.force lets it). push_guard.cpp.
int GuardTablePush(const CommonOptions& o, long baseId, const std::string& baseHash,
                   const std::vector<uint8_t>& block);
// The output folder of pull, to-csv and export, with its missing parents;
// *made lists the folders this run made, outermost first. false, said on
// stderr, when one cannot be made.
bool MakeFolders(const std::string& dir, std::vector<std::string>* made);
// A failed job's folders go again (rmdir: only those still empty).
void TakeBackFolders(const std::vector<std::string>& made);
// from-csv's output when -o is not given: the CSV file's name with ".kcsv"
// in place of its extension, in the CSV file's folder.
std::string DefaultKcsvPath(const std::string& csv);

// The archive of pulls; archive_commands.cpp. A received table goes into the
// archive once files hold it; when it cannot, a warning names them and the
// status is KIV_EXIT_WRITE. decoded, when given, is the table as the pass
// that wrote the files decoded it. With version and hash, they get the base a
// table CSV of it names (the pull's id and TableHash of the bytes the archive
// holds for it), or stay 0 and "" when the table is not archived.
struct DecodedTable;
int ArchiveReceived(const CommonOptions& o, const std::vector<uint8_t>& block,
                    const std::vector<std::string>& files, const DecodedTable* decoded = nullptr,
                    long* version = nullptr, std::string* hash = nullptr);
// to-csv: the base of the Kcsv file at kcsvPath when the archive holds its
// bytes as a version (the newest pull of it); 0 and "" otherwise, and
// silently so when there is no archive.
void ArchivedBaseOfFile(const std::string& archive, const std::string& kcsvPath, long* version,
                        std::string* hash);
// kiv archive add: each Kcsv file stored as a version, stamped with the
// file's time; every file is tried, the status is the first failure's.
int ArchiveAddCommand(const std::string& archive, const std::vector<std::string>& files);
int HistoryCommand(const std::string& archive, const std::string& name);
struct DiffArgs {
    std::string archive, name;
    long first = 0, second = 0;   // 0: not given
};
// Exit 0 when the versions are the same, 1 when they differ.
int DiffCommand(const DiffArgs& a);
struct ExportArgs {
    std::string archive;
    long id = 0;
    bool kcsv = false, html = false;
    std::string dir = ".", output;
};
int ExportCommand(const CommonOptions& o, const ExportArgs& a);
// kiv merge: the table CSV merged with the handheld's version over its
// base; merge_command.cpp. Exit 0 when clean, 1 with conflicts.
struct MergeArgs {
    std::string archive, csv;
    long with = 0;      // the handheld's version; 0: the table's latest
    std::string take;   // "pc", "handheld" or "" (conflicts stay marked)
};
int MergeCommand(const MergeArgs& a);
// kiv sync: pull into the archive, merge the CSV with what came, push the
// merged table and record it as the CSV's base, each step asked for on the
// terminal unless yes. sync_command.cpp.
struct SyncArgs {
    std::string csv;
    std::string take;   // as merge's
    bool yes = false;
};
int SyncCommand(const CommonOptions& o, const SyncArgs& a);
// Sends version id byte for byte as it was received.
int ArchivePushCommand(const CommonOptions& o, long id);
