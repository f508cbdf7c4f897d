// history, diff, export and push --from-archive over the archive of pulls, and the archive's part in pull and
// receive: a table that arrived is stored once its files are written, and an
// archive that cannot take it costs a warning, never the table.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <iostream>
#include "file_io.h"
#include "archive.h"
#include "kiv_commands.h"
#include "port_settings.h"
#include "kiv_convert.h"
#include "show_command.h"
#include "show_width.h"
#include "staging.h"
#include "table_model.h"

namespace {

bool Open(const std::string& given, sqlite3** db)
{
    std::string error;
    if (OpenArchive(ArchivePath(given), db, &error))
        return true;
    Complain(error);
    return false;
}

// The version id's bytes; a KivExit value.
int LoadVersion(sqlite3* db, long id, ArchiveEntry* entry, std::string* kcsv)
{
    std::string error;
    if (!ArchiveVersion(db, id, entry, kcsv, &error)) {
        Complain(error);
        return KIV_EXIT_READ;
    }
    return KIV_EXIT_OK;
}

// The version id decoded, read from the archive a piece at a time.
int LoadVersionTable(sqlite3* db, long id, ArchiveEntry* entry, DecodedTable* table)
{
    std::string error;
    FILE* bytes = nullptr;
    if (!ArchiveVersionStream(db, id, entry, &bytes, &error) ||
        !DecodeTableStream(bytes, "version " + std::to_string(id), table, &error)) {
        Complain(error);
        return KIV_EXIT_READ;
    }
    return KIV_EXIT_OK;
}

std::string Line(const ArchiveEntry& e)
{
    std::string line = std::to_string(e.id) + "  " + e.pulled + "  " + e.name + "  " +
                       std::to_string(e.records) + " records  " + std::to_string(e.size) + " bytes";
    // A version kiv sync sent has " push" after its link's kind.
    const std::string push = " push";
    bool sent = e.link.size() > push.size() &&
                e.link.compare(e.link.size() - push.size(), push.size(), push) == 0;
    if (e.sameAs)
        return line + "  = " + std::to_string(e.sameAs) +
               (sent ? " (sent, unchanged)" : " (pulled again, unchanged)");
    return sent ? line + "  (sent to the handheld)" : line;
}

std::string FilesLine(const std::vector<std::string>& files)
{
    std::string line;
    for (size_t i = 0; i < files.size() && i < 3; i++)
        line += (i ? ", " : "") + files[i];
    return files.size() > 3 ? line + " and " + std::to_string(files.size() - 3) + " more" : line;
}

// name's refusal when the archive holds no table of that name: "" when it does.
std::string UnknownTable(sqlite3* db, const std::string& path, const std::string& name)
{
    std::vector<std::string> names;
    std::string error, list;
    if (!ArchiveTableNames(db, &names, &error))
        return error;
    for (const std::string& n : names) {
        if (n == name)
            return "";
        list += (list.empty() ? "" : ", ") + n;
    }
    return "no table " + name + " in " + path + " (tables: " + (list.empty() ? "none" : list) + ")";
}

// The table of pull id, to compare its version with the table's latest.
bool NameOfVersion(sqlite3* db, long id, std::string* name, std::string* error)
{
    std::vector<ArchiveEntry> entries;
    if (!ArchiveHistory(db, "", &entries, error))
        return false;
    for (const ArchiveEntry& e : entries)
        if (e.id == id)
            *name = e.name;
    if (name->empty())
        *error = "no version " + std::to_string(id) + " in the archive (kiv history lists them)";
    return !name->empty();
}

// The two versions diff compares: [0] older, [1] newer.
int DiffVersions(sqlite3* db, const DiffArgs& a, long ids[2])
{
    std::string name = a.name, error;
    std::vector<long> latest;
    if (!name.empty() && !(error = UnknownTable(db, ArchivePath(a.archive), name)).empty()) {
        Complain(error);
        return KIV_EXIT_READ;
    }
    bool named = !name.empty() || (a.first && NameOfVersion(db, a.first, &name, &error)) ||
                 (!a.first && LastPulledName(db, &name, &error));
    if (!named || (!a.second && !LatestVersions(db, name, a.first ? 1 : 2, &latest, &error))) {
        Complain(error);
        return KIV_EXIT_READ;
    }
    ids[0] = a.first ? a.first : latest.size() > 1 ? latest[1] : 0;
    ids[1] = a.second ? a.second : latest.empty() ? 0 : latest[0];
    if (ids[0] && ids[1])
        return KIV_EXIT_OK;
    Complain(name.empty() ? "the archive holds no table yet"
                          : name + ": the archive holds fewer than two versions of it");
    return KIV_EXIT_READ;
}

// True when the archive is not there yet, or holds no pull: the state
// before the first pull.
bool NoPullsYet(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT;
    sqlite3* db = nullptr;
    std::string error, name;
    if (!OpenArchive(path, &db, &error))
        return false;
    bool none = LastPulledName(db, &name, &error) && name.empty();
    CloseArchive(db);
    return none;
}

// How to add the received table by hand once the archive takes it again:
// the Kcsv file among those written (a pull's NAME.kcsv, or what receive wrote).
std::string AddLaterHint(const std::string& archive, const std::vector<std::string>& files)
{
    std::string kcsv;
    for (const std::string& f : files)
        if (kcsv.empty() && f.size() > 5 && f.compare(f.size() - 5, 5, ".kcsv") == 0)
            kcsv = f;
    if (kcsv.empty() && !files.empty())
        kcsv = files[0];
    if (kcsv.empty())
        return "";
    return "; add it later with: kiv archive add " + (archive.empty() ? "" : "--archive " + archive + " ") +
           kcsv;
}

// One Kcsv file stored as a version: pulled when the file was last written,
// from the port "file"; an unchanged table is recorded as equal to the
// version before, as a pull of it would be.
int AddFile(const std::string& path, const std::string& file, ArchiveEntry* entry)
{
    std::string kcsv, error;
    struct stat st;
    int rc = KIV_EXIT_READ;
    if (stat(file.c_str(), &st) != 0)
        error = file + ": " + strerror(errno);
    else
        rc = ReadWholeFile(file, &kcsv, &error);
    if (rc != KIV_EXIT_OK) {
        Complain(error);
        return rc;
    }
    DecodedTable table;
    if (!DecodeTable(kcsv, &table, &error)) {
        Complain(file + ": not a table that can be archived: " + error);
        return KIV_EXIT_CONVERT;
    }
    entry->pulled = ArchiveTime(st.st_mtime);
    entry->port = "file";
    if (!ArchiveTable(path, kcsv, table, entry, &error)) {
        Complain("the archive " + path + " could not be written: " + error + "; " + file + " is not added");
        return KIV_EXIT_WRITE;
    }
    return KIV_EXIT_OK;
}

}   // namespace

