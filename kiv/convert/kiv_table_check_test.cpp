// Damaged tables through kiv's command line: to-csv and pull refuse each with
// status 6 and the line at fault, and write none of the table's files; pull
// keeps the received table byte for byte. Each row changes the sample table
// as from-csv writes it; one change leaves it sound.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>
#include "kiv_harness.h"
#include "kcsv/kcsv_to_csv.h"

namespace {

typedef std::vector<std::string> Lines;

// The sample's records, one a line: H I M P S C T, then three rows (1234.5
// on 19991231 with a JPEG, -0.25 on 20010105 with a PNG, a GIF), each with
// the columns KD01 to KD03, IM01 and IMI1 from column 7 on.
Lines SampleTable()
{
    KivRun run;
    EXPECT_EQ(0, system(("cp " KIV_SAMPLES "/* " + run.dir).c_str()));
    EXPECT_EQ(0, run.Kiv("from-csv --classic addr.table addr.txt -o table.kcsv")) << run.Err();
    std::string kcsv = ReadWhole(run.File("table.kcsv"));
    Lines lines;
    for (size_t at = 0, end; (end = kcsv.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(kcsv.substr(at, end - at));
    return lines;
}

std::string Joined(const Lines& lines)
{
    std::string kcsv;
    for (const std::string& line : lines)
        kcsv += line + "\r\n";
    return kcsv + "\x1A";
}

void Replace(std::string& line, const std::string& from, const std::string& to)
{
    size_t at = line.find(from);
    if (at != std::string::npos)
        line.replace(at, from.size(), to);
}

std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(KivTableCheck, DamagedTablesAreRefusedNamingTheLine)
{
    struct Row {
        const char* name;
        void (*damage)(Lines&);
        const char* pullName;   // null: to-csv; otherwise pull, with --name when not empty
        size_t line;
        std::string reason;
    } rows[] = {
        {"no P", [](Lines& l) { l.erase(l.begin() + 3); }, nullptr, 6,
         "no \"P\" record before the titles: the kinds of the fields are unknown"},
        {"no I", [](Lines& l) { l.erase(l.begin() + 1); }, nullptr, 6,
         "no \"I\" record before the titles: the table's fields are unknown"},
        {"row before the titles", [](Lines& l) { std::swap(l[6], l[7]); }, nullptr, 7,
         "a data record before the titles (\"T\" record)"},
        {"another box", [](Lines& l) { Replace(l[2], "_PIO", "_PIX"); }, nullptr, 3,
         "the \"M\" record names no box of the handheld's"},
        {"description cut", [](Lines& l) { l[3] = l[3].substr(0, 106) + "\""; }, nullptr, 4,
         "the table description is cut short"},
        {"number cut", [](Lines& l) { Replace(l[7], "1b0a9575LLL0LLL0LLL0", "1b0a9575LLL0LLL0"); }, nullptr,
         8, "column 8 (KD02): a number that does not decode"},
        {"time with slashes", [](Lines& l) { Replace(l[8], "\"20010105\"", "\"2001/01/05\""); }, nullptr, 9,
         "column 9 (KD03): a time that is not digits only"},
        {"picture off the alphabet", [](Lines& l) { Replace(l[9], "BDAPst71", "BDAP<t71"); }, nullptr, 10,
         "column 10 (IM01): a picture that is not whole 3TO4 text"},
        {"row a column short", [](Lines& l) { Replace(l[9], ",\"05\"", ""); }, nullptr, 10,
         "10 columns where the \"I\" record has 11"},
        // A sound table: its last row, without a picture, ends with two empty columns.
        {"row without its picture", [](Lines& l) { l[9] = l[9].substr(0, l[9].find(",\"BDAP")) + ",,"; },
         nullptr, 0, ""},
        {"pull, no P", [](Lines& l) { l.erase(l.begin() + 3); }, "", 6,
         "no \"P\" record before the titles: the kinds of the fields are unknown"},
        {"pull --name, number off the alphabet",
         [](Lines& l) { Replace(l[7], "1b0a9575LLL0", "1b0a9575LL<0"); }, "addr", 8,
         "column 8 (KD02): a number that does not decode"},
    };
    const Lines sample = SampleTable();
    ASSERT_EQ(10u, sample.size());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        Lines lines = sample;
        row.damage(lines);
        std::string damaged = Joined(lines);
        ASSERT_EQ(0, mkdir(run.File("out").c_str(), 0755));
        std::string shown = "addr.kcsv";
        int status;
        if (!row.pullName) {
            WriteWhole(run.File("addr.kcsv"), damaged);
            status = run.Kiv("to-csv addr.kcsv -d out");
        } else {
            WriteWhole(run.File("table"), damaged);
            ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role send --data " + run.File("table")));
            std::string name = row.pullName[0] ? std::string(" --name ") + row.pullName : "";
            status = run.Kiv(std::string("pull --port LINE ") + kCable + name, "out");
            run.FinishSim();
            shown = "the received table";
        }
        EXPECT_EQ(row.line ? 6 : 0, status) << run.Err();
        if (!row.line) {
            EXPECT_TRUE(Exists(run.File("out/addr.csv")));
            continue;
        }
        std::string message = "kiv: " + shown + ": line " + std::to_string(row.line) + ": " + row.reason;
        EXPECT_EQ(0u, run.Err().find(message)) << run.Err();
        if (!row.pullName) {
            EXPECT_EQ(std::vector<std::string>(), FilesIn(run.File("out")));
            continue;
        }
        std::string kept = std::string(row.pullName[0] ? row.pullName : "table") + ".kcsv";
        EXPECT_EQ(std::vector<std::string>({kept}), FilesIn(run.File("out")));
        EXPECT_TRUE(damaged == ReadWhole(run.File("out/" + kept)));
    }
}

// The first n slots of a record line.
std::string FirstSlots(const std::string& line, int n)
{
    size_t at = 0;
    for (int k = 0; k < n && at != std::string::npos; k++)
        at = line.find(',', at + 1);
    return line.substr(0, at);
}

// What the format lets the conversion pass over converts as the conversion
// converts it: to-csv --classic writes the core's own files byte for byte,
// and the table CSV path and show take the table too.
TEST(KivTableCheck, TablesTheConversionPassesOverConvertAsItDoes)
{
    struct Row {
        const char* name;
        void (*change)(Lines&);
    } rows[] = {
        {"ends at its titles", [](Lines& l) { l.resize(7); }},
        {"narrow S and C", [](Lines& l) { l[4] = FirstSlots(l[4], 3), l[5] = FirstSlots(l[5], 9); }},
        {"unknown tag before the titles", [](Lines& l) { l.insert(l.begin() + 4, "\"X\",\"1\""); }},
        {"rows of other tags",
         [](Lines& l) { Replace(l[7], "\"D\"", "\"S\""), Replace(l[8], "\"D\"", "\"Q\""); }},
        {"slots past the fields", [](Lines& l) { l[7] += ",\"x\",,\"y\""; }},
        {"format code unknown", [](Lines& l) { Replace(l[9], ",\"05\"", ",\"0x\""); }},
        {"format code of one digit", [](Lines& l) { Replace(l[9], ",\"05\"", ",\"5\""); }},
    };
    const Lines sample = SampleTable();
    ASSERT_EQ(10u, sample.size());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        Lines lines = sample;
        row.change(lines);
        std::string kcsv = Joined(lines);
        // Both convert addr.kcsv in a folder of their own, so that the record
        // files name the pictures alike.
        for (const char* folder : {"kiv", "core", "tab"}) {
            ASSERT_EQ(0, mkdir(run.File(folder).c_str(), 0755));
            WriteWhole(run.File(std::string(folder) + "/addr.kcsv"), kcsv);
        }
        EXPECT_EQ(0, run.Kiv("to-csv --classic addr.kcsv", "kiv")) << run.Err();
        // The core's scratch file goes to the working folder.
        char here[4096];
        ASSERT_TRUE(getcwd(here, sizeof here));
        ASSERT_EQ(0, chdir(run.File("core").c_str()));
        EXPECT_TRUE(ConvertKcsvToCsv("addr.kcsv"));
        ASSERT_EQ(0, chdir(here));
        std::vector<std::string> core = FilesIn(run.File("core"));
        EXPECT_LT(3u, core.size());
        for (const std::string& name : core)
            EXPECT_TRUE(ReadWhole(run.File("core/" + name)) == ReadWhole(run.File("kiv/" + name))) << name;
        EXPECT_EQ(0, run.Kiv("to-csv addr.kcsv", "tab")) << run.Err();
        EXPECT_EQ(0, run.Kiv("show addr.kcsv", "tab")) << run.Err();
        // The archive keeps it after the sample as it came, and diff reads both.
        WriteWhole(run.File("tab/sample.kcsv"), Joined(sample));
        EXPECT_EQ(0, run.Kiv("archive add --archive @a.sqlite sample.kcsv addr.kcsv", "tab")) << run.Err();
        EXPECT_EQ(0, run.Kiv("export 2 --kcsv --archive @a.sqlite -o @back.kcsv")) << run.Err();
        EXPECT_TRUE(kcsv == ReadWhole(run.File("back.kcsv")));
        int differs = run.Kiv("diff --archive @a.sqlite");
        EXPECT_TRUE(differs == 0 || differs == 1) << differs << ": " << run.Err();
    }
}

}   // namespace
