// What to-csv writes, from-csv reads back: tables of random fields, values
// and picture bytes (damaged photos and other formats among them) come back
// byte for byte, the renewed stamps aside.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#include "kcsv/kcsv_test_util.h"
#include "kiv_convert.h"
#include "table_csv_read.h"
#include "mask_stamps.h"

using namespace kcsvtest;

namespace {

// One random table in the application's layout and CSV, its pictures beside.
void MakeTable(std::mt19937& random, const TempDir& dir)
{
    static const char* const kKinds[] = {"0000", "0100", "0300", "0301", "0500"};
    static const char* const kTexts[] = {"", "a", "\"q\"", "\x8e\x52\x93\x63", "a,b", " "};
    static const char* const kNumbers[] = {"", "0", "-0.25", "1234.5", "12345678901234567890"};
    static const char* const kTimes[] = {"", "1999/12/31 23:59", "2001/01/05"};
    static const std::string kMagic[] = {"\xFF\xD8\xFF", "GIF89a", "\x89PNG\r\n\x1A\n", "", "BM"};
    static const char* const kNames[] = {".jpg", ".gif", ".png"};
    int fields = 1 + (int)(random() % 4);
    std::vector<int> kinds;
    std::string layout = "random" + std::string(27, ' ') + "\r\n";
    for (int i = 0; i < fields; i++) {
        kinds.push_back((int)(random() % 5));
        layout += "F" + std::to_string(i) + std::string(19, ' ') + kKinds[kinds.back()] + "\r\n";
    }
    std::string csv;
    for (int r = (int)(random() % 4); r > 0; r--) {
        std::string row;
        for (int i = 0; i < fields; i++) {
            std::string cell;
            switch (kinds[i]) {
            case 0: cell = kTexts[random() % 6]; break;
            case 1: cell = kNumbers[random() % 5]; break;
            case 2:
            case 3: cell = kTimes[random() % 3]; break;
            default:
                if (random() % 4) {
                    // A name that agrees with the bytes, or any name for
                    // bytes of none of the three formats. (A picture whose
                    // name and bytes disagree comes back with the bytes'
                    // format code: not yet the same.)
                    size_t magic = random() % 5;
                    std::string bytes = kMagic[magic];
                    for (size_t n = random() % 40; n > 0; n--)
                        bytes += (char)random();
                    size_t kind = magic < 3 ? magic : random() % 3;
                    // The application's CSV names a picture as the desktop
                    // finds it: from the current folder, so here in full.
                    std::string name = "p" + std::to_string(r) + "-" + std::to_string(i) + kNames[kind];
                    cell = dir.File(name.c_str());
                    ASSERT_TRUE(WriteWholeFile(cell, bytes));
                }
            }
            std::string quoted;
            for (char ch : cell)
                quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
            row += (i ? "," : "") + (cell.empty() ? std::string() : "\"" + quoted + "\"");
        }
        csv += row + "\r\n";
    }
    ASSERT_TRUE(WriteWholeFile(dir.File("t.table"), layout) && WriteWholeFile(dir.File("t.txt"), csv));
}

TEST(KivTableRoundTrip, RandomTablesComeBackByteForByte)
{
    // The tables lie in memory where the system has a folder for it: the
    // writer syncs every file it commits, which costs a disk a wait per file.
    struct stat shm;
    if (stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode))
        setenv("TMPDIR", "/dev/shm", 1);
    std::mt19937 random(26);
    int tables = 0;
    // A table the generator made that from-csv --classic refuses is none.
    for (int n = 0; tables < 1000 && n < 1200; n++) {
        SCOPED_TRACE("table " + std::to_string(n));
        TempDir dir;
        MakeTable(random, dir);
        std::string error;
        std::vector<uint8_t> block;
        ConvertOptions options;
        if (CsvToKcsvBlock(dir.File("t.table"), dir.File("t.txt"), options, &block, &error) != KIV_EXIT_OK)
            continue;
        std::string table(block.begin(), block.end());
        ASSERT_TRUE(WriteWholeFile(dir.File("t.kcsv"), table));
        ASSERT_EQ(KIV_EXIT_OK, KcsvFileToTableCsv(dir.File("t.kcsv"), dir.path.string(), options, &error))
            << error;
        // No line is empty, so that other readers of CSV keep every row.
        std::string csv = ReadWholeFile(dir.File("t.csv"));
        EXPECT_EQ(std::string::npos, ("\n" + csv).find("\n\r\n")) << csv;
        std::vector<std::string> report;
        ASSERT_EQ(KIV_EXIT_OK,
                  TableCsvToKcsvFile(dir.File("t.csv"), dir.File("back.kcsv"), {}, &report, &error))
            << error << (report.empty() ? "" : report[0]);
        std::string back = ReadWholeFile(dir.File("back.kcsv"));
        ASSERT_EQ(MaskStamps(table), MaskStamps(back));
        tables++;
    }
    EXPECT_LE(1000, tables);
}

}   // namespace