int ArchiveReceived(const CommonOptions& o, const std::vector<uint8_t>& block,
                    const std::vector<std::string>& files, const DecodedTable* decoded, long* version,
                    std::string* hash)
{
    std::string kcsv(block.begin(), block.end()), error;
    DecodedTable own;
    if (o.noArchive || (!decoded && !DecodeTable(kcsv, &own, &error)))
        return KIV_EXIT_OK;   // a block that is no table is a file, not a version
    const DecodedTable& table = decoded ? *decoded : own;
    ArchiveEntry entry;
    entry.pulled = ArchiveNow();
    entry.port = o.link.port;
    // The kind the transfer ran with, wherever it came from (option, settings file, default).
    PortParams params;
    std::string ignored;
    entry.link = ResolvePortParams(o.link, &params, &ignored, &ignored) == SETTINGS_OK
                     ? LinkKindName(params.linkKind)
                     : o.link.link;
    std::string path = ArchivePath(o.archive);
    // The files are in place; the status still says that the version is
    // missing, so that a script does not take it for archived.
    const std::string noBase = version ? "; the table CSV names no base, so push cannot check the "
                                         "handheld's changes since"
                                       : "";
    if (!ArchiveTable(path, kcsv, table, &entry, &error)) {
        Complain("the archive " + path + " could not be written: " + error + "; the table is in " +
                 FilesLine(files) + AddLaterHint(o.archive, files) + noBase);
        return KIV_EXIT_WRITE;
    }
    if (!version)
        return KIV_EXIT_OK;
    // A pull equal to the version before names its own id; its bytes, for
    // the hash, are that version's.
    sqlite3* db = nullptr;
    std::string stored = entry.sameAs ? "" : TableHash(kcsv);
    if (entry.sameAs && OpenArchive(path, &db, &error)) {
        if (!ArchivedHash(db, entry.id, &stored, &error))
            stored.clear();
        CloseArchive(db);
    }
    if (stored.empty()) {
        Complain("the archive " + path + " could not be read back: " + error + noBase);
        return KIV_EXIT_OK;
    }
    *version = entry.id;
    *hash = stored;
    return KIV_EXIT_OK;
}

