// pull, push, to-csv and from-csv: the conversion library around the link.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include <iostream>
#include "archive.h"
#include "kiv_commands.h"
#include "held_signals.h"
#include "kiv_convert.h"
#include "staging.h"

namespace {

// A table's own name at its longest: 33 bytes of code page 932 in UTF-8.
const size_t kLongestTableName = 50;

ConvertOptions Options(const CommonOptions& o)
{
    ConvertOptions c;
    c.utf8 = o.utf8;
    c.force = o.force;
    c.classic = o.classic;
    c.bom = o.bom;
    c.cp932 = o.encoding == "cp932";
    c.strict = o.strict;
    c.decimalComma = o.decimalComma;
    c.missingPicturesEmpty = o.missingPicturesEmpty;
    return c;
}

int Report(int status, const std::string& error)
{
    if (status)
        Complain(error);
    return status;
}

// The cells' problems, or the warnings of a table that is written.
int Report(int status, const std::vector<std::string>& report, const std::string& error)
{
    for (const std::string& line : report)
        Complain(line);
    return status && !error.empty() ? Report(status, error) : status;
}

// Before the port opens: everything about the outputs that can be known
// without the table.
int CheckPullOutputs(const std::string& dir, const std::string& name, bool classic, bool force)
{
    std::string error;
    if (!name.empty() && !SafeFileName(name)) {
        Complain(name + ": not a name for a file in one folder");
        return KIV_EXIT_USAGE;
    }
    int status = CheckOutputFolder(dir, &error);
    // The longest name of the set, with the number a free name adds: a name
    // that cannot be written must fail here, not lose the table after.
    std::string longest = std::string(force ? "" : kFreeNumberMax) +
                          (classic ? ".kcsv.999999.jpeg" : "-pictures");
    if (status == KIV_EXIT_OK)
        status = CheckNameFits(dir, name.empty() ? std::string(kLongestTableName, 'x') : name, longest,
                               &error);
    // The files of a named set that are known before the table: the others
    // depend on its fields.
    std::vector<std::string> known = {".kcsv", ".csv", ".schema"};
    if (classic)
        known = {".kcsv", ".kcsv.table", ".kcsv.rec", ".kcsv.num", ".kcsv.tab"};
    for (size_t i = 0; status == KIV_EXIT_OK && !name.empty() && i < known.size(); i++)
        status = CheckOutputFile(dir + "/" + name + known[i], force, &error);
    std::string pictures = dir + "/" + name + "-pictures";
    struct stat st;
    bool present = !name.empty() && !classic && lstat(pictures.c_str(), &st) == 0;
    if (status == KIV_EXIT_OK && present && S_ISLNK(st.st_mode)) {
        error = SymbolicLinkRefusal(pictures);
        status = KIV_EXIT_WRITE;
    }
    if (status == KIV_EXIT_OK && present && !force) {
        error = pictures + ": exists; give --force to replace its pictures";
        status = KIV_EXIT_WRITE;
    }
    return Report(status, error);
}

// "-n addr.kcsv" means the table addr, as "-n addr" does.
std::string PullName(const std::string& name)
{
    const std::string kcsv = ".kcsv";
    bool suffixed = name.size() > kcsv.size() &&
                    name.compare(name.size() - kcsv.size(), kcsv.size(), kcsv) == 0;
    return suffixed ? name.substr(0, name.size() - kcsv.size()) : name;
}

// Once the Kcsv file of a pull is saved: say where a taken name sent the
// table, and stop there when a signal came since the transfer.
int AfterPulledKcsv(const ReceivedTable& table, std::string* error)
{
    if (!table.takenPath.empty())
        Complain(table.takenPath + " exists; the table is written as " + table.kcsvPath);
    // The table is safe now: a signal during the conversion ends the job
    // at once, its staged files removed.
    int signo = TakeHeldSignal();
    if (signo == 0) {
        StageNoteKept(table.kcsvPath);
        ReleaseTerminationSignals();
        return KIV_EXIT_OK;
    }
    *error = "cancelled; the table is kept in " + table.kcsvPath;
    return 128 + signo;
}

}

