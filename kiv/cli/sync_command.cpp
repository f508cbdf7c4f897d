// kiv sync: the round of pull, merge and push in one command. The pull goes
// to the archive only (the CSV in the folder is the person's edit, and the
// merge reads it), the merge is kiv merge's with the version just pulled,
// and the push is push's, guard included. What the handheld then holds is
// archived as a version marked as sent and becomes the CSV's base, so that
// the next push's guard and the next merge compare with it. Each step
// commits before the next begins: a Ctrl-C leaves what the last one left.
#include <poll.h>
#include <unistd.h>
#include <cerrno>
#include "archive.h"
#include "held_signals.h"
#include "cancel_signals.h"
#include "kiv_commands.h"
#include "kiv_convert.h"
#include "port_errors.h"
#include "port_settings.h"
#include "table_csv_read.h"
#include "table_model.h"

namespace {

// The line is said; without yes, kiv then waits for Enter on its input. A
// signal meanwhile cancels (its status), and so does an input that ends:
// nobody is there to answer (64).
int Ask(const std::string& line, const std::string& wait, bool yes)
{
    if (yes) {
        Complain(line);
        return KIV_EXIT_OK;
    }
    // Caught before the line is said: a Ctrl-C the moment it appears is
    // still a cancel with its status, not the default death.
    int signals = InstallCancelSignals();
    Complain(wait);
    int status = -1;
    while (status < 0) {
        struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
        if (poll(fds, signals < 0 ? 1 : 2, -1) < 0) {
            if (errno != EINTR)
                status = KIV_EXIT_USAGE;
            continue;
        }
        if (int signo = signals < 0 ? 0 : TakeCancelSignal(signals)) {
            Complain(CancelMessage(signo));
            status = 128 + signo;
            continue;
        }
        char c = 0;
        ssize_t n = fds[0].revents ? read(STDIN_FILENO, &c, 1) : -1;
        if (n == 0) {
            Complain("the input ended before Enter; give --yes to run without asking");
            status = KIV_EXIT_USAGE;
        } else if (n == 1 && c == '\n') {
            status = KIV_EXIT_OK;
        }
    }
    RemoveCancelSignals();
    return status;
}

std::string LinkKind(const CommonOptions& o)
{
    PortParams params;
    std::string ignored;
    return ResolvePortParams(o.link, &params, &ignored, &ignored) == SETTINGS_OK
               ? LinkKindName(params.linkKind)
               : o.link.link;
}

// The handheld's table into the archive; *id its version. A table that
// cannot be archived is kept as a file (nothing received is lost) and the
// round stops.
int PullToArchive(const CommonOptions& o, const std::string& csv, long* id)
{
    std::vector<uint8_t> block;
    int status = LinkTransfer(o, false, {}, &block);
    if (status)
        return status;
    std::string hash, error;
    status = ArchiveReceived(o, block, {"the archive"}, nullptr, id, &hash);
    if (status == KIV_EXIT_OK && !*id) {
        DecodedTable table;
        bool isTable = DecodeTable(std::string(block.begin(), block.end()), &table, &error);
        Complain(isTable ? "the pulled table is not in the archive: nothing to merge with"
                         : "what came is no table: " + error);
        status = isTable ? KIV_EXIT_WRITE : KIV_EXIT_CONVERT;
    }
    if (status != KIV_EXIT_OK) {
        std::string kept = KeepBlock(std::string(block.begin(), block.end()), csv);
        Complain(kept.empty() ? "the received block could not be saved anywhere"
                              : "the received block is kept in " + kept);
        int held = HeldSignalStatus("");
        return held ? held : status;
    }
    Complain("pulled into the archive as version " + std::to_string(*id));
    return HeldSignalStatus("; the table is in the archive as version " + std::to_string(*id));
}

// The block the handheld took, stored as a version sent to it: its link is
// the kind with " push" after it. *id and *hash the base a CSV of it names.
int ArchivePushed(const CommonOptions& o, const std::vector<uint8_t>& block, long* id, std::string* hash)
{
    std::string kcsv(block.begin(), block.end()), error, path = ArchivePath(o.archive);
    DecodedTable table;
    ArchiveEntry entry;
    entry.pulled = ArchiveNow();
    entry.port = o.link.port;
    entry.link = LinkKind(o) + " push";
    bool ok = DecodeTable(kcsv, &table, &error) && ArchiveTable(path, kcsv, table, &entry, &error);
    sqlite3* db = nullptr;
    // A table sent unchanged since its last version is stored as equal to
    // it; the base's hash is then that version's bytes'.
    *hash = TableHash(kcsv);
    if (ok && entry.sameAs) {
        ok = OpenArchive(path, &db, &error) && ArchivedHash(db, entry.id, hash, &error);
        if (db)
            CloseArchive(db);
    }
    if (!ok) {
        Complain("the handheld has the table, but the archive " + path + " could not take it: " + error +
                 "; the CSV's base still names the version pulled");
        return KIV_EXIT_WRITE;
    }
    *id = entry.id;
    return KIV_EXIT_OK;
}

}   // namespace

