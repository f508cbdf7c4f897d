// from-csv and push of the table CSV: the problem report goes to stderr,
// one line each, whether the table is refused or written with warnings.
#include "kiv_commands.h"
#include "kiv_convert.h"
#include "table_csv_read.h"

namespace {

int Report(int status, const std::vector<std::string>& report, const std::string& error)
{
    for (const std::string& line : report)
        Complain(line);
    if (status && report.empty())
        Complain(error);
    return status;
}

}   // namespace

int TableFromCsvCommand(const TableReadOptions& o, const std::string& csv, const std::string& outPath)
{
    std::vector<std::string> report;
    std::string error;
    std::string out = outPath.empty() ? DefaultKcsvPath(csv) : outPath;
    return Report(TableCsvToKcsvFile(csv, out, o, &report, &error), report, error);
}

int TablePushCommand(const CommonOptions& link, const TableReadOptions& o, const std::string& csv,
                     std::vector<uint8_t>* sent)
{
    std::vector<std::string> report;
    std::string error;
    std::vector<uint8_t> block;
    TableCsvBase base;
    int status = Report(TableCsvToKcsvBlock(csv, o, &block, &report, &error, &base), report, error);
    if (status == KIV_EXIT_OK)
        status = GuardTablePush(link, base.version, base.hash, block);
    if (status == KIV_EXIT_OK)
        status = LinkTransfer(link, true, block, nullptr);
    if (status == KIV_EXIT_OK && sent)
        *sent = std::move(block);
    else if (status == KIV_EXIT_OK)
        status = RecordTablePush(csv, 0, "");
    return status;
}
