// history over the archive of pulls, and the archive's part in pull and
// receive: a table that arrived is stored once its files are written, and an
// archive that cannot take it costs a warning, never the table.
#include <iostream>
#include "archive.h"
#include "kiv_commands.h"
#include "kiv_convert.h"

namespace {

bool Open(const std::string& given, sqlite3** db)
{
    std::string error;
    if (OpenArchive(ArchivePath(given), db, &error))
        return true;
    Complain(error);
    return false;
}

std::string Line(const ArchiveEntry& e)
{
    std::string line = std::to_string(e.id) + "  " + e.pulled + "  " + e.name + "  " +
                       std::to_string(e.records) + " records  " + std::to_string(e.size) + " bytes";
    return e.sameAs ? line + "  = " + std::to_string(e.sameAs) + " (pulled again, unchanged)" : line;
}

std::string FilesLine(const std::vector<std::string>& files)
{
    std::string line;
    for (size_t i = 0; i < files.size() && i < 3; i++)
        line += (i ? ", " : "") + files[i];
    return files.size() > 3 ? line + " and " + std::to_string(files.size() - 3) + " more" : line;
}

}   // namespace

void ArchiveReceived(const CommonOptions& o, const std::vector<uint8_t>& block,
                     const std::vector<std::string>& files)
{
    std::string kcsv(block.begin(), block.end()), error;
    DecodedTable table;
    if (o.noArchive || !DecodeTable(kcsv, &table, &error))
        return;   // a block that is no table is a file, not a version
    ArchiveEntry entry;
    entry.pulled = ArchiveNow();
    entry.port = o.link.port;
    entry.link = o.link.link.empty() ? "ir" : o.link.link;
    std::string path = ArchivePath(o.archive);
    if (!ArchiveTable(path, kcsv, table, &entry, &error))
        Complain("the archive " + path + " could not be written: " + error + "; the table is in " +
                 FilesLine(files));
}

int HistoryCommand(const std::string& archive, const std::string& name)
{
    sqlite3* db = nullptr;
    if (!Open(archive, &db))
        return KIV_EXIT_READ;
    std::vector<ArchiveEntry> entries;
    std::string error;
    bool ok = ArchiveHistory(db, name, &entries, &error);
    CloseArchive(db);
    if (!ok) {
        Complain(error);
        return KIV_EXIT_READ;
    }
    for (const ArchiveEntry& e : entries)
        std::cout << Line(e) << "\n";
    return KIV_EXIT_OK;
}
