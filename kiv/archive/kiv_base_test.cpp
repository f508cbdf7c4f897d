// The base a table CSV names, through kiv's command line: pull and to-csv
// write it, push compares the archive's later pulls of the table with it
// before the port opens.
#include <gtest/gtest.h>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Edits;

// FNV-1a (64 bits) over bytes, as 16 hexadecimal digits: the schema's hash, computed here on its own.
std::string Fnv(const std::string& bytes)
{
    uint64_t h = 14695981039346656037ull;
    for (unsigned char b : bytes)
        h = (h ^ b) * 1099511628211ull;
    char hex[17];
    snprintf(hex, sizeof hex, "%016" PRIx64, h);
    return hex;
}

void Edit(const KivRun& run, const std::string& file, const Edits& edits)
{
    std::string text = ReadWhole(run.File(file));
    for (const auto& e : edits) {
        size_t at = text.find(e.first);
        ASSERT_NE(std::string::npos, at) << e.first;
        text.replace(at, e.first.size(), e.second);
    }
    WriteWhole(run.File(file), text);
}

// addr.kcsv, the sample; restamped.kcsv with other stamps; changed.kcsv with
// one amount changed; grown.kcsv with that change and a record added.
void MakeTables(KivRun& run)
{
    std::string src = run.File("src");
    ASSERT_EQ(0, system(("mkdir " + src + " && cp " KIV_SAMPLES "/* " + src).c_str()));
    ASSERT_EQ(0, run.Kiv("from-csv --classic addr.table addr.txt -o ../addr.kcsv", "src")) << run.Err();
    std::string kcsv = ReadWhole(run.File("addr.kcsv"));
    size_t h = kcsv.find("\"H\",\"04\",\"RVC2\",\"");
    ASSERT_NE(std::string::npos, h);
    WriteWhole(run.File("restamped.kcsv"), kcsv.replace(h + 17, 14, "20010203040506"));
    ASSERT_EQ(0, run.Kiv("to-csv addr.kcsv -d edit --archive @none.sqlite")) << run.Err();
    Edit(run, "edit/addr.csv", {{"1234.5", "999"}});
    ASSERT_EQ(0, run.Kiv("from-csv edit/addr.csv -o changed.kcsv")) << run.Err();
    WriteWhole(run.File("edit/addr.csv"), ReadWhole(run.File("edit/addr.csv")) + "新 人,1,2000-01-01,\r\n");
    ASSERT_EQ(0, run.Kiv("from-csv edit/addr.csv -o grown.kcsv")) << run.Err();
}

std::string Changed(const std::string& counts)
{
    return "kiv: the handheld's table changed since this CSV was made (" + counts +
           "); run kiv merge, or give --force to replace those changes\n";
}

std::string Removes(const std::string& counts)
{
    return "kiv: this push removes " + counts +
           " records of version 1, the CSV's base; give --force if that is meant\n";
}

std::string Unchecked(const std::string& what)
{
    return "kiv: " + what + ": the handheld's changes since cannot be checked\n";
}

