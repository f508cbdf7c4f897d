// The base a table CSV names, through kiv's command line: pull and to-csv
// write it, push compares the archive's later pulls of the table with it
// before the port opens.
#include <gtest/gtest.h>
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sstream>
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
// one amount changed; grown.kcsv with that change and a record added;
// retitled.kcsv with a field renamed and its records as they were.
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
    ASSERT_EQ(0, run.Kiv("to-csv addr.kcsv -d retitle --archive @none.sqlite")) << run.Err();
    Edit(run, "retitle/addr.csv", {{"氏名", "名前"}});
    ASSERT_EQ(0, run.Kiv("from-csv retitle/addr.csv -o retitled.kcsv")) << run.Err();
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
        {"titles changed alone", {"retitled.kcsv"}, {}, "=", "", 8, Changed("version 2: titles changed")},
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
        // Equal to a version apart from stamps: that version, by the hash of its stored bytes.
        {"to-csv restamped.kcsv -d c --archive @a.sqlite", "c/restamped.schema",
         "base 2 " + Fnv(ReadWhole(run.File("addr.kcsv")))},
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

// Until kiv's stderr has text (a prompt said once kiv waits for Enter), or kiv ended.
bool WaitForErr(const KivRun& run, pid_t kiv, const std::string& text)
{
    for (int i = 0; i < 6000; i++) {
        if (run.Err().find(text) != std::string::npos)
            return true;
        siginfo_t info = {};
        if (waitid(P_PID, (id_t)kiv, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == kiv)
            return false;
        usleep(10000);
    }
    return false;
}

// kiv sync over the sample pulled into pc/ (version 1): the handheld sends
// its table (version 2), the merge with the CSV's edits, then the handheld
// takes the merged table (version 3, the CSV's base). Enter is written to
// kiv's input when each prompt is there; a row may press Ctrl-C instead.
TEST(KivBase, SyncPullsMergesPushesAndRecordsWhatWasSent)
{
    const char kAskSend[] = "kiv: press Enter, then send the table on the handheld now\n";
    const char kAskReceive[] = "kiv: set the handheld to receive the table now, then press Enter\n";
    struct Row {
        const char* name;
        const char* handheld;   // the table the handheld sends
        Edits hh, pc;           // the handheld's edits of the CSV and the PC's
        std::string args;
        int cancelAt;   // the prompt Ctrl-C answers (1 or 2), 0 for none
        int status;
        size_t versions;   // in the archive after
        std::string err;   // a line kiv.err has
    } rows[] = {
        // clang-format off
        {"each side changed another record", "changed.kcsv", {{"1234.5", "999"}}, {{"-0.25", "-0.5"}}, "", 0, 0, 3,
         "kiv: sent, archived as version 3, the CSV's base now\n"},
        {"the handheld unchanged", "addr.kcsv", {}, {{"-0.25", "-0.5"}}, "", 0, 0, 3, "kiv: pulled into the archive as version 2\n"},
        {"both changed one cell apart", "changed.kcsv", {{"1234.5", "999"}}, {{"1234.5", "1"}}, " --yes", 0, 1, 2,
         "kiv: nothing was sent: resolve the conflicts in pc/addr.csv, then run kiv sync again or kiv push\n"},
        {"Ctrl-C while kiv waits to pull", "changed.kcsv", {}, {{"-0.25", "-0.5"}}, "", 1, 130, 1, kAskSend},
        {"Ctrl-C while kiv waits to push", "changed.kcsv", {{"1234.5", "999"}}, {{"-0.25", "-0.5"}}, "", 2, 130, 2,
         "kiv: cancelled (Ctrl-C)\n"},
        // clang-format on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        MakeTables(run);
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role send --data " + run.File("addr.kcsv")));
        ASSERT_EQ(0, run.Kiv("pull -n addr -d pc --port LINE " + std::string(kCable))) << run.Err();
        run.FinishSim();
        unlink(run.File("ready").c_str());
        std::string pulled = ReadWhole(run.File("pc/addr.csv"));
        Edit(run, "pc/addr.csv", row.pc);
        // The pc/ files and the archive as the sync found them.
        std::string csv = ReadWhole(run.File("pc/addr.csv")), schema = ReadWhole(run.File("pc/addr.schema"));
        std::string record = ReadWhole(run.File("pc/addr.kiv-files")), archive = ReadWhole(run.Archive());
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role send --data " + run.File(row.handheld)));
        ASSERT_EQ(0, mkfifo(run.File("keys").c_str(), 0644));
        int keys = open(run.File("keys").c_str(), O_RDWR);
        pid_t kiv = run.StartKiv("sync pc/addr.csv --port LINE " + std::string(kCable) + row.args, "", {},
                                 "keys");
        if (row.cancelAt == 1) {
            EXPECT_TRUE(WaitForErr(run, kiv, kAskSend));
            kill(kiv, SIGINT);
        } else if (row.args.empty()) {
            EXPECT_TRUE(WaitForErr(run, kiv, kAskSend));
            EXPECT_EQ(1, write(keys, "\n", 1));
        }
        if (row.cancelAt != 1 && row.status != 1) {
            // The merged CSV: the pull's with the edits of both sides.
            WriteWhole(run.File("want.csv"), pulled);
            Edit(run, "want.csv", row.hh);
            Edit(run, "want.csv", row.pc);
            EXPECT_TRUE(WaitForErr(run, kiv, kAskReceive));
            run.FinishSim();
            unlink(run.File("ready").c_str());
            EXPECT_EQ(ReadWhole(run.File("want.csv")), ReadWhole(run.File("pc/addr.csv")));
            EXPECT_NE(std::string::npos,
                      ReadWhole(run.File("pc/addr.schema"))
                          .find("\nbase 2 " + Fnv(ReadWhole(run.File(row.handheld))) + "\n"));
            // A receiving handheld is done when the whole table has come.
            // (kiv.err is the sync's while it runs.)
            EXPECT_EQ(0, ExitStatus(Spawn(
                             {KIV_PATH, "from-csv", run.File("pc/addr.csv"), "-o", run.File("want.kcsv")}, {},
                             run.File("want.err"))))
                << ReadWhole(run.File("want.err"));
            size_t size = ReadWhole(run.File("want.kcsv")).size();
            ASSERT_TRUE(
                run.StartSim(std::string(kSimCable) + " --role receive --count " + std::to_string(size)));
        }
        if (row.cancelAt == 2) {
            kill(kiv, SIGINT);
        } else if (row.cancelAt == 0 && row.status == 0) {
            EXPECT_EQ(1, write(keys, "\n", 1));
        }
        EXPECT_EQ(row.status, ExitStatus(kiv)) << run.Err();
        close(keys);
        std::string err = run.Err();
        EXPECT_NE(std::string::npos, err.find(row.err)) << err;
        run.StopSim();
        EXPECT_EQ(0, run.Kiv("history"));
        std::string history = run.Out();
        EXPECT_EQ(row.versions, (size_t)std::count(history.begin(), history.end(), '\n')) << history;
        std::string sent = ReadWhole(run.File("rec.bin"));
        EXPECT_EQ(row.status == 0, !sent.empty());
        if (row.cancelAt == 1) {
            EXPECT_EQ(csv, ReadWhole(run.File("pc/addr.csv")));
            EXPECT_EQ(schema, ReadWhole(run.File("pc/addr.schema")));
            EXPECT_EQ(record, ReadWhole(run.File("pc/addr.kiv-files")));
            EXPECT_TRUE(archive == ReadWhole(run.Archive()));
        }
        if (row.status == 1) {
            EXPECT_EQ(0u, ReadWhole(run.File("pc/addr.csv")).rfind("conflict,", 0));
            EXPECT_EQ(csv, ReadWhole(run.File("pc/addr.merge-base.csv")));
        }
        // The merge's copy of the CSV is kept until the handheld has the table.
        EXPECT_EQ(row.status != 0 && row.cancelAt != 1, Exists(run.File("pc/addr.merge-base.csv")));
        EXPECT_EQ(row.status != 0 && row.cancelAt != 1,
                  ReadWhole(run.File("pc/addr.kiv-files")).find("addr.merge-base.schema") !=
                      std::string::npos);
        if (row.status != 0 && row.cancelAt != 2)
            continue;
        // What the handheld took is the merged table, the CSV's base now;
        // and so the next push goes without --force. A push that goes
        // removes the merge's copy.
        if (row.status == 0) {
            EXPECT_EQ(DataValues(ReadWhole(run.File("want.kcsv"))), DataValues(sent));
            EXPECT_NE(std::string::npos,
                      ReadWhole(run.File("pc/addr.schema")).find("\nbase 3 " + Fnv(sent) + "\n"));
            EXPECT_NE(std::string::npos, history.find(" bytes  (sent to the handheld)\n")) << history;
        }
        for (const char* made : {"ready", "stop", "rec.bin"})
            unlink(run.File(made).c_str());
        size_t size = ReadWhole(run.File("want.kcsv")).size();
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role receive --count " + std::to_string(size)));
        // The set's record loses the lines of the merge's copy, and only those.
        std::string kept;
        std::istringstream lines(ReadWhole(run.File("pc/addr.kiv-files")));
        for (std::string line; std::getline(lines, line);)
            kept += line.find("merge-base") == std::string::npos ? line + "\n" : "";
        EXPECT_EQ(0, run.Kiv("push pc/addr.csv --port LINE " + std::string(kCable)));
        EXPECT_EQ("", run.Err());
        run.FinishSim();
        EXPECT_EQ(DataValues(ReadWhole(run.File("want.kcsv"))), DataValues(ReadWhole(run.File("rec.bin"))));
        EXPECT_FALSE(Exists(run.File("pc/addr.merge-base.csv")));
        EXPECT_FALSE(Exists(run.File("pc/addr.merge-base.schema")));
        EXPECT_EQ(kept, ReadWhole(run.File("pc/addr.kiv-files")));
        EXPECT_NE(std::string::npos, kept.find("addr.csv\n")) << kept;
    }
}

}   // namespace
