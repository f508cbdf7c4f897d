// kiv merge: the table CSV merged with the handheld's later version, over
// the version the CSV was made from. The CSV is read as push reads it (so a
// CSV push would refuse is refused here too, and the merge sees the records
// push would send); the merged set replaces the CSV's own, with the old CSV
// and schema kept beside it as NAME.merge-base.csv and .schema.
#include <iostream>
#include "archive.h"
#include "file_io.h"
#include "kiv_commands.h"
#include "kiv_convert.h"
#include "show_width.h"
#include "staging.h"
#include "table_csv_input.h"
#include "table_csv_read.h"
#include "table_merge.h"
#include "table_model.h"

namespace {

std::string WithoutExtension(const std::string& path)
{
    size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    bool ext = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return ext ? path.substr(0, dot) : path;
}

// A version's bytes and the same decoded; a KivExit value.
int LoadSide(sqlite3* db, long id, ArchiveEntry* entry, std::string* kcsv, DecodedTable* table)
{
    std::string error;
    if (!ArchiveVersion(db, id, entry, kcsv, &error) || !DecodeTable(*kcsv, table, &error)) {
        Complain(error);
        return KIV_EXIT_READ;
    }
    return KIV_EXIT_OK;
}

// The handheld's version: --with, else the table's latest.
int HandheldId(sqlite3* db, const MergeArgs& a, const ArchiveEntry& base, long* id)
{
    std::string error;
    std::vector<long> ids;
    if (a.with) {
        *id = a.with;
        return KIV_EXIT_OK;
    }
    if (!LatestVersions(db, base.name, 1, &ids, &error) || ids.empty()) {
        Complain(error.empty() ? "no version of " + base.name + " in the archive" : error);
        return KIV_EXIT_READ;
    }
    *id = ids[0];
    return KIV_EXIT_OK;
}

// The three sides from the archive: the base checked against the hash the
// schema gives, the handheld's of the same table.
int LoadArchived(const MergeArgs& a, const TableModel& schema, ArchiveEntry* hhEntry, std::string* baseKcsv,
                 DecodedTable* baseTable, std::string* hhKcsv, DecodedTable* hhTable)
{
    sqlite3* db = nullptr;
    std::string error;
    if (!OpenArchive(ArchivePath(a.archive), &db, &error)) {
        Complain(error);
        return KIV_EXIT_READ;
    }
    ArchiveEntry baseEntry;
    long hhId = 0;
    int rc = LoadSide(db, schema.baseVersion, &baseEntry, baseKcsv, baseTable);
    if (rc == KIV_EXIT_OK && TableHash(*baseKcsv) != schema.baseHash) {
        Complain("version " + std::to_string(schema.baseVersion) +
                 " of the archive is not this CSV's base (its bytes differ from those the schema names): "
                 "is it another archive?");
        rc = KIV_EXIT_READ;
    }
    if (rc == KIV_EXIT_OK)
        rc = HandheldId(db, a, baseEntry, &hhId);
    if (rc == KIV_EXIT_OK)
        rc = LoadSide(db, hhId, hhEntry, hhKcsv, hhTable);
    if (rc == KIV_EXIT_OK && hhEntry->name != baseEntry.name) {
        Complain("version " + std::to_string(hhId) + " is of " + hhEntry->name + ", the CSV's base of " +
                 baseEntry.name);
        rc = KIV_EXIT_USAGE;
    }
    hhEntry->id = hhId;
    CloseArchive(db);
    return rc;
}

void ListConflicts(const std::string& csv, const TableMerge& merged)
{
    for (const MergeConflict& c : merged.conflicts) {
        std::string cells;
        for (size_t f = 0; f < c.cells.size(); f++)
            cells += (f ? ", " : "") + OneLine(c.cells[f]);
        // The header is line 1 and no cell holds a line break.
        Complain(csv + ": line " + std::to_string(c.row + 2) + ": conflict (" + c.mark + "): " + cells);
    }
}

}   // namespace

int MergeCommand(const MergeArgs& a)
{
    std::string schemaText, oldCsv, error;
    TableModel schema;
    std::vector<SchemaRow> rows;
    std::string schemaPath = WithoutExtension(a.csv) + ".schema";
    if (ReadWholeFile(a.csv, &oldCsv, &error) != KIV_EXIT_OK ||
        ReadWholeFile(schemaPath, &schemaText, &error) != KIV_EXIT_OK) {
        Complain(error);
        return KIV_EXIT_READ;
    }
    if (!ReadSchema(schemaText, &schema, &rows, &error)) {
        Complain(schemaPath + ": " + error);
        return KIV_EXIT_CONVERT;
    }
    if (schema.baseVersion <= 0) {
        Complain(schemaPath + ": names no base (a CSV that pull, to-csv or export wrote from the archive "
                              "has one), so there is nothing to merge it over; push --force replaces the "
                              "handheld's table");
        return KIV_EXIT_CONVERT;
    }
    // The PC side as push would send it, each record tied to its base row.
    std::vector<long> kept;
    TableReadOptions read;
    read.keptRows = &kept;
    std::vector<uint8_t> block;
    std::vector<std::string> report;
    int rc = TableCsvToKcsvBlock(a.csv, read, &block, &report, &error);
    for (const std::string& line : report)
        Complain(line);
    if (rc != KIV_EXIT_OK) {
        if (report.empty())
            Complain(error);
        return rc;
    }
    std::string pcKcsv(block.begin(), block.end()), baseKcsv, hhKcsv;
    DecodedTable pcTable, baseTable, hhTable;
    if (!DecodeTable(pcKcsv, &pcTable, &error)) {
        Complain(a.csv + ": " + error);
        return KIV_EXIT_CONVERT;
    }
    ArchiveEntry hhEntry;
    rc = LoadArchived(a, schema, &hhEntry, &baseKcsv, &baseTable, &hhKcsv, &hhTable);
    if (rc != KIV_EXIT_OK)
        return rc;
    TableMerge merged;
    MergeTake take = a.take == "pc" ? TAKE_PC : a.take == "handheld" ? TAKE_HANDHELD : TAKE_NEITHER;
    if (!MergeTables({&baseKcsv, &baseTable}, {&hhKcsv, &hhTable}, {&pcKcsv, &pcTable}, kept, take, &merged,
                     &error)) {
        Complain(a.csv + ": " + error);
        return KIV_EXIT_CONVERT;
    }
    // The merged set replaces the CSV's own, in the CSV's encoding; the
    // handheld's version is its base, so that push then goes.
    std::string dir = FolderOf(a.csv), name = LeafOf(WithoutExtension(a.csv));
    ConvertOptions options;
    options.force = true;
    options.cp932 = FirstNonUtf8Line(oldCsv) != 0;
    options.bom = oldCsv.compare(0, 3, "\xEF\xBB\xBF") == 0;
    options.baseVersion = hhEntry.id;
    options.baseHash = TableHash(hhKcsv);
    options.conflictMarks = merged.conflicts.empty() ? nullptr : &merged.marks;
    options.besideFiles = {{name + ".merge-base.csv", oldCsv}, {name + ".merge-base.schema", schemaText}};
    std::vector<std::string> written;
    rc = KcsvToTableCsv(merged.kcsv, "the merged table", dir, name, options, &written, &error);
    if (rc != KIV_EXIT_OK) {
        Complain(error);
        return rc;
    }
    for (const std::string& path : written)
        std::cout << path << "\n";
    ListConflicts(a.csv, merged);
    return merged.conflicts.empty() ? KIV_EXIT_OK : 1;
}
