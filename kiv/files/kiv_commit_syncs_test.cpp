// A job's commit syncs its staged files together: the syncs kiv asks for
// (fsync, fdatasync, syncfs, counted by tools/kivcount) are as many for a
// table of 200 pictures as for one of 2, so a job never waits for the disk
// once per file it writes. Counted, never timed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <map>
#include <string>
#include "kiv_harness.h"

namespace {

// t.kcsv: rows records, each with a name and a picture of its own.
void MakeTable(KivRun& run, int rows)
{
    WriteWhole(run.File("t.table"), "Snaps" + std::string(28, ' ') + "\r\nName" + std::string(17, ' ') +
                                        "0000\r\nPhoto" + std::string(16, ' ') + "0500\r\n");
    std::string csv;
    for (int r = 0; r < rows; r++) {
        std::string picture = run.File("p" + std::to_string(r) + ".png");
        WriteWhole(picture, "\x89PNG\r\n\x1a\n" + Pattern(64, (uint32_t)r + 1));
        csv += "\"n" + std::to_string(r) + "\",\"" + picture + "\"\r\n";
    }
    WriteWhole(run.File("t.txt"), csv);
    mkdir(run.File("page").c_str(), 0777);
    ASSERT_EQ(0, run.Kiv("from-csv --classic @t.table @t.txt -o @t.kcsv")) << run.Err();
}

TEST(KivCommitSyncs, AJobSyncsAsOftenWhateverItsPictures)
{
    const struct Row {
        const char* what;
        const char* args;
        const char* written;   // a picture the job must have put in place
    } rows[] = {
        {"to-csv", "to-csv -d @csv @t.kcsv", "csv/t-pictures/2-2.png"},
        {"show --html", "show --html -o @page/t.html @t.kcsv", "page/t-pictures/2-2.png"},
    };
    KivRun few, many;
    MakeTable(few, 2);
    MakeTable(many, 200);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::map<std::string, double> a, b;
        ASSERT_EQ(0, few.CountedKiv(row.args, &a)) << few.Err();
        ASSERT_EQ(0, many.CountedKiv(row.args, &b)) << many.Err();
        EXPECT_TRUE(Exists(many.File(row.written)));
        // The commit still syncs (a job that synced nothing would lose its
        // files to a power cut), and no more for a hundred times the files.
        EXPECT_GE(a["syncs"], 1);
        EXPECT_EQ(a["syncs"], b["syncs"]);
    }
}

}   // namespace
