// pull, push, to-csv and from-csv: the conversion library around the link.
#include <errno.h>
#include <sys/stat.h>
#include <cstring>
#include <iostream>
#include "kiv_commands.h"
#include "kiv_convert.h"

namespace {

ConvertOptions Options(const CommonOptions& o)
{
    ConvertOptions c;
    c.utf8 = o.utf8;
    c.force = o.force;
    c.classic = o.classic;
    c.bom = o.bom;
    c.cp932 = o.encoding == "cp932";
    return c;
}

// The output folder of pull and to-csv, made when it is not there yet.
bool MakeFolder(const std::string& dir)
{
    if (mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST)
        return true;
    Complain(dir + ": cannot make the folder: " + strerror(errno));
    return false;
}

int Report(int status, const std::string& error)
{
    if (status)
        Complain(error);
    return status;
}

}

std::string DefaultKcsvPath(const std::string& csv)
{
    size_t slash = csv.find_last_of('/');
    size_t dot = csv.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        return csv + ".kcsv";
    return csv.substr(0, dot) + ".kcsv";
}

int PullCommand(const CommonOptions& o, const std::string& dir, const std::string& name)
{
    if (!MakeFolder(dir))
        return KIV_EXIT_WRITE;
    std::vector<uint8_t> block;
    int status = LinkTransfer(o, false, {}, &block);
    if (status)
        return status;
    std::vector<std::string> written;
    std::string error;
    status = o.classic ? KcsvBlockToFiles(block, dir, name, Options(o), &written, &error)
                       : KcsvBlockToTableFiles(block, dir, name, Options(o), &written, &error);
    if (status)
        return Report(status, error);
    for (const std::string& path : written)
        std::cout << path << "\n";
    return KIV_EXIT_OK;
}

int PushCommand(const CommonOptions& o, const std::string& layout, const std::string& csv)
{
    std::vector<uint8_t> block;
    std::string error;
    int status = CsvToKcsvBlock(layout, csv, Options(o), &block, &error);
    if (status)
        return Report(status, error);
    return LinkTransfer(o, true, block, nullptr);
}

int ToCsvCommand(const CommonOptions& o, const std::string& kcsv, const std::string& dir)
{
    if (!MakeFolder(dir))
        return KIV_EXIT_WRITE;
    std::string error;
    int status = o.classic ? KcsvFileToCsv(kcsv, dir, Options(o), &error)
                           : KcsvFileToTableCsv(kcsv, dir, Options(o), &error);
    return Report(status, error);
}

int FromCsvCommand(const CommonOptions& o, const std::string& layout, const std::string& csv,
                   const std::string& outPath)
{
    std::string error;
    std::string out = outPath.empty() ? DefaultKcsvPath(csv) : outPath;
    return Report(CsvToKcsvFile(layout, csv, out, Options(o), &error), error);
}
