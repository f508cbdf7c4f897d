// The application's layout and CSV files through from-csv and push --classic:
// a picture the conversion would drop and a file in the other encoding are
// refused naming them, as the table CSV's are; --missing-pictures=empty
// leaves such a cell empty with a warning.
#include <gtest/gtest.h>
#include <cstdlib>
#include <fstream>
#include <string>
#include "kiv_harness.h"

namespace {

TEST(KivClassicInput, PicturesAndEncodingsAreCheckedBeforeConverting)
{
    struct Row {
        std::string name, photo, flags;
        int status;
        std::string said;   // in stderr
        bool push = false;
    } rows[] = {
        {"Ann", "pic.jpg", "", 0, ""},
        {"Ann", "none.jpg", "", 6,
         "t.txt: line 1, column 2 (photo): the picture none.jpg: No such file or directory "
         "(--missing-pictures=empty leaves such cells empty)",
         true},
        {"Ann", "p.jpg", "", 6, "(photo): the picture p.jpg: a name of 5 bytes or fewer is taken for none"},
        {"Ann", "dir.jpg", "", 6, "(photo): the picture dir.jpg: not a file"},
        {"Ann", "pic.jpg.bak", "", 6,
         "(photo): the picture pic.jpg.bak is not named .jpg, .jpeg, .gif or .png"},
        {"Ann", "none.jpg", "--missing-pictures=empty", 0,
         "(photo): warning: the picture none.jpg: No such file or directory; the cell is left empty", true},
        {"Ann", "none.jpg", "--missing-pictures=empty --strict", 6, "the cell is left empty"},
        // 名 in UTF-8 ends on a lead byte of code page 932 before the quote.
        {"\xE5\x90\x8D", "pic.jpg", "", 6, "kiv: t.txt: this looks like UTF-8: give --utf8", true},
        {"\xE5\x90\x8D", "pic.jpg", "--utf8", 0, ""},
        {"\x96\xBC", "pic.jpg", "--utf8", 6, "not UTF-8; this looks like code page 932: leave out --utf8",
         true},
    };
    for (const Row& row : rows) {
        for (bool push : {false, true}) {
            if (push && !row.push)
                continue;
            SCOPED_TRACE(row.name + "," + row.photo + " " + row.flags + (push ? " push" : " from-csv"));
            KivRun run;
            WriteWhole(run.File("t.table"), "t" + std::string(32, ' ') + "\r\nname" + std::string(17, ' ') +
                                                "0000\r\nphoto" + std::string(16, ' ') + "0500\r\n");
            WriteWhole(run.File("t.txt"), "\"" + row.name + "\",\"" + row.photo + "\"\r\n");
            ASSERT_EQ(0, system(("cd " + run.dir +
                                 " && cp " KIV_SAMPLES "/photo1.jpg pic.jpg && cp pic.jpg p.jpg && "
                                 "cp pic.jpg pic.jpg.bak && mkdir dir.jpg")
                                    .c_str()));
            // A pushed table ends with its one 0x1A, where kivsim stops; a push
            // refused ends it with the stop file.
            ASSERT_TRUE(!push || run.StartSim(std::string(kSimCable) + " --role receive"));
            std::string args = push ? std::string("push --classic t.table t.txt --port LINE ") + kCable
                                    : "from-csv --classic t.table t.txt -o t.kcsv";
            EXPECT_EQ(row.status, run.Kiv(args + " " + row.flags)) << run.Err();
            if (push && row.status != 0)
                run.StopSim();
            else if (push)
                run.FinishSim();
            EXPECT_EQ(row.said.empty(),
                      run.Err().find(row.said.empty() ? "kiv:" : row.said) == std::string::npos)
                << row.said << "\n"
                << run.Err();
            // kivsim's file of what it received is there, empty, when nothing came.
            EXPECT_EQ(row.status == 0, !ReadWhole(run.File(push ? "rec.bin" : "t.kcsv")).empty());
        }
    }
}

}   // namespace
