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
#include "header_renew.h"
#include "kcsv/kcsv_format.h"
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
    EXPECT_EQ(KIV_EXIT_OK,
              CsvToKcsvBlock(run.File(name + ".table"), run.File(name + ".txt"), {}, &block, &error))
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
std::vector<std::string> Rows(const std::string& csv)
{
    std::vector<std::string> rows;
    std::string folder = csv.substr(0, csv.rfind('/') + 1);
    for (std::string line : Split(ReadWhole(csv), '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::vector<std::string> cells = Split(line, ',');
        std::string row;
        for (size_t c = 0; c < cells.size(); c++) {
            std::string cell = cells[c] == "\"\"" ? "" : cells[c];
            if (cell.find("-pictures/") != std::string::npos) {
                std::string bytes = ReadWhole(folder + cell);
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
        // Each row holds several edits apart, each to its own record.
        {"each side adds, edits a record and deletes another; both delete one; both edit one cell alike; "
         "both edit different cells of a record",
         {"S1|a|c1|n1", "S2|b|c2|n2", "S3|c|c3|n3", "S4|d|c4|n4", "S5|e|c5|n5", "S6|f|c6|n6", "S7|g|c7|n7"},
         {"S1|a|c1|N1", "S3|c|c3|n3", "S4|d|c4|n4", "S5|e|X|n5", "S6|f|H|n6", "S8|h|ch|nh"},
         {kHead, "a,c1,n1", "p,cp,np", "b,c2,n2", "c,C3,n3", "e,X,n5", "f,c6,P"},
         "",
         0,
         {kHead, "a,c1,N1", "p,cp,np", "c,C3,n3", "e,X,n5", "f,H,P", "h,ch,nh"}},
        {"both edit one cell apart; the handheld edits what the PC deleted; the PC edits what the handheld "
         "deleted",
         {"S1|a|c1|n1", "S2|b|c2|n2", "S3|c|c3|n3", "S4|d|c4|n4"},
         {"S1|a|H|n1", "S2|b|H|n2", "S4|d|c4|n4"},
         {kHead, "a,P,n1", "c,P,n3", "d,c4,n4"},
         "",
         1,
         {kMarked, "handheld,a,H,n1", "pc,a,P,n1", "pc (deleted on the handheld),c,P,n3",
          "handheld (deleted on the PC),b,H,n2", ",d,c4,n4"}},
        {"--take pc",
         three,
         {"S2|b|c2|n2", "S1|a|H|n1", "S3|c|c3|n3"},
         {kHead, "a,P,n1", "b,c2,n2", "c,c3,N3"},
         "--take pc",
         0,
         {kHead, "b,c2,n2", "a,P,n1", "c,c3,N3"}},
        {"--take handheld",
         three,
         {"S1|a|H|H", "S3|c|c3|n3"},
         {kHead, "a,P,n1", "b,P,n2", "c,c3,n3"},
         "--take handheld",
         0,
         {kHead, "a,H,H", "c,c3,n3"}},
        {"the handheld reorders and edits a record the PC renames in place; the PC edits another in place",
         three,
         {"S3|c|c3|n3", "S1|a|c1|N1", "S2|b|c2|n2"},
         {kHead, "A,c1,n1", "b,c2,P", "c,c3,n3"},
         "",
         0,
         {kHead, "c,c3,n3", "A,c1,N1", "b,c2,P"}},
        {"the PC reorders and renames a title, the handheld edits",
         three,
         {"S1|a|H|n1", "S2|b|c2|n2", "S3|c|c3|n3"},
         {"Name,Town,Note", "c,c3,n3", "a,c1,n1", "b,c2,n2"},
         "",
         0,
         {"Name,Town,Note", "a,H,n1", "b,c2,n2", "c,c3,n3"}},
        {"records without sync IDs match by their cells",
         {"|a|c1|n1", "|b|c2|n2"},
         {"|a|c1|n1", "|b|H|n2"},
         {kHead, "b,c2,n2", "a,P,n1", "q,cq,nq"},
         "",
         0,
         {kHead, "a,P,n1", "q,cq,nq", "b,H,n2"}},
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
        EXPECT_EQ(Joined(row.merged), Joined(Rows(run.File("pc/Work.csv"))));
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
    EXPECT_EQ("Name,City,Note,Photo\na,c1,P,#C\nb,H,n2,#D\n", Joined(Rows(run.File("pc/Work.csv"))));
}

// The law: on generated tables with random edits on both sides, the merge
// holds every change of one side, both versions of every clash (or the one
// --take names), and nothing else. The oracle is the rules applied to the
// test's own record of what each side did. Records keep their first cell
// as a key when the PC adds or deletes rows (a row edited then has no place
// of its own to tie it to its base); otherwise every cell may change.
struct Rec {
    std::string id;
    std::vector<std::string> cells;
};

struct LawCase {
    std::vector<Rec> base, hh, pc;
    std::vector<long> hhBase, pcBase;   // each record's base record, -1 when added
    std::string take;
};

// One field changes for sure and one stays (a row the PC edits in place is
// tied to its base by a field it kept); the key stays when keyKept.
Rec Edited(const Rec& r, std::mt19937& rng, const std::string& side, bool keyKept)
{
    Rec e = r;
    size_t keep = keyKept ? 0 : rng() % 3, f = (keep + 1 + rng() % 2) % 3;
    for (size_t g = 0; g < 3; g++)
        if (g != keep && (g == f || rng() % 2))
            e.cells[g] = (rng() % 4 ? side : "x") + r.cells[g];   // "x": both sides may agree
    return e;
}

LawCase Generate(std::mt19937& rng, size_t k)
{
    LawCase c;
    static const char* takes[] = {"", "", "--take pc", "--take handheld"};
    c.take = takes[rng() % 4];
    size_t n = 1 + rng() % 6;
    for (size_t r = 0; r < n; r++)
        c.base.push_back({"S" + std::to_string(r),
                          {"a" + std::to_string(k) + "_" + std::to_string(r), "b" + std::to_string(r),
                           "c" + std::to_string(r)}});
    for (size_t r = 0; r < n; r++) {
        unsigned u = rng() % 10;
        if (u >= 2) {
            c.hh.push_back(u < 5 ? Edited(c.base[r], rng, "h", false) : c.base[r]);
            c.hhBase.push_back((long)r);
        }
    }
    for (size_t i = c.hh.size(); rng() % 3 == 0 && i > 1; i--) {
        size_t j = rng() % i;
        std::swap(c.hh[i - 1], c.hh[j]);
        std::swap(c.hhBase[i - 1], c.hhBase[j]);
    }
    for (size_t a = rng() % 3; a > 0; a--) {
        c.hh.push_back({"A" + std::to_string(a), {"ha" + std::to_string(a), "hb", "hc"}});
        c.hhBase.push_back(-1);
    }
    bool rowsChange = rng() % 2;
    for (size_t r = 0; r < n; r++) {
        unsigned u = rng() % 10;
        if (rowsChange && u < 2)
            continue;
        c.pc.push_back(u < 5 ? Edited(c.base[r], rng, "p", rowsChange) : c.base[r]);
        c.pcBase.push_back((long)r);
    }
    for (size_t a = rowsChange ? rng() % 3 : 0; a > 0; a--) {
        size_t at = rng() % (c.pc.size() + 1);
        c.pc.insert(c.pc.begin() + (long)at, Rec{"", {"pa" + std::to_string(a), "pb", "pc"}});
        c.pcBase.insert(c.pcBase.begin() + (long)at, -1);
    }
    return c;
}

// A table of the law's three fields, as Kcsv() makes it but without the
// desktop writer's round per table: header's records renewed for the count,
// then each record as that writer lays it out, with the handheld's sync ID.
std::string LawKcsv(const std::vector<std::string>& header, const std::vector<Rec>& records)
{
    std::vector<std::string> renewed = header;
    char stamp[TIMESTAMP_SIZE];
    FormatTimestamp(stamp);
    EXPECT_TRUE(RenewHeader(&renewed, (long)records.size(), stamp, PackedStampNow(), ""));
    std::string kcsv;
    for (const std::string& record : renewed)
        kcsv += record + "\r\n";
    for (const Rec& r : records)
        kcsv += "\"D\",\" \"," + (r.id.empty() ? "" : "\"" + r.id + "\"") + ",\"" + stamp + "\",,,\"" +
                r.cells[0] + "\",\"" + r.cells[1] + "\",\"" + r.cells[2] + "\"\r\n";
    return kcsv + "\x1A";
}

std::string Line(const std::string& mark, const std::vector<std::string>& cells)
{
    return mark + "|" + cells[0] + "|" + cells[1] + "|" + cells[2];
}

std::vector<std::string> Expected(const LawCase& c)
{
    std::vector<std::string> out;
    for (size_t r = 0; r < c.base.size(); r++) {
        const Rec* h = nullptr;
        const Rec* p = nullptr;
        for (size_t j = 0; j < c.hh.size(); j++)
            h = c.hhBase[j] == (long)r ? &c.hh[j] : h;
        for (size_t q = 0; q < c.pc.size(); q++)
            p = c.pcBase[q] == (long)r ? &c.pc[q] : p;
        const std::vector<std::string>& b = c.base[r].cells;
        if (h && p) {
            // A cell by its three values: the sides agree, or one kept the
            // base's and the other's is taken, or they clash.
            std::vector<std::string> m(3);
            bool clash = false;
            for (size_t f = 0; f < 3; f++) {
                const std::string &hv = h->cells[f], &pv = p->cells[f];
                bool apart = hv != pv && hv != b[f] && pv != b[f];
                clash = clash || apart;
                m[f] = hv == b[f] || (apart && c.take == "--take pc") ? pv : hv;
            }
            if (clash && c.take.empty()) {
                out.push_back(Line("handheld", h->cells));
                out.push_back(Line("pc", p->cells));
            } else {
                out.push_back(Line("", m));
            }
        } else if (h && h->cells != b && c.take != "--take pc") {
            out.push_back(Line(c.take.empty() ? "handheld (deleted on the PC)" : "", h->cells));
        } else if (p && p->cells != b && c.take != "--take handheld") {
            out.push_back(Line(c.take.empty() ? "pc (deleted on the handheld)" : "", p->cells));
        }
    }
    for (size_t j = 0; j < c.hh.size(); j++)
        if (c.hhBase[j] < 0)
            out.push_back(Line("", c.hh[j].cells));
    for (size_t q = 0; q < c.pc.size(); q++)
        if (c.pcBase[q] < 0)
            out.push_back(Line("", c.pc[q].cells));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Merged(const std::string& csv)
{
    std::vector<std::string> rows = Rows(csv), out;
    bool marked = !rows.empty() && rows[0].rfind("conflict,", 0) == 0;
    for (size_t r = 1; r < rows.size(); r++) {
        std::vector<std::string> cells = Split(rows[r], ',');
        std::string mark = marked ? cells[0] : "";
        if (marked)
            cells.erase(cells.begin());
        cells.resize(3);
        out.push_back(Line(mark, cells));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The archive and the merged sets go where a sync costs nothing, when the
// system has such a place (a tmpfs): thousands of syncs of a busy disk would
// be this test's whole time, and durability is no part of the law.
struct Scratch {
    std::string dir;
    explicit Scratch(const KivRun& run)
    {
        char tmpl[] = "/dev/shm/kiv-merge-XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : run.File("cases");
        mkdir(dir.c_str(), 0777);
    }
    ~Scratch()
    {
        if (system(("rm -rf '" + dir + "'").c_str()) != 0)
            ADD_FAILURE() << "cannot remove " << dir;
    }
};

TEST(KivMerge, OnRandomEditsEveryChangeIsKeptEveryClashHoldsBothSidesAndNothingElseChanges)
{
    const size_t kCases = 1000;
    const char* given = getenv("KIV_MERGE_SEED");
    const uint32_t seed = given ? (uint32_t)strtoul(given, nullptr, 10) : 20261209u;
    KivRun run;
    Scratch scratch(run);
    std::vector<LawCase> cases;
    std::vector<std::string> bases;
    const std::string archive = " --archive " + scratch.dir + "/a.sqlite";
    std::string add = "archive add" + archive;
    // One table name for all: --with names each case's handheld version.
    std::vector<std::string> header;
    std::string empty = Kcsv(run, "Law", {}, false);
    for (size_t at = 0, end; (end = empty.find("\r\n", at)) != std::string::npos; at = end + 2)
        header.push_back(empty.substr(at, end - at));
    for (size_t k = 0; k < kCases; k++) {
        std::mt19937 rng(seed + (uint32_t)k);
        cases.push_back(Generate(rng, k));
        bases.push_back(LawKcsv(header, cases[k].base));
        WriteWhole(run.File("b" + std::to_string(k) + ".kcsv"), bases[k]);
        WriteWhole(run.File("h" + std::to_string(k) + ".kcsv"), LawKcsv(header, cases[k].hh));
    }
    // Every base, then every handheld version: base k is version k + 1.
    for (const char* side : {" @b", " @h"})
        for (size_t k = 0; k < kCases; k++)
            add += side + std::to_string(k) + ".kcsv";
    ASSERT_EQ(0, run.Kiv(add)) << run.Err();
    for (size_t k = 0; k < kCases; k++) {
        const LawCase& c = cases[k];
        SCOPED_TRACE("KIV_MERGE_SEED=" + std::to_string(seed) + ", case " + std::to_string(k));
        std::string name = "Law", dir = scratch.dir + "/c" + std::to_string(k), error;
        ConvertOptions options;
        options.baseVersion = (long)k + 1;
        options.baseHash = TableHash(bases[k]);
        mkdir(dir.c_str(), 0777);
        ASSERT_EQ(KIV_EXIT_OK, KcsvToTableCsv(bases[k], name, dir, name, options, nullptr, &error)) << error;
        std::string csv = "Name,City,Note\n";
        for (const Rec& r : c.pc)
            csv += r.cells[0] + "," + r.cells[1] + "," + r.cells[2] + "\n";
        WriteWhole(dir + "/" + name + ".csv", csv);
        std::vector<std::string> expected = Expected(c);
        bool clash = false;
        for (const std::string& line : expected)
            clash = clash || line[0] != '|';
        ASSERT_EQ(clash ? 1 : 0, run.Kiv("merge " + dir + "/" + name + ".csv " + c.take + archive +
                                         " --with " + std::to_string(kCases + k + 1)))
            << run.Err();
        ASSERT_EQ(Joined(expected), Joined(Merged(dir + "/" + name + ".csv")));
    }
}

}   // namespace