int SyncCommand(const CommonOptions& o, const SyncArgs& a)
{
    if (!o.trace.empty()) {
        Complain("--trace records one transfer and sync makes two: trace its pull and push with kiv pull and "
                 "kiv push");
        return KIV_EXIT_USAGE;
    }
    if (o.link.port.empty()) {
        Complain("no port: give --port PATH or set KIV_PORT (kiv ports lists them)");
        return KIV_EXIT_USAGE;
    }
    // The CSV as push reads it, before the handheld is asked for anything:
    // one that push or merge would refuse stops the round here.
    TableReadOptions read;
    std::vector<uint8_t> block;
    std::vector<std::string> report;
    std::string error;
    TableCsvBase base;
    int status = TableCsvToKcsvBlock(a.csv, read, &block, &report, &error, &base);
    for (const std::string& line : report)
        Complain(line);
    if (status) {
        if (report.empty())
            Complain(error);
        return status;
    }
    if (!base.version) {
        Complain(a.csv + ": its schema names no base (a CSV that pull, to-csv or export wrote from the "
                         "archive has one), so there is nothing to merge it over");
        return KIV_EXIT_CONVERT;
    }
    long pulled = 0;
    status = Ask("send the table on the handheld now", "press Enter, then send the table on the handheld now",
                 a.yes);
    if (status == KIV_EXIT_OK)
        status = PullToArchive(o, a.csv, &pulled);
    MergeArgs merge;
    merge.archive = o.archive;
    merge.csv = a.csv;
    merge.with = pulled;
    merge.take = a.take;
    if (status == KIV_EXIT_OK)
        status = MergeCommand(merge);
    // The merge's commit holds the signals until the program exits: one
    // that came meanwhile stops the round here, with the merged CSV in place.
    if (status == KIV_EXIT_OK || status == 1) {
        int held = HeldSignalStatus("; the merged CSV is in place, nothing was sent");
        status = held ? held : status;
    }
    if (status == 1)
        Complain("nothing was sent: resolve the conflicts in " + a.csv +
                 ", then run kiv sync again or kiv push");
    if (status == KIV_EXIT_OK)
        status = Ask("set the handheld to receive the table now",
                     "set the handheld to receive the table now, then press Enter", a.yes);
    std::vector<uint8_t> sent;
    if (status == KIV_EXIT_OK)
        status = TablePushCommand(o, read, a.csv, &sent);
    if (status != KIV_EXIT_OK)
        return status;
    // The handheld has the table: what records it is done whole, signals
    // held until then.
    HoldTerminationSignals();
    long id = 0;
    std::string hash;
    status = ArchivePushed(o, sent, &id, &hash);
    if (status == KIV_EXIT_OK)
        status = RecordTablePush(a.csv, id, hash);
    if (status == KIV_EXIT_OK)
        Complain("sent, archived as version " + std::to_string(id) + ", the CSV's base now");
    int held = HeldSignalStatus("; the round was complete");
    return held ? held : status;
}
