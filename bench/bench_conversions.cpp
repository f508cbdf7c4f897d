// Both conversions on generated tables of text, number and time fields, and
// Kcsv to CSV on a photo album, against two floors measured in the same run
// on the same bytes: a bulk copy (64 KB reads and writes, no work per byte)
// and a per-byte copy through the text streams (the least a conversion that
// looks at every character does). A ratio is the floor's time over the
// step's, so 1 would be as fast as the floor. Each step's time is the best of
// several rounds, interleaved, as the machine is shared.
//
// kivbench_convert_bare is the same program over the core built without the
// seams (no fault counters, no file forms); kivbench_convert runs it beside
// itself each round, on the same files, and prints what the seams cost. The
// peak memory after each table size shows whether memory grows with the rows.
// Natively, pull's conversion of the same Kcsv file to the table CSV runs
// beside them (not in the twin: it needs kiv's library, built on the core).
//
//   kivbench_convert [ROWS[,ROWS...] [PHOTOS [PHOTO_KB [ROUNDS]]]]
//   (defaults 25000,50000,100000, 50, 200, 5)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include "bench.h"
#include "kcsv/csv_to_kcsv.h"
#include "kcsv/field_codecs.h"
#include "kcsv/kcsv_to_csv.h"
#include "textstream.h"
#ifdef KIV_BENCH_TABLE_CSV
#include "kiv_convert.h"
#endif

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#define popen _popen
#define pclose _pclose
#else
#include <sys/resource.h>
#endif

namespace fs = std::filesystem;

namespace {

double PeakMegabytes()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc))
        return 0;
    return pmc.PeakWorkingSetSize / 1048576.0;
#else
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;   // kilobytes on Linux
#endif
}

double FileBytes(const std::string& path)
{
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    return ec ? 0 : (double)size;
}

// The desktop side's layout (a name line, then title, kind and sub-kind per
// field) and its CSV export: a text with Japanese characters and quotes, a
// number, a date and time.
bool WriteTable(const std::string& base, int rows)
{
    TextStream* layout = TextOpenWrite((base + ".table").c_str());
    if (!layout)
        return false;
    TextPrintf(layout, "%-33s\n%-21s0000\n%-21s0100\n%-21s0300\n", "Bench", "Name", "Amount", "When");
    if (!TextClose(layout))
        return false;
    TextStream* csv = TextOpenWrite((base + ".txt").c_str());
    if (!csv)
        return false;
    for (int row = 0; row < rows; row++)
        TextPrintf(csv,
                   "\"\x8e\x52\x93\x63 \x91\xbe\x98\x59 %d \"\"q\"\" \x87\x40\",\"%d.%02d\",\"%04d/%02d/%02d "
                   "%02d:%02d\"\n",
                   row, row * 37, row % 100, 1990 + row % 30, 1 + row % 12, 1 + row % 28, row % 24, row % 60);
    return TextClose(csv);
}

// An album as the handheld sends it: each record carries one photograph as
// 3TO4 text in the JPEG column.
bool WriteAlbum(const std::string& path, int photos, size_t photoBytes)
{
    TextStream* out = TextOpenWrite(path.c_str());
    if (!out)
        return false;
    TextPuts(out, "\"H\",\"04\"\n\"M\",\"04\",\"RVC2\",\"0001\",\"_PIO\",\"BOXFILE\",\"KPINPANT.BOX\"\n"
                  "\"T\",\"1\",\"2\",\"3\",\"4\",\"5\",\"6\",\"Title\",\"Memo\",\"Photo\",\"G\",\"J\",\"P\","
                  "\"x\",\"Place\",\"Date\",\"A\",\"B\",\"C\"\n");
    std::mt19937 rng(7);
    std::vector<unsigned char> photo(photoBytes);
    std::string text(Encoded3to4Length(photoBytes), '\0');
    for (int i = 0; i < photos; i++) {
        for (auto& b : photo)
            b = (unsigned char)rng();
        Encode3to4Bytes(photo.data(), photo.size(), &text[0]);
        TextPrintf(out, "\"D\",\" \",,\"19991231235958\",,,,\"Photo %d\",,,,\"", i);
        TextWrite(out, text.data(), text.size());
        TextPuts(out, "\",,,,\"19991231235958\"\n");
    }
    TextPutc(out, 0x1A);
    return TextClose(out);
}

// The bulk I/O floor: the file's bytes read and written in 64 KB pieces.
bool BulkCopy(const std::string& from, const std::string& to)
{
    FILE* in = fopen(from.c_str(), "rb");
    FILE* out = in ? fopen(to.c_str(), "wb") : nullptr;
    bool ok = in && out;
    static char buffer[64 * 1024];
    for (size_t n; ok && (n = fread(buffer, 1, sizeof buffer, in)) > 0;)
        ok = fwrite(buffer, 1, n, out) == n;
    if (out && fclose(out) != 0)
        ok = false;
    if (in)
        fclose(in);
    return ok;
}

