// Every command that reads a Kcsv table does the same work per record in a
// table of 100 000 records as in one of 1 000: the bytes the C library
// searches, compares and copies for kiv, and kiv's allocations, counted by
// the counting library (tools/kivcount), never timed. A search of the rest
// of the table per record, or a copy of it, grows with the square of the
// records and fails here whatever code it hides in. The syncs of a command
// that writes files are counted too.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <map>
#include <string>
#include <vector>
#include "archive.h"
#include "kiv_convert.h"
#include "kiv_harness.h"

namespace {

const int kSmall = 1000, kLarge = 100000;
// Work per record may differ this much between the two sizes: what a
// command does once (its start, the header) weighs more in the small table,
// and hash tables and buffers grow in steps.
const double kFlat = 2.0;

// A command that reads or writes a table a record at a time holds this
// many times what it held for the small table, at most: a table held whole
// (100 times the records) is far past it.
const double kHeldFlat = 1.5;

// The desktop side's export of rows records: a text with Japanese
// characters, a number, a date, a note, and a picture in every 100th
// record (every tenth with many pictures); a second version changes three
// notes.
std::string Table(const KivRun& run, int rows, bool changed, int pictureEvery = 100)
{
    WriteWhole(run.File("t.table"), "Work" + std::string(29, ' ') + "\r\nName" + std::string(17, ' ') +
                                        "0000\r\nAmount" + std::string(15, ' ') + "0100\r\nWhen" +
                                        std::string(17, ' ') + "0301\r\nNote" + std::string(17, ' ') +
                                        "0000\r\nPhoto" + std::string(16, ' ') + "0500\r\n");
    WriteWhole(run.File("p.png"), "\x89PNG\r\n\x1a\n" + Pattern(120, 7));
    std::string csv;
    for (int r = 0; r < rows; r++) {
        bool change = changed && r % (rows / 3) == 1;
        csv += "\"\x8e\x52\x93\x63 " + std::to_string(r) + "\",\"" + std::to_string(r * 37) + ".5\",\"" +
               std::to_string(1990 + r % 30) + "/0" + std::to_string(1 + r % 9) + "/1" +
               std::to_string(r % 10) + "\",\"note " + std::to_string(r % 977) + (change ? " changed" : "") +
               "\",\"" + (r % pictureEvery == 0 ? run.File("p.png") : "") + "\"\r\n";
    }
    WriteWhole(run.File("t.txt"), csv);
    std::vector<uint8_t> block;
    std::string error;
    EXPECT_EQ(KIV_EXIT_OK, CsvToKcsvBlock(run.File("t.table"), run.File("t.txt"), {}, &block, &error))
        << error;
    return std::string(block.begin(), block.end());
}

// t.kcsv with its table CSV (table/t.csv), and an archive a.sqlite of it and its second version, as pull
// stores them; what the second version added to the archive's size. m.kcsv
// has a picture in every tenth record: what a command keeps per picture shows
// there.
void MakeInputs(const KivRun& run, int rows, long* secondCost)
{
    long size = 0;
    mkdir(run.File("page").c_str(), 0777);
    WriteWhole(run.File("m.kcsv"), Table(run, rows, false, 10));
    for (bool changed : {false, true}) {
        std::string kcsv = Table(run, rows, changed), error;
        if (!changed) {
            WriteWhole(run.File("t.kcsv"), kcsv);
            mkdir(run.File("table").c_str(), 0777);
            ASSERT_EQ(KIV_EXIT_OK, KcsvFileToTableCsv(run.File("t.kcsv"), run.File("table"), {}, &error))
                << error;
        }
        DecodedTable table;
        ArchiveEntry entry;
        entry.pulled = ArchiveNow();
        entry.port = "/dev/ttyUSB0";
        entry.link = "cable";
        ASSERT_TRUE(DecodeTable(kcsv, &table, &error) &&
                    ArchiveTable(run.File("a.sqlite"), kcsv, table, &entry, &error))
            << error;
        struct stat st;
        ASSERT_EQ(0, stat(run.File("a.sqlite").c_str(), &st));
        *secondCost = st.st_size - size;
        size = st.st_size;
    }
}

TEST(KivReaderWork, EveryCommandThatReadsATableDoesTheSameWorkPerRecordAtAnySize)
{
    const struct Row {
        const char* what;
        const char* args;
        int status;
        bool heldFlat;   // what it holds does not grow with the records
    } rows[] = {
        {"to-csv", "to-csv -f @t.kcsv -d @csv", 0, true},
        // Over its own set: every picture replaced in a folder that exists.
        {"to-csv --force again", "to-csv --force -f @t.kcsv -d @csv", 0, true},
        {"to-csv --classic", "to-csv --classic -f @t.kcsv -d @classic", 0, true},
        {"from-csv", "from-csv -f @table/t.csv -o @back.kcsv", 0, true},
        // The CSV of the row before: its counting pass finds it is not UTF-8
        // and counts again from the start.
        {"to-csv in code page 932", "to-csv --encoding cp932 -f @t.kcsv -d @c932", 0, false},
        {"from-csv of a code page 932 CSV", "from-csv -f @c932/t.csv -o @back932.kcsv", 0, true},
        {"show", "show --width 0 @t.kcsv", 0, true},
        {"show narrowed", "show --width 40 @t.kcsv", 0, true},
        {"show --vertical", "show --vertical --width 30 @t.kcsv", 0, true},
        {"show --html", "show --html -f @t.kcsv -o @page/t.html", 0, true},
        {"show --html of many pictures", "show --html -f @m.kcsv -o @page/m.html", 0, true},
        {"show of a table CSV", "show --width 50 --columns Note,1 @table/t.csv", 0, true},
        {"show --html of a table CSV", "show --html -f @table/t.csv -o @page/c.html", 0, true},
        {"export", "export 1 --archive @a.sqlite -f -d @export", 0, false},
        {"diff", "diff --archive @a.sqlite", 1, true},
        // export's CSV (base version 1) merged with the second version.
        {"merge", "merge @export/Work.csv --archive @a.sqlite", 0, false},
    };
    KivRun small, large;
    long smallCost = 0, largeCost = 0;
    MakeInputs(small, kSmall, &smallCost);
    MakeInputs(large, kLarge, &largeCost);
    // The archive keeps each record once: a version that changes three
    // records costs a few pages, whatever the table's length.
    EXPECT_GE(10 * 1024, smallCost);
    EXPECT_GE(10 * 1024, largeCost);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::map<std::string, double> few, many;
        ASSERT_EQ(row.status, small.CountedKiv(row.args, &few)) << small.Err();
        ASSERT_EQ(row.status, large.CountedKiv(row.args, &many)) << large.Err();
        // Every record's bytes pass through the C library (allocations may
        // not: a row's room is reused), so the count of bytes sees the
        // records...
        EXPECT_GT(many["bytes"], 10 * few["bytes"]);
        // ...and no count grows faster than they do.
        for (const char* counted : {"bytes", "allocations", "allocated"})
            EXPECT_LE(many[counted] / kLarge, kFlat * few[counted] / kSmall) << counted;
        // A job's files are synced together, not one by one: 1 000
        // pictures cost no more syncs than 10.
        EXPECT_EQ(few["syncs"], many["syncs"]);
        if (row.heldFlat) {
            EXPECT_LE(many["peak"], kHeldFlat * few["peak"]);
        }
    }
}

}   // namespace