void ArchivedBaseOfFile(const std::string& archive, const std::string& kcsvPath, long* version,
                        std::string* hash)
{
    std::string path = ArchivePath(archive), error, kcsv;
    struct stat st, file;
    if (stat(path.c_str(), &st) != 0 || stat(kcsvPath.c_str(), &file) != 0)
        return;   // no archive, or no file: the conversion says that
    sqlite3* db = nullptr;
    bool any = false;
    long id = 0;
    std::string stored;
    bool ok = OpenArchive(path, &db, &error) && AnyVersionOfSize(db, (long)file.st_size, &any, &error);
    // The file is read whole only when a version of its length is there.
    if (ok && any) {
        ok = ReadWholeFile(kcsvPath, &kcsv, &error) == KIV_EXIT_OK;
        ok = ok && PullHoldingBytes(db, kcsv, &id, &stored, &error);
    }
    if (db)
        CloseArchive(db);
    if (!ok) {
        Complain("cannot look in the archive " + path + ": " + error + "; the table CSV names no base");
        return;
    }
    if (id) {
        *version = id;
        *hash = stored;
    }
}

int ArchiveAddCommand(const std::string& archive, const std::vector<std::string>& files)
{
    int status = KIV_EXIT_OK;
    for (const std::string& file : files) {
        ArchiveEntry entry;
        int rc = AddFile(ArchivePath(archive), file, &entry);
        if (rc == KIV_EXIT_OK)
            std::cout << OneLine(Line(entry)) << "\n";
        else if (status == KIV_EXIT_OK)
            status = rc;
    }
    return status;
}

int HistoryCommand(const std::string& archive, const std::string& name)
{
    std::string path = ArchivePath(archive);
    if (NoPullsYet(path)) {
        Complain("no pulls yet: " + path + " is made by the first pull");
        return KIV_EXIT_OK;
    }
    sqlite3* db = nullptr;
    if (!Open(archive, &db))
        return KIV_EXIT_READ;
    std::vector<ArchiveEntry> entries;
    std::string error = name.empty() ? "" : UnknownTable(db, path, name);
    bool ok = error.empty() && ArchiveHistory(db, name, &entries, &error);
    CloseArchive(db);
    if (!ok) {
        Complain(error);
        return KIV_EXIT_READ;
    }
    for (const ArchiveEntry& e : entries)
        std::cout << OneLine(Line(e)) << "\n";
    return KIV_EXIT_OK;
}

// Whether two versions whose records all match hold them in the same
// order: at every place the same line, or two lines apart that hold the same
// record.
bool SameOrderApart(const VersionsApart& v)
{
    if (v.lines[0] != v.lines[1])
        return false;
    size_t same = 0;
    for (size_t i = 0, j = 0; i < v.places[0].size() && j < v.places[1].size();) {
        if (v.places[0][i] != v.places[1][j]) {
            (v.places[0][i] < v.places[1][j] ? i : j)++;
            continue;
        }
        same += SameRecordAt(v.records[0], i++, v.records[1], j++);
    }
    return same == v.moved;
}