// The per-byte floor: every character read and written through the text
// streams one at a time, as a conversion's inner loops do at the least.
bool PerByteCopy(const std::string& from, const std::string& to)
{
    TextStream* in = TextOpenRead(from.c_str());
    TextStream* out = in ? TextOpenWrite(to.c_str()) : nullptr;
    bool ok = in && out;
    for (int c; ok && (c = TextGetcInline(in)) != EOF;)
        ok = TextPutc(out, c);
    if (out && !TextClose(out))
        ok = false;
    TextClose(in);
    return ok;
}

// Seconds for one run of step, or a negative time when it failed.
template <class Step>
double Timed(Step step)
{
    double start = BenchSeconds();
    bool ok = step();
    double seconds = BenchSeconds() - start;
    return ok ? seconds : -1;
}

// The best time so far; a failure sticks.
void KeepBest(double* best, double seconds)
{
    if (*best == 0 || (*best > 0 && (seconds < 0 || seconds < *best)))
        *best = seconds;
}

// The bytes and floors of one conversion's input, and its best times.
struct Measured {
    std::string input;
    double bytes;
    double bulk, perByte, seams, bare;
};

void MeasureFloors(Measured* m, const std::string& scratch)
{
    KeepBest(&m->bulk, Timed([&] { return BulkCopy(m->input, scratch); }));
    KeepBest(&m->perByte, Timed([&] { return PerByteCopy(m->input, scratch); }));
}

Measured TableInput(const std::string& base, const char* suffix)
{
    return Measured{base + suffix, 0, 0, 0, 0, 0};
}

// One round on the table base: each conversion right after the floors on its
// input, in the same order in this program and in its twin.
void MeasureRound(Measured* toKcsv, Measured* toCsv, const std::string& scratch)
{
    MeasureFloors(toKcsv, scratch);
    KeepBest(&toKcsv->seams, Timed([&] { return ConvertCsvToKcsv(toKcsv->input.c_str()); }));
    MeasureFloors(toCsv, scratch);
    KeepBest(&toCsv->seams, Timed([&] { return ConvertKcsvToCsv(toCsv->input.c_str()); }));
}

// The twin's best of two rounds on the table base: "seconds seconds" for CSV
// to Kcsv and Kcsv to CSV, a negative time for a conversion that failed.
int MeasureForTwin(const std::string& base)
{
    Measured toKcsv = TableInput(base, ".txt"), toCsv = TableInput(base, ".csv");
    for (int warm = 0; warm < 2; warm++)   // a fresh process: the first round warms it
        MeasureRound(&toKcsv, &toCsv, base + ".copy");
    printf("%.6f %.6f\n", toKcsv.seams, toCsv.seams);
    return 0;
}

#ifndef KIV_BARE_SEAMS
std::string TwinPath()
{
#ifdef _WIN32
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    fs::path dir = fs::path(std::string(self, n < sizeof self ? n : 0)).parent_path();
    return (dir / "kivbench_convert_bare.exe").string();
#else
    std::error_code ec;
    return (fs::read_symlink("/proc/self/exe", ec).parent_path() / "kivbench_convert_bare").string();
#endif
}

std::string Quoted(const std::string& s) { return s.find(' ') == std::string::npos ? s : '"' + s + '"'; }

// One round of the twin on the same table; false when it cannot be run.
bool RunTwin(const std::string& base, double* toKcsv, double* toCsv)
{
    std::string twin = TwinPath();
    if (!fs::exists(twin))
        return false;
    FILE* p = popen((Quoted(twin) + " --measure " + Quoted(base)).c_str(), "r");
    if (!p)
        return false;
    double a = 0, b = 0;
    bool read = fscanf(p, "%lf %lf", &a, &b) == 2;
    pclose(p);
    if (!read)
        return false;
    KeepBest(toKcsv, a);
    KeepBest(toCsv, b);
    return true;
}
#endif

void PrintStep(const char* what, double bytes, double seconds, double bulk, double perByte)
{
    if (seconds < 0) {
        printf("    %-20s FAILED\n", what);
        return;
    }
    printf("    %-20s %8.3f s %8.1f MB/s", what, seconds, bytes / seconds / 1e6);
    if (bulk > 0 && perByte > 0)
        printf(" %9.3f %9.3f", bulk / seconds, perByte / seconds);
    printf("\n");
}

#ifdef KIV_BENCH_TABLE_CSV
// pull's conversion into a folder of its own, replacing the last round's
// files, as the table CSV takes the Kcsv file's name.
bool TableCsv(const std::string& kcsv, const std::string& dir)
{
    ConvertOptions options;
    options.force = true;
    std::string error;
    std::error_code ec;
    fs::create_directories(dir, ec);
    return KcsvFileToTableCsv(kcsv, dir, options, &error) == KIV_EXIT_OK;
}