// Each row pulls the sample into pc/ (pull 1, its schema naming it), adds
// the later Kcsv files to the archive as the handheld's pulls since, edits
// the table CSV and pushes it.
TEST(KivBase, PushRefusesToReplaceTheHandheldsChanges)
{
    const std::string row2 = "山田 太郎,1234.5,1999-12-31,addr-pictures/1-4.jpg\r\n";
    const std::string row3 = "\"鈴木 \"\"花子\"\"\",-0.25,2001-01-05,addr-pictures/2-4.png\r\n";
    const std::string row4 = "①Ⅰ　,\"12345678901234567890\",2026-12-07,addr-pictures/3-4.gif\r\n";
    struct Row {
        const char* name;
        std::vector<std::string> later;
        Edits csv;
        std::string base;   // the schema's base line instead of its own ("#": its hash), "=" to keep it
        std::string args;
        int status;
        std::string err;
        std::string before = "";   // archived before the pull, which then equals it apart from stamps
    } rows[] = {
        // clang-format off
        {"no later pull", {}, {{"1234.5", "1"}}, "=", "", 0, ""},
        {"a later pull that differs", {"changed.kcsv"}, {}, "=", "", 8, Changed("version 2: 1 changed")},
        {"counts of each kind", {"grown.kcsv"}, {}, "=", "", 8, Changed("version 2: 1 added, 1 changed")},
        {"--force", {"changed.kcsv"}, {}, "=", " --force", 0,
         "kiv: version 2 holds the handheld's changes since this CSV was made (1 changed); --force replaces "
         "them\n"},
        {"a later pull equal apart from stamps", {"restamped.kcsv"}, {}, "=", "", 0, ""},
        {"a pull equal to the version before", {}, {}, "=", "", 0, "", "restamped.kcsv"},
        {"changed and changed back", {"changed.kcsv", "addr.kcsv"}, {}, "=", "", 0, ""},
        {"one of three removed", {}, {{row3, ""}}, "=", "", 0, ""},
        {"two of three removed", {}, {{row3, ""}, {row4, ""}}, "=", "", 8, Removes("2 of the 3")},
        {"all removed", {}, {{row2 + row3 + row4, ""}}, "=", "", 8, Removes("3 of the 3")},
        {"all removed, --force", {}, {{row2 + row3 + row4, ""}}, "=", " -f", 0, ""},
        {"a base the archive lacks", {"changed.kcsv"}, {}, "base 9 #", "", 0,
         Unchecked("the CSV's base version 9 is not in the archive @")},
        {"a base of another hash", {"changed.kcsv"}, {}, "base 1 0000000000000000", "", 0,
         Unchecked("the CSV's base version 1 in the archive @ is another table than the one the CSV was made from")},
        {"no base", {"changed.kcsv"}, {}, "", "", 0, Unchecked("the CSV names no base version")},
        // clang-format on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        MakeTables(run);
        // The pull names its own id, and the hash of the version it equals.
        std::string stored = ReadWhole(run.File(row.before.empty() ? "addr.kcsv" : row.before));
        std::string id = row.before.empty() ? "1" : "2", hash = Fnv(stored), base = row.base;
        if (!row.before.empty()) {
            ASSERT_EQ(0, run.Kiv("archive add " + row.before)) << run.Err();
        }
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role send --data " + run.File("addr.kcsv")));
        ASSERT_EQ(0, run.Kiv("pull -n addr -d pc --port LINE " + std::string(kCable))) << run.Err();
        run.FinishSim();
        std::string schema = ReadWhole(run.File("pc/addr.schema"));
        EXPECT_NE(std::string::npos, schema.find("\nrows 3\nbase " + id + " " + hash + "\n")) << schema;
        for (const std::string& later : row.later)
            ASSERT_EQ(0, run.Kiv("archive add " + later)) << run.Err();
        Edit(run, "pc/addr.csv", row.csv);
        if (base.find('#') != std::string::npos)
            base.replace(base.find('#'), 1, hash);
        if (row.base != "=")
            Edit(run, "pc/addr.schema",
                 {{"base " + id + " " + hash + "\n", base.empty() ? "" : base + "\n"}});
        unlink(run.File("ready").c_str());   // the pull's kivsim made it
        // A pushed table ends with its one 0x1A, where kivsim stops; a push
        // refused ends it with the stop file.
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role receive"));
        EXPECT_EQ(row.status, run.Kiv("push pc/addr.csv --port LINE " + std::string(kCable) + row.args));
        if (row.status != 0)
            run.StopSim();
        else
            run.FinishSim();
        std::string err = row.err;
        for (size_t at; (at = err.find(" @")) != std::string::npos;)
            err.replace(at + 1, 1, run.Archive());
        EXPECT_EQ(err, run.Err());
        EXPECT_EQ(row.status == 0, !ReadWhole(run.File("rec.bin")).empty());
    }
}

// to-csv of a Kcsv file names the newest pull whose version is the file's
// bytes: the archive holds addr (pull 1; pull 2, restamped, equals it) and
// changed (3).
TEST(KivBase, ToCsvNamesTheVersionTheArchiveHolds)
{
    KivRun run;
    MakeTables(run);
    ASSERT_EQ(0, run.Kiv("archive add --archive @a.sqlite addr.kcsv restamped.kcsv changed.kcsv"))
        << run.Err();
    WriteWhole(run.File("copy.kcsv"), ReadWhole(run.File("changed.kcsv")));
    struct Row {
        std::string args, schema, base;   // base "": no base line
    } rows[] = {
        {"to-csv addr.kcsv -d a --archive @a.sqlite", "a/addr.schema",
         "base 2 " + Fnv(ReadWhole(run.File("addr.kcsv")))},
        {"to-csv copy.kcsv -d b --archive @a.sqlite", "b/copy.schema",
         "base 3 " + Fnv(ReadWhole(run.File("changed.kcsv")))},
        // Equal to a version apart from stamps, of its length: its bytes are no version.
        {"to-csv restamped.kcsv -d c --archive @a.sqlite", "c/restamped.schema", ""},
        {"to-csv addr.kcsv -d e --archive @none.sqlite", "e/addr.schema", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        EXPECT_EQ(0, run.Kiv(row.args)) << run.Err();
        EXPECT_EQ("", run.Err());
        std::string schema = ReadWhole(run.File(row.schema));
        size_t at = schema.find("\nbase ");
        EXPECT_EQ(row.base,
                  at == std::string::npos ? "" : schema.substr(at + 1, schema.find('\n', at + 1) - at - 1));
    }
}

}   // namespace
