// A received table's files. They are planned in memory first: the name comes
// from the table, and when a file of that name's set exists the whole set
// takes the first free name, so that nothing is overwritten and nothing is
// lost. The Kcsv file is then committed on its own, before anything else can
// fail or be interrupted, and the other files after it.
#include "kiv_convert.h"
#include "staging.h"
#include "table_files.h"

namespace {

const char kShown[] = "the received table";

// Converts for path; a failure is kept in the plan, not returned: the Kcsv
// file is written whatever happens.
void ConvertFor(ReceivedTable* table, const std::string& path, const ConvertOptions& options,
                std::vector<TableFile>* files)
{
    files->clear();
    table->convertStatus = ConvertTable(table->kcsv, path, kShown, options, files, &table->convertError);
    if (table->convertStatus != KIV_EXIT_OK)
        files->clear();
}

std::vector<TableFile> FilesOf(const ReceivedTable& table)
{
    std::vector<TableFile> files;
    for (const auto& f : table.files)
        files.push_back({f.first, f.second});
    return files;
}

void PlanReceivedTable(const std::vector<uint8_t>& block, const std::string& dir, const std::string& name,
                       const ConvertOptions& options, ReceivedTable* table)
{
    table->kcsv.assign(block.begin(), block.end());
    std::vector<TableFile> files;
    std::string leaf = name;
    if (leaf.empty()) {
        // The name is in the table's description, which the conversion reads
        // into the layout, in code page 932.
        ConvertOptions cp932 = options;
        cp932.utf8 = false;
        ConvertFor(table, "table.kcsv", cp932, &files);
        leaf = TableNameOf(files);
        if (leaf.empty())
            leaf = "table";
    }
    // The record file names the pictures by their paths: converted for the
    // final path.
    std::string base = JoinPath(dir, leaf), path = base + ".kcsv";
    ConvertFor(table, path, options, &files);
    std::vector<std::string> suffixes = {".kcsv", ".kcsv.kiv-files"};
    for (const TableFile& f : files)
        suffixes.push_back(".kcsv" + f.suffix);
    table->kcsvPath = options.force ? path : FreePathFor(base, suffixes) + ".kcsv";
    if (table->kcsvPath != path) {
        table->takenPath = path;
        ConvertFor(table, table->kcsvPath, options, &files);
    }
    for (const TableFile& f : files)
        table->files.emplace_back(f.suffix, f.bytes);
}

}   // namespace

int CommitReceivedKcsv(const ReceivedTable& table, const ConvertOptions& options,
                       std::vector<std::string>* written, std::string* error, AfterKcsv afterKcsv)
{
    int rc = CommitTable(&table.kcsv, table.kcsvPath, {}, options, false, written, error);
    if (rc != KIV_EXIT_OK) {
        std::string kept = KeepBlock(table.kcsv, table.kcsvPath);
        *error += kept.empty() ? "; the received table could not be saved anywhere"
                               : "; the received table is kept in " + kept;
        if (written && !kept.empty())
            written->push_back(kept);
        return rc;
    }
    return afterKcsv ? afterKcsv(table, error) : KIV_EXIT_OK;
}

int KcsvBlockToFiles(const std::vector<uint8_t>& block, const std::string& dir, const std::string& name,
                     const ConvertOptions& options, std::vector<std::string>* written, std::string* error,
                     AfterKcsv afterKcsv)
{
    if (!name.empty() && !SafeFileName(name)) {
        *error = name + ": not a name for a file in one folder";
        return KIV_EXIT_USAGE;
    }
    ReceivedTable table;
    PlanReceivedTable(block, dir, name, options, &table);
    int rc = CommitReceivedKcsv(table, options, written, error, afterKcsv);
    if (rc != KIV_EXIT_OK)
        return rc;
    if (table.convertStatus != KIV_EXIT_OK) {
        *error = table.convertError + "; it is kept in " + table.kcsvPath;
        return table.convertStatus;
    }
    rc = CommitTable(nullptr, table.kcsvPath, FilesOf(table), options, true, written, error);
    if (rc != KIV_EXIT_OK)
        *error += "; the received table is kept in " + table.kcsvPath;
    return rc;
}
