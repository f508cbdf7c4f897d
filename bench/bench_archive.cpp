// The archive of pulls: 1 000 pulls of the sample table into one archive,
// every 10th with one record changed and the others the last version again
// with new time stamps (so both the dedup and diff have work). Each pull
// writes its files as pull does, then stores the table through the same
// archive functions; the ratio is the archive's time over the files' time.
// Then the archive's size, and history and diff over it.
//
//   kivbench_archive [PULLS]   (default 1000)
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "archive.h"
#include "bench.h"
#include "kiv_convert.h"

namespace {

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

long FileSize(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (long)st.st_size : 0;
}

bool Fail(const std::string& what, const std::string& error)
{
    fprintf(stderr, "kivbench_archive: %s: %s\n", what.c_str(), error.c_str());
    return false;
}

// history and diff as the commands run them; false when one fails.
bool Query(const std::string& path, const std::string& name, double* history, double* diff)
{
    sqlite3* db = nullptr;
    std::string error;
    double start = BenchSeconds();
    std::vector<ArchiveEntry> entries;
    if (!OpenArchive(path, &db, &error) || !ArchiveHistory(db, "", &entries, &error))
        return Fail("history", error);
    CloseArchive(db);
    *history = BenchSeconds() - start;
    start = BenchSeconds();
    std::vector<long> ids;
    ArchiveEntry e;
    std::string kcsv[2];
    DecodedTable t[2];
    bool ok = OpenArchive(path, &db, &error) && LatestVersions(db, name, 2, &ids, &error) && ids.size() == 2;
    for (int k = 0; ok && k < 2; k++)
        ok = ArchiveVersion(db, ids[1 - k], &e, &kcsv[k], &error) && DecodeTable(kcsv[k], &t[k], &error);
    CloseArchive(db);
    if (!ok || TableDiff(t[0], t[1]).empty())
        return Fail("diff", error);
    *diff = BenchSeconds() - start;
    printf("history: %zu pulls listed; diff: %zu and %zu records\n", entries.size(), t[0].records,
           t[1].records);
    return true;
}

}   // namespace

int main(int argc, char** argv)
{
    int pulls = argc > 1 ? atoi(argv[1]) : 1000;
    char tmpl[] = "/tmp/kivbench-archive-XXXXXX";
    std::string dir = mkdtemp(tmpl) ? tmpl : "";
    std::vector<uint8_t> block;
    std::string error;
    ConvertOptions options;
    if (dir.empty() || chdir(KIV_SAMPLES) != 0 ||
        CsvToKcsvBlock("addr.table", "addr.txt", options, &block, &error) != KIV_EXIT_OK)
        return Fail("the sample table", error), 1;
    std::string sample(block.begin(), block.end()), last = sample, archive = dir + "/archive.sqlite";
    size_t h = sample.find("\"H\",\"04\",\"RVC2\",\"");
    std::string stamp = sample.substr(h + 17, 14);
    options.force = true;
    double files = 0, archiving = 0;
    long stored = 0;
    for (int i = 0; i < pulls; i++) {
        char now[16];
        snprintf(now, sizeof now, "2027%010d", i);
        // A pull that changes one record; the others are the last version again.
        if (i % 10 == 9)
            last = Replaced(sample, "\x8E\x52\x93\x63", "\x8E\x52\x93\x63" + std::to_string(i));
        std::string kcsv = Replaced(last, stamp, now);
        block.assign(kcsv.begin(), kcsv.end());
        std::vector<std::string> written;
        double start = BenchSeconds();
        if (KcsvBlockToTableFiles(block, dir, "pulled", options, &written, &error) != KIV_EXIT_OK)
            return Fail("the files", error), 1;
        double mid = BenchSeconds();
        DecodedTable table;
        ArchiveEntry entry;
        entry.pulled = ArchiveNow();
        entry.port = "/dev/ttyUSB0";
        entry.link = "cable";
        if (!DecodeTable(kcsv, &table, &error) || !ArchiveTable(archive, kcsv, table, &entry, &error))
            return Fail("the archive", error), 1;
        archiving += BenchSeconds() - mid;
        files += mid - start;
        stored += entry.sameAs == 0;
    }
    double history = 0, diff = 0;
    if (!Query(archive, "住所録", &history, &diff))
        return 1;
    long size = FileSize(archive);
    printf("%d pulls of the sample table (%zu bytes), %ld versions stored\n", pulls, sample.size(), stored);
    printf("%-40s %10.2f ms\n", "files written per pull", files / pulls * 1e3);
    printf("%-40s %10.2f ms  (%.2f x the files)\n", "archive written per pull", archiving / pulls * 1e3,
           archiving / files);
    printf("%-40s %10ld KB  (%.1f KB per stored version)\n", "archive size", size / 1024,
           size / 1024.0 / stored);
    printf("%-40s %10.2f ms\n", "history of every pull", history * 1e3);
    printf("%-40s %10.2f ms\n", "diff of the last two versions", diff * 1e3);
    std::string cleanup = "rm -rf '" + dir + "'";
    return system(cleanup.c_str()) == 0 ? 0 : 1;
}