int DiffCommand(const DiffArgs& a)
{
    sqlite3* db = nullptr;
    if (!Open(a.archive, &db))
        return KIV_EXIT_READ;
    long ids[2];
    VersionsApart apart;
    std::string error;
    int rc = DiffVersions(db, a, ids);
    if (rc == KIV_EXIT_OK && !ReadVersionsApart(db, ids, &apart, &error)) {
        Complain(error);
        rc = KIV_EXIT_READ;
    }
    // Versions whose headers differ are read whole.
    DecodedTable tables[2];
    for (int k = 0; k < 2 && rc == KIV_EXIT_OK && !apart.usable; k++)
        rc = LoadVersionTable(db, ids[k], &apart.entries[k], &tables[k]);
    CloseArchive(db);
    if (rc != KIV_EXIT_OK)
        return rc;
    const DecodedTable* t = apart.usable ? apart.records : tables;
    std::string diff = TableDiff(t[0], t[1]);
    // Order is part of what the handheld sent: versions that differ only
    // in it are two versions, and diff says so rather than nothing.
    if (diff.empty() && (apart.usable ? SameOrderApart(apart) : SameRecordOrder(t[0], t[1])))
        return KIV_EXIT_OK;
    if (diff.empty())
        diff = "the same records in another order\n";
    std::cout << "--- " << OneLine(Line(apart.entries[0])) << "\n+++ " << OneLine(Line(apart.entries[1]))
              << "\n"
              << diff;
    return 1;
}

int ExportCommand(const CommonOptions& o, const ExportArgs& a)
{
    if (a.kcsv && a.html) {
        Complain("give --kcsv or --html, not both");
        return KIV_EXIT_USAGE;
    }
    if (!a.output.empty() && !a.kcsv && !a.html) {
        Complain("-o names the file of --kcsv or --html; the table CSV goes in -d DIR");
        return KIV_EXIT_USAGE;
    }
    sqlite3* db = nullptr;
    if (!Open(a.archive, &db))
        return KIV_EXIT_READ;
    ArchiveEntry entry;
    std::string kcsv, error;
    int rc = LoadVersion(db, a.id, &entry, &kcsv);
    CloseArchive(db);
    if (rc != KIV_EXIT_OK)
        return rc;
    // The folder is made when missing, and taken back when the job fails.
    std::vector<std::string> made;
    if (!MakeFolders(a.dir, &made))
        return KIV_EXIT_WRITE;
    std::string base = SafeFileName(entry.name) ? entry.name : "table";
    std::string shown = "version " + std::to_string(a.id);
    std::vector<std::string> written;
    // -o is inside -d, unless it names a path from the root.
    std::string leaf = !a.output.empty() ? a.output : base + (a.html ? ".html" : ".kcsv");
    std::string out = leaf[0] == '/' ? leaf : JoinPath(a.dir, leaf);
    if (a.kcsv) {
        rc = WriteFileAtomically(out, std::vector<uint8_t>(kcsv.begin(), kcsv.end()), o.force, &error);
        if (rc == KIV_EXIT_OK)
            written.push_back(out);
    } else if (a.html) {
        rc = WriteKcsvPage(kcsv, shown, out, o.force, &written, &error);
    } else {
        // The version is the CSV's base, for push's check and merge.
        ConvertOptions options;
        options.force = o.force;
        options.baseVersion = a.id;
        options.baseHash = TableHash(kcsv);
        rc = KcsvToTableCsv(kcsv, shown, a.dir, base, options, &written, &error);
    }
    if (rc != KIV_EXIT_OK)
        Complain(error);
    if (rc != KIV_EXIT_OK)
        TakeBackFolders(made);
    for (const std::string& path : written)
        std::cout << path << "\n";
    return rc;
}

int ArchivePushCommand(const CommonOptions& o, long id)
{
    sqlite3* db = nullptr;
    if (!Open(o.archive, &db))
        return KIV_EXIT_READ;
    ArchiveEntry entry;
    std::string kcsv;
    int rc = LoadVersion(db, id, &entry, &kcsv);
    CloseArchive(db);
    return rc ? rc : LinkTransfer(o, true, std::vector<uint8_t>(kcsv.begin(), kcsv.end()), nullptr);
}
