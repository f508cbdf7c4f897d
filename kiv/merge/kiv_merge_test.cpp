// kiv merge through kiv's command line: an archive built with kiv archive
// add, the PC's CSV from kiv export edited as a person edits it, and the
// merged CSV read back. One table of cases, then a randomized law against
// an oracle of its own.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>
#include "archive.h"
#include "kiv_convert.h"
#include "kiv_harness.h"
#include "table_model.h"

namespace {

std::vector<std::string> Split(const std::string& s, char by)
{
    std::vector<std::string> parts(1);
    for (char c : s)
        if (c == by)
            parts.emplace_back();
        else
            parts.back().push_back(c);
    return parts;
}

std::string PictureBytes(char seed) { return "\x89PNG\r\n\x1a\n" + Pattern(60, (uint32_t)seed); }

// A table named name of fields Name, City, Note and (with a picture) Photo,
// records "ID|name|city|note[|P]" where ID is the sync ID (may be empty) and
// P a picture's seed letter; as the handheld's Kcsv bytes.
std::string Kcsv(const KivRun& run, const std::string& name, const std::vector<std::string>& records,
                 bool photo)
{
    std::string layout = name + std::string(33 - name.size(), ' ') + "\r\n";
    for (const char* title : {"Name", "City", "Note"})
        layout += title + std::string(21 - strlen(title), ' ') + "0000\r\n";
    if (photo)
        layout += "Photo" + std::string(16, ' ') + "0500\r\n";
    std::string txt;
    for (const std::string& r : records) {
        std::vector<std::string> v = Split(r, '|');
        txt += "\"" + v[1] + "\",\"" + v[2] + "\",\"" + v[3] + "\"";
        if (photo) {
            std::string path = v.size() > 4 && !v[4].empty() ? run.File(v[4] + ".png") : "";
            if (!path.empty())
                WriteWhole(path, PictureBytes(v[4][0]));
            txt += ",\"" + path + "\"";
        }
        txt += "\r\n";
    }
    WriteWhole(run.File(name + ".table"), layout);
    WriteWhole(run.File(name + ".txt"), txt);
    std::vector<uint8_t> block;
    std::string error;
    EXPECT_EQ(KIV_EXIT_OK, CsvToKcsvBlock(run.File(name + ".table"), run.File(name + ".txt"), {}, &block, &error))
        << error;
    std::string kcsv(block.begin(), block.end());
    // The desktop writer leaves the sync ID empty; the handheld gives one.
    size_t at = 0;
    for (const std::string& r : records) {
        at = kcsv.find("\"D\",\" \",,", at) + 8;
        std::string id = Split(r, '|')[0];
        kcsv.insert(at, id.empty() ? "" : "\"" + id + "\"");
    }
    return kcsv;
}

// The CSV's rows with each picture cell as "#" and the seed letter of the
// picture its file holds ("#?" for another).
std::vector<std::string> Rows(const KivRun& run, const std::string& csv)
{
    std::vector<std::string> rows;
    for (std::string line : Split(ReadWhole(run.File(csv)), '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::vector<std::string> cells = Split(line, ',');
        std::string row;
        for (size_t c = 0; c < cells.size(); c++) {
            std::string cell = cells[c] == "\"\"" ? "" : cells[c];
            if (cell.find("-pictures/") != std::string::npos) {
                std::string bytes = ReadWhole(run.File("pc/" + cell));
                char seed = '?';
                for (char s : std::string("ABCDEFGH"))
                    seed = bytes == PictureBytes(s) ? s : seed;
                cell = std::string("#") + seed;
            }
            row += (c ? "," : "") + cell;
        }
        rows.push_back(row);
    }
    return rows;
}

std::string Joined(const std::vector<std::string>& rows)
{
    std::string s;
    for (const std::string& r : rows)
        s += r + "\n";
    return s;
}

TEST(KivMerge, EachSidesChangesAreTakenAndTheirClashesKeptTwiceAndMarked)
{
    const std::vector<std::string> three = {"S1|a|c1|n1", "S2|b|c2|n2", "S3|c|c3|n3"};
    const std::string kHead = "Name,City,Note", kMarked = "conflict,Name,City,Note";
    const struct Row {
        const char* what;
        std::vector<std::string> base, hh;
        std::vector<std::string> pc;   // the CSV's rows, header first, as the PC leaves them
        const char* args;
        int status;
        std::vector<std::string> merged;   // header first
    } rows[] = {
        {"each side adds", three, {"S1|a|c1|n1", "S2|b|c2|n2", "S3|c|c3|n3", "S4|h|ch|nh"},
         {kHead, "a,c1,n1", "p,cp,np", "b,c2,n2", "c,c3,n3"}, "", 0,
         {kHead, "a,c1,n1", "p,cp,np", "b,c2,n2", "c,c3,n3", "h,ch,nh"}},
        {"each side edits a record and deletes another", {"S1|a|c1|n1", "S2|b|c2|n2", "S3|c|c3|n3", "S4|d|c4|n4"},
         {"S1|a|c1|N1", "S3|c|c3|n3", "S4|d|c4|n4"}, {kHead, "a,c1,n1", "b,c2,n2", "c,C3,n3"}, "", 0,
         {kHead, "a,c1,N1", "c,C3,n3"}},
        {"both edit one cell alike", three, {"S1|a|X|n1", "S2|b|c2|n2", "S3|c|c3|n3"},
         {kHead, "a,X,n1", "b,c2,n2", "c,c3,n3"}, "", 0, {kHead, "a,X,n1", "b,c2,n2", "c,c3,n3"}},
        {"both edit one cell apart", three, {"S1|a|H|n1", "S2|b|c2|n2", "S3|c|c3|n3"},
         {kHead, "a,P,n1", "b,c2,n2", "c,c3,n3"}, "", 1,
         {kMarked, "handheld,a,H,n1", "pc,a,P,n1", ",b,c2,n2", ",c,c3,n3"}},
        {"both edit different cells of a record", three, {"S1|a|H|n1", "S2|b|c2|n2", "S3|c|c3|n3"},
         {kHead, "a,c1,P", "b,c2,n2", "c,c3,n3"}, "", 0, {kHead, "a,H,P", "b,c2,n2", "c,c3,n3"}},
        {"both delete", three, {"S1|a|c1|n1", "S3|c|c3|n3"}, {kHead, "a,c1,n1", "c,c3,n3"}, "", 0,
         {kHead, "a,c1,n1", "c,c3,n3"}},
        {"the handheld edits what the PC deleted", three, {"S1|a|c1|n1", "S2|b|H|n2", "S3|c|c3|n3"},
         {kHead, "a,c1,n1", "c,c3,n3"}, "", 1,
         {kMarked, ",a,c1,n1", "handheld (deleted on the PC),b,H,n2", ",c,c3,n3"}},
        {"the PC edits what the handheld deleted", three, {"S2|b|c2|n2", "S3|c|c3|n3"},
         {kHead, "a,P,n1", "b,c2,n2", "c,c3,n3"}, "", 1,
         {kMarked, "pc (deleted on the handheld),a,P,n1", ",b,c2,n2", ",c,c3,n3"}},
        {"--take pc", three, {"S2|b|c2|n2", "S1|a|H|n1", "S3|c|c3|n3"},
         {kHead, "a,P,n1", "b,c2,n2", "c,c3,N3"}, "--take pc", 0, {kHead, "b,c2,n2", "a,P,n1", "c,c3,N3"}},
        {"--take handheld", three, {"S1|a|H|H", "S3|c|c3|n3"}, {kHead, "a,P,n1", "b,P,n2", "c,c3,n3"},
         "--take handheld", 0, {kHead, "a,H,H", "c,c3,n3"}},
        {"the handheld reorders, the PC edits in place", three, {"S3|c|c3|n3", "S1|a|c1|n1", "S2|b|c2|n2"},
         {kHead, "a,c1,n1", "b,c2,P", "c,c3,n3"}, "", 0, {kHead, "c,c3,n3", "a,c1,n1", "b,c2,P"}},
        {"the PC reorders, the handheld edits", three, {"S1|a|H|n1", "S2|b|c2|n2", "S3|c|c3|n3"},
         {kHead, "c,c3,n3", "a,c1,n1", "b,c2,n2"}, "", 0, {kHead, "a,H,n1", "b,c2,n2", "c,c3,n3"}},
        {"the PC renames a record in place", three, {"S1|a|c1|N1", "S2|b|c2|n2", "S3|c|c3|n3"},
         {kHead, "A,c1,n1", "b,c2,n2", "c,c3,n3"}, "", 0, {kHead, "A,c1,N1", "b,c2,n2", "c,c3,n3"}},
        {"records without sync IDs match by their cells", {"|a|c1|n1", "|b|c2|n2"}, {"|a|c1|n1", "|b|H|n2"},
         {kHead, "b,c2,n2", "a,P,n1", "q,cq,nq"}, "", 0, {kHead, "a,P,n1", "q,cq,nq", "b,H,n2"}},
        {"a title renamed on the PC", three, {"S1|a|H|n1", "S2|b|c2|n2", "S3|c|c3|n3"},
         {"Name,Town,Note", "a,c1,n1", "b,c2,n2", "c,c3,n3"}, "", 0,
         {"Name,Town,Note", "a,H,n1", "b,c2,n2", "c,c3,n3"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        KivRun run;
        WriteWhole(run.File("base.kcsv"), Kcsv(run, "Work", row.base, false));
        WriteWhole(run.File("hh.kcsv"), Kcsv(run, "Work", row.hh, false));
        ASSERT_EQ(0, run.Kiv("archive add @base.kcsv")) << run.Err();
        ASSERT_EQ(0, run.Kiv("export 1 -d @pc")) << run.Err();
        ASSERT_EQ(0, run.Kiv("archive add @hh.kcsv")) << run.Err();
        WriteWhole(run.File("pc/Work.csv"), Joined(row.pc));
        EXPECT_EQ(row.status, run.Kiv(std::string("merge @pc/Work.csv ") + row.args)) << run.Err();
        EXPECT_EQ(Joined(row.merged), Joined(Rows(run, "pc/Work.csv")));
        EXPECT_EQ(Joined(row.pc), ReadWhole(run.File("pc/Work.merge-base.csv")));
        // Each conflict is listed with its line; a CSV still marked goes nowhere.
        EXPECT_EQ(row.status == 1, run.Err().find("conflict (") != std::string::npos) << run.Err();
        if (row.status == 1) {
            EXPECT_EQ(6, run.Kiv("push @pc/Work.csv -p /dev/null"));
            EXPECT_NE(std::string::npos, run.Err().find("column 1 (conflict): a conflict the merge left"))
                << run.Err();
        }
    }
}

// Pictures by their bytes: a picture changed on one side is taken with the
// other side's edit of the same record.
TEST(KivMerge, APictureChangedOnOneSideIsTakenByItsBytes)
{
    KivRun run;
    WriteWhole(run.File("base.kcsv"), Kcsv(run, "Work", {"S1|a|c1|n1|A", "S2|b|c2|n2|B"}, true));
    WriteWhole(run.File("hh.kcsv"), Kcsv(run, "Work", {"S1|a|c1|n1|C", "S2|b|H|n2|B"}, true));
    ASSERT_EQ(0, run.Kiv("archive add @base.kcsv")) << run.Err();
    ASSERT_EQ(0, run.Kiv("export 1 -d @pc")) << run.Err();
    ASSERT_EQ(0, run.Kiv("archive add @hh.kcsv")) << run.Err();
    WriteWhole(run.File("D.png"), PictureBytes('D'));
    WriteWhole(run.File("pc/Work.csv"),
               "Name,City,Note,Photo\na,c1,P,Work-pictures/1-4.png\nb,c2,n2,../D.png\n");
    EXPECT_EQ(0, run.Kiv("merge @pc/Work.csv")) << run.Err();
    EXPECT_EQ("Name,City,Note,Photo\na,c1,P,#C\nb,H,n2,#D\n", Joined(Rows(run, "pc/Work.csv")));
}

}   // namespace