void MeasureTableCsv(Measured* m, const std::string& scratch)
{
    MeasureFloors(m, scratch);
    KeepBest(&m->seams, Timed([&] { return TableCsv(m->input, scratch + ".table-csv"); }));
}
#endif

void PrintHeading(const std::string& what)
{
    printf("\n%s\n    %-20s %10s %13s %9s %9s\n", what.c_str(), "", "best", "input", "vs bulk", "vs byte");
}

void PrintMeasured(const char* what, const Measured& m)
{
    printf("  %s, input %.1f MB\n", what, m.bytes / 1e6);
    PrintStep("bulk copy", m.bytes, m.bulk, 0, 0);
    PrintStep("per-byte copy", m.bytes, m.perByte, 0, 0);
    PrintStep("conversion", m.bytes, m.seams, m.bulk, m.perByte);
    if (m.bare == 0)
        return;
    PrintStep("without the seams", m.bytes, m.bare, m.bulk, m.perByte);
    if (m.seams > 0 && m.bare > 0)
        printf("    %-20s %+7.1f %%\n", "cost of the seams", (m.seams / m.bare - 1) * 100);
}

bool RunTable(const fs::path& dir, int rows, int rounds)
{
    std::string base = (dir / ("table" + std::to_string(rows))).string();
    if (!WriteTable(base, rows)) {
        printf("cannot write the table in %s\n", dir.string().c_str());
        return false;
    }
    std::string scratch = base + ".copy";
    Measured toKcsv = TableInput(base, ".txt"), toCsv = TableInput(base, ".csv");
    Measured toTable = TableInput(base, ".csv");
    bool twin = true;
    for (int round = 0; round < rounds; round++) {
        // The twin goes first every other round, so that neither program
        // always runs right after the other's writes.
#ifndef KIV_BARE_SEAMS
        if (round % 2)
            twin = twin && RunTwin(base, &toKcsv.bare, &toCsv.bare);
#endif
        MeasureRound(&toKcsv, &toCsv, scratch);
#ifdef KIV_BENCH_TABLE_CSV
        MeasureTableCsv(&toTable, scratch);
#endif
#ifndef KIV_BARE_SEAMS
        if (round % 2 == 0)
            twin = twin && RunTwin(base, &toKcsv.bare, &toCsv.bare);
#endif
    }
    toKcsv.bytes = FileBytes(toKcsv.input);
    toCsv.bytes = FileBytes(toCsv.input);
    PrintHeading(std::to_string(rows) + " rows, best of " + std::to_string(rounds) + " rounds");
    PrintMeasured("CSV to Kcsv", toKcsv);
    PrintMeasured("Kcsv to CSV", toCsv);
#ifdef KIV_BENCH_TABLE_CSV
    toTable.bytes = FileBytes(toTable.input);
    PrintMeasured("Kcsv to the table CSV", toTable);
#endif
    if (!twin)
        printf("  (no bare build beside this program: the seams' cost is not shown)\n");
    printf("  peak memory %.1f MB\n", PeakMegabytes());
    return true;
}

void RunAlbum(const fs::path& dir, int photos, size_t photoKb)
{
    std::string album = (dir / "album.csv").string();
    if (photos <= 0 || !WriteAlbum(album, photos, photoKb * 1024))
        return;
    Measured m = {album, FileBytes(album), 0, 0, 0, 0};
    MeasureFloors(&m, album + ".copy");
    KeepBest(&m.seams, Timed([&] { return ConvertKcsvToCsv(album.c_str()); }));
    printf("\n");
    PrintHeading(
        ("album of " + std::to_string(photos) + " x " + std::to_string(photoKb) + " KB, one round").c_str());
    PrintMeasured("Kcsv to CSV", m);
    printf("  peak memory %.1f MB\n", PeakMegabytes());
}

std::vector<int> RowCounts(const char* list)
{
    std::vector<int> counts;
    for (const char* p = list; *p;) {
        char* end;
        long n = strtol(p, &end, 10);
        if (end == p)
            break;
        if (n > 0)
            counts.push_back((int)n);
        p = *end == ',' ? end + 1 : end;
    }
    return counts;
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--measure") == 0)
        return MeasureForTwin(argv[2]);
    std::vector<int> rows = RowCounts(argc > 1 ? argv[1] : "25000,50000,100000");
    int photos = argc > 2 ? atoi(argv[2]) : 50;
    size_t photoKb = argc > 3 ? (size_t)atoi(argv[3]) : 200;
    int rounds = argc > 4 ? std::max(1, atoi(argv[4])) : 5;
    fs::path dir = fs::temp_directory_path() / "kivbench-convert";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    printf("peak memory at start %.1f MB\n", PeakMegabytes());
    for (int n : rows)
        if (!RunTable(dir, n, rounds))
            return 1;
    RunAlbum(dir, photos, photoKb);
    fs::remove_all(dir, ec);
    return 0;
}