bool MakeFolders(const std::string& dir, std::vector<std::string>* made)
{
    made->clear();
    // Each missing parent, from the outermost in, as mkdir -p makes them.
    for (size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
        std::string part = dir.substr(0, end);
        if (mkdir(part.c_str(), 0777) == 0) {
            made->push_back(part);
        } else if (errno != EEXIST) {
            Complain(part + ": cannot make the folder: " + strerror(errno));
            TakeBackFolders(*made);
            return false;
        }
        if (end == std::string::npos)
            return true;
    }
}

void TakeBackFolders(const std::vector<std::string>& made)
{
    for (size_t i = made.size(); i-- > 0;)
        rmdir(made[i].c_str());
}

std::string DefaultKcsvPath(const std::string& csv)
{
    size_t slash = csv.find_last_of('/');
    size_t dot = csv.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
        return csv + ".kcsv";
    return csv.substr(0, dot) + ".kcsv";
}

int PullCommand(const CommonOptions& o, const std::string& dir, const std::string& given)
{
    std::vector<std::string> made;
    if (!MakeFolders(dir, &made))
        return KIV_EXIT_WRITE;
    std::string name = PullName(given);
    int status = CheckPullOutputs(dir, name, o.classic, o.force);
    std::vector<uint8_t> block;
    if (status == KIV_EXIT_OK)
        status = LinkTransfer(o, false, {}, &block);
    if (status) {
        TakeBackFolders(made);
        return status;
    }
    std::vector<std::string> written;
    std::string error;
    // The archive takes the table from the same pass that writes the files.
    DecodedTable decoded;
    PassDecoding decoding;
    StartPassDecoding(&decoding, &decoded);
    PassWatch watch = [&](const KcsvPass& pass, bool titles) { DecodePassStep(&decoding, pass, titles); };
    // The table CSV's order: the Kcsv file, then the archive, then the CSV
    // set, whose schema names the version the archive stored, so that every
    // table CSV of a pull can be checked by push. A Ctrl-C or a failure
    // after the archive leaves the table there and in the Kcsv file.
    int archived = KIV_EXIT_OK;
    bool asked = false;
    BaseNamer nameBase = [&](long* version, std::string* hash) {
        asked = true;
        EndPassDecoding(&decoding);
        archived = ArchiveReceived(o, block, written, decoding.fits ? &decoded : nullptr, version, hash);
    };
    status = o.classic
                 ? KcsvBlockToFiles(block, dir, name, Options(o), &written, &error, AfterPulledKcsv)
                 : KcsvBlockToTableFiles(block, dir, name, Options(o), &written, &error, AfterPulledKcsv,
                                         o.noArchive ? nullptr : watch, o.noArchive ? nullptr : nameBase);
    // What was written is listed whatever failed after it, a kept copy of
    // the table included.
    for (const std::string& path : written)
        std::cout << path << "\n";
    std::cout.flush();
    if (status) {
        if (written.empty())
            TakeBackFolders(made);
        return Report(status, error);
    }
    if (asked)
        return archived;
    EndPassDecoding(&decoding);
    return ArchiveReceived(o, block, written, o.classic || !decoding.fits ? nullptr : &decoded);
}

int PushCommand(const CommonOptions& o, const std::string& layout, const std::string& csv)
{
    std::vector<uint8_t> block;
    std::string error;
    std::vector<std::string> report;
    int status = Report(CsvToKcsvBlock(layout, csv, Options(o), &block, &error, &report), report, error);
    if (status)
        return status;
    return LinkTransfer(o, true, block, nullptr);
}

int ToCsvCommand(const CommonOptions& o, const std::string& kcsv, const std::string& dir)
{
    std::vector<std::string> made;
    if (!MakeFolders(dir, &made))
        return KIV_EXIT_WRITE;
    std::string error;
    ConvertOptions options = Options(o);
    if (!o.classic)
        ArchivedBaseOfFile(o.archive, kcsv, &options.baseVersion, &options.baseHash);
    int status = o.classic ? KcsvFileToCsv(kcsv, dir, options, &error)
                           : KcsvFileToTableCsv(kcsv, dir, options, &error);
    if (status)
        TakeBackFolders(made);
    return Report(status, error);
}

int FromCsvCommand(const CommonOptions& o, const std::string& layout, const std::string& csv,
                   const std::string& outPath)
{
    std::string error;
    std::string out = outPath.empty() ? DefaultKcsvPath(csv) : outPath;
    std::vector<std::string> report;
    return Report(CsvToKcsvFile(layout, csv, out, Options(o), &error, &report), report, error);
}
