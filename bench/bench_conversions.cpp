// Both conversions on generated files: a table of text, number and time
// fields (CSV to Kcsv and back), and a photo album (Kcsv to CSV). Prints the
// input throughput and the process's peak memory after each step, so that a
// run with 5 000 rows and one with 50 000 show whether memory grows with rows.
//   kivbench_convert [ROWS [PHOTOS [PHOTO_KB]]]   (defaults 50000, 200, 200)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include "bench.h"
#include "kcsv/csv_to_kcsv.h"
#include "kcsv/field_codecs.h"
#include "kcsv/kcsv_to_csv.h"
#include "textstream.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
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

void Report(const char* what, double bytes, double seconds)
{
    printf("%-44s %8.1f MB in %6.2f s %8.1f MB/s   peak %6.1f MB\n", what, bytes / 1e6, seconds,
           bytes / seconds / 1e6, PeakMegabytes());
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

}   // namespace

int main(int argc, char** argv)
{
    int rows = argc > 1 ? atoi(argv[1]) : 50000;
    int photos = argc > 2 ? atoi(argv[2]) : 200;
    size_t photoKb = argc > 3 ? (size_t)atoi(argv[3]) : 200;
    fs::path dir = fs::temp_directory_path() / "kivbench-convert";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    printf("peak at start %.1f MB\n", PeakMegabytes());

    std::string base = (dir / "table").string();
    if (!WriteTable(base, rows)) {
        printf("cannot write the table in %s\n", dir.string().c_str());
        return 1;
    }
    std::string label = std::to_string(rows) + " rows";
    double start = BenchSeconds();
    bool ok = ConvertCsvToKcsv((base + ".txt").c_str());
    Report(("CSV to Kcsv, " + label + (ok ? "" : " FAILED")).c_str(), FileBytes(base + ".txt"),
           BenchSeconds() - start);
    start = BenchSeconds();
    ok = ConvertKcsvToCsv((base + ".csv").c_str());
    Report(("Kcsv to CSV, " + label + (ok ? "" : " FAILED")).c_str(), FileBytes(base + ".csv"),
           BenchSeconds() - start);

    std::string album = (dir / "album.csv").string();
    if (photos > 0 && WriteAlbum(album, photos, photoKb * 1024)) {
        label = "album of " + std::to_string(photos) + " x " + std::to_string(photoKb) + " KB";
        start = BenchSeconds();
        ok = ConvertKcsvToCsv(album.c_str());
        Report(("Kcsv to CSV, " + label + (ok ? "" : " FAILED")).c_str(), FileBytes(album),
               BenchSeconds() - start);
    }
    fs::remove_all(dir, ec);
    return 0;
}
