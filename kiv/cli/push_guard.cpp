// push's look in the archive before the port opens: the table CSV's base is
// the version it was made from; a later pull that differs from it in records
// holds changes made on the handheld since, which the push would replace,
// and a push that removes most of the base's records is almost always a
// CSV emptied by mistake. Either refuses unless --force. What cannot be
// checked (no base, a base the archive does not hold) is said and pushed.
#include <sys/stat.h>
#include <cerrno>
#include "archive.h"
#include "kiv_commands.h"
#include "kiv_convert.h"
#include "table_model.h"

namespace {

const char kUnchecked[] = ": the handheld's changes since cannot be checked";

// "2 added, 1 changed": the kinds that are not 0, and "titles changed"
// when the fields were renamed.
std::string CountsLine(const RecordCounts& c)
{
    std::string line;
    auto add = [&](size_t n, const char* kind) {
        if (n)
            line += (line.empty() ? "" : ", ") + std::to_string(n) + " " + kind;
    };
    add(c.added, "added");
    add(c.changed, "changed");
    add(c.removed, "removed");
    if (c.titles)
        line += line.empty() ? "titles changed" : ", titles changed";
    return line;
}

bool HoldsTable(sqlite3* db, const std::string& name)
{
    std::vector<std::string> names;
    std::string error;
    if (!ArchiveTableNames(db, &names, &error))
        return false;
    for (const std::string& n : names)
        if (n == name)
            return true;
    return false;
}

bool LoadDecoded(sqlite3* db, long id, ArchiveEntry* entry, DecodedTable* table, std::string* error)
{
    std::string kcsv;
    return ArchiveVersion(db, id, entry, &kcsv, error) && DecodeTable(std::move(kcsv), table, error);
}

// The checks once the archive is open; a KivExit value.
int Guard(sqlite3* db, const std::string& path, long baseId, const std::string& baseHash,
          const DecodedTable& pc, bool force)
{
    std::string shown = "the CSV's base version " + std::to_string(baseId), error, kcsv;
    if (!baseId) {
        if (HoldsTable(db, pc.name))
            Complain(std::string("the CSV names no base version") + kUnchecked);
        return KIV_EXIT_OK;
    }
    ArchiveEntry entry;
    if (!ArchiveVersion(db, baseId, &entry, &kcsv, &error)) {
        bool missing = error.rfind("no version ", 0) == 0;
        Complain(shown + (missing ? " is not in the archive " + path : ": " + error) + kUnchecked);
        return KIV_EXIT_OK;
    }
    if (TableHash(kcsv) != baseHash) {
        Complain(shown + " in the archive " + path + " is another table than the one the CSV was made from" +
                 kUnchecked);
        return KIV_EXIT_OK;
    }
    DecodedTable base;
    long later = 0, laterVersion = 0;
    if (!DecodeTable(std::move(kcsv), &base, &error) ||
        !NewestPullAfter(db, entry.name, baseId, &later, &laterVersion, &error)) {
        Complain(shown + ": " + error + kUnchecked);
        return KIV_EXIT_OK;
    }
    // A later pull of the same version (pulled again unchanged) holds no change.
    long baseVersion = entry.sameAs ? entry.sameAs : entry.id;
    if (later && laterVersion != baseVersion) {
        ArchiveEntry laterEntry;
        DecodedTable handheld;
        if (!LoadDecoded(db, later, &laterEntry, &handheld, &error)) {
            Complain("version " + std::to_string(later) + ": " + error + kUnchecked);
            return KIV_EXIT_OK;
        }
        std::string counts = CountsLine(CountRecordChanges(base, handheld));
        if (!counts.empty() && force) {
            Complain("version " + std::to_string(later) +
                     " holds the handheld's changes since this CSV was made (" + counts +
                     "); --force replaces them");
        } else if (!counts.empty()) {
            Complain("the handheld's table changed since this CSV was made (version " +
                     std::to_string(later) + ": " + counts +
                     "); run kiv merge, or give --force to replace those changes");
            return KIV_EXIT_WRITE;
        }
    }
    size_t removed = CountRecordChanges(base, pc).removed;
    if (!force && removed > 0 && removed * 2 > base.records) {
        Complain("this push removes " + std::to_string(removed) + " of the " + std::to_string(base.records) +
                 " records of version " + std::to_string(baseId) +
                 ", the CSV's base; give --force if that is meant");
        return KIV_EXIT_WRITE;
    }
    return KIV_EXIT_OK;
}

}   // namespace

int GuardTablePush(const CommonOptions& o, long baseId, const std::string& baseHash,
                   const std::vector<uint8_t>& block)
{
    std::string path = ArchivePath(o.archive), error;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (baseId)
            Complain("the CSV's base version " + std::to_string(baseId) + ": no archive at " + path +
                     kUnchecked);
        return KIV_EXIT_OK;
    }
    DecodedTable pc;
    if (!DecodeTable(std::string(block.begin(), block.end()), &pc, &error)) {
        Complain("the table to push: " + error + kUnchecked);
        return KIV_EXIT_OK;
    }
    sqlite3* db = nullptr;
    if (!OpenArchive(path, &db, &error)) {
        Complain(error + kUnchecked);
        return KIV_EXIT_OK;
    }
    int status = Guard(db, path, baseId, baseHash, pc, o.force);
    CloseArchive(db);
    return status;
}
