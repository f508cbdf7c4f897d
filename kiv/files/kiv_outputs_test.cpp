// What kiv writes after a transfer: a received table is never thrown away.
// Outputs are checked before the port opens, a taken name gives the table a
// free one, a write that fails keeps the block elsewhere, a signal waits
// until the table is saved, and --force leaves none of an older table behind.
#include <fcntl.h>
#include <glob.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

const char kName[] = "住所録";   // the sample table's name
const char* const kSuffixes[] = {
    ".kcsv", ".csv", ".schema", "-pictures/1-4.jpg", "-pictures/2-4.png", "-pictures/3-4.gif"};

// The sample table as from-csv writes it, in the run's folder as addr.kcsv;
// its bytes. A name of up to 6 ASCII bytes replaces the table's own; copies
// of the first record follow the others.
std::string MakeSample(KivRun& run, const std::string& name = "", int copies = 0)
{
    std::string src = run.File("src");
    if (system(("mkdir " + src + " && cp " KIV_SAMPLES "/* " + src).c_str()) != 0)
        ADD_FAILURE();
    std::string records = ReadWhole(src + "/addr.txt");
    std::string first = records.substr(0, records.find('\n') + 1);
    for (int i = 0; i < copies; i++)
        records += first;
    WriteWhole(src + "/addr.txt", records);
    if (!name.empty()) {
        std::string layout = ReadWhole(src + "/addr.table");
        layout.replace(0, 6, (name + "      ").substr(0, 6));
        WriteWhole(src + "/addr.table", layout);
    }
    if (run.Kiv("from-csv --classic addr.table addr.txt -o ../addr.kcsv", "src") != 0)
        ADD_FAILURE() << run.Err();
    return ReadWhole(run.File("addr.kcsv"));
}

// Each name in words made in the run's folder; a name with a '/' gets its
// folder, and "NAME@TARGET" is a symbolic link to TARGET.
void MakeFiles(const KivRun& run, const std::string& words)
{
    for (const std::string& name : Words(words)) {
        size_t at = name.find('@');
        if (at != std::string::npos) {
            EXPECT_EQ(0, symlink(name.substr(at + 1).c_str(), run.File(name.substr(0, at)).c_str()));
            continue;
        }
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
            mkdir(run.File(name.substr(0, slash)).c_str(), 0755);
        WriteWhole(run.File(name), "old");
    }
}

// The paths in the run's folder that match pattern.
std::vector<std::string> Matching(const KivRun& run, const std::string& pattern)
{
    glob_t found;
    std::vector<std::string> paths;
    if (glob(run.File(pattern).c_str(), 0, nullptr, &found) == 0)
        paths.assign(found.gl_pathv, found.gl_pathv + found.gl_pathc);
    globfree(&found);
    return paths;
}

bool WaitFor(const std::string& path)
{
    for (int i = 0; i < 2000 && !Exists(path); i++)
        usleep(10000);
    return Exists(path);
}

// Refusals that need no table come before the port opens, and a folder
// the job made is taken back. A name is too long when the longest file the
// job may write under it is (a free name's number included); a name that
// cannot be looked at is not taken for free.
TEST(KivOutputs, RefusalsComeBeforeTheTransfer)
{
    const std::string longName(252, 'a'), longFree(244, 'b'), longLeaf(251, 'c');
    struct Row {
        std::string kiv;
        std::string existing;
        int status;
        std::string message;
    } rows[] = {
        {"receive -o missing/x.kcsv", "", 8, "missing: no such folder"},
        {"receive -o out", "out/a", 8, "out: is a folder"},
        {"pull -n sub/addr -d new", "", 64, "sub/addr: not a name for a file"},
        {"pull -n addr", "addr.kcsv", 8, "addr.kcsv: exists; give --force"},
        {"pull -n addr.kcsv", "addr.csv", 8, "addr.csv: exists; give --force"},
        {"pull -n addr", "addr-pictures/1-4.jpg", 8, "addr-pictures: exists; give --force"},
        {"to-csv missing.kcsv -d new", "", 7, "missing.kcsv: No such file"},
        {"pull -d new -n " + longName, "", 64, "new/" + longName + ": the name is too long"},
        {"pull -d new -n " + longFree, "", 64, "(\"NAME-999-pictures\"), at most 255"},
        {"receive -o " + longLeaf + ".kcsv", "", 64, longLeaf + ".kcsv: the name is too long"},
        {"receive -o loop/x.kcsv", "loop@loop", 8, "loop/x.kcsv: Too many levels of symbolic links"},
        {"receive -o x.kcsv -f", "x.kcsv@elsewhere", 8, "x.kcsv: is a symbolic link"},
        {"pull -n addr -f", "addr.csv@elsewhere", 8, "addr.csv: is a symbolic link"},
        {"pull -n addr -f", "elsewhere/1-4.jpg addr-pictures@elsewhere", 8,
         "addr-pictures: is a symbolic link"},
        {"to-csv addr.kcsv -f", "elsewhere/9-9.jpg addr-pictures@elsewhere", 8,
         "addr-pictures: is a symbolic link"},
        {"receive -o x.kcsv --trace elsewhere/t.jsonl", "elsewhere/t.jsonl", 8,
         "elsewhere/t.jsonl: exists; give --force"},
        {"receive -o x.kcsv --trace t.jsonl -f", "elsewhere/t.jsonl t.jsonl@elsewhere/t.jsonl", 8,
         "t.jsonl: is a symbolic link"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kiv);
        KivRun run;
        if (row.kiv.rfind("to-csv addr.kcsv", 0) == 0)
            MakeSample(run);
        WriteWhole(run.File("data"), Pattern(300, 1) + "\x1A");
        MakeFiles(run, row.existing);
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role send --data " + run.File("data")));
        bool link = row.kiv.rfind("to-csv", 0) != 0;
        EXPECT_EQ(row.status, run.Kiv(row.kiv + (link ? std::string(" --port LINE ") + kCable : "")));
        EXPECT_NE(std::string::npos, run.Err().find(row.message)) << run.Err();
        EXPECT_TRUE(run.Log("termios").empty()) << "the port was opened";
        EXPECT_FALSE(Exists(run.File("new")));
        // A link's target holds what it held.
        std::vector<std::string> there;
        for (const std::string& name : Words(row.existing))
            if (name.rfind("elsewhere/", 0) == 0)
                there.push_back(run.File(name));
        EXPECT_EQ(there, Matching(run, "elsewhere/*"));
        for (const std::string& path : there)
            EXPECT_EQ("old", ReadWhole(path));
        run.StopSim();
    }
}

// A pull whose name is taken writes the whole set under the first free name
// and says so; nothing that was there changes. The number follows the whole
// name, a dot in it included.
TEST(KivOutputs, APullNeverOverwritesAnotherTable)
{
    const std::string n = kName;
    struct Row {
        std::string table;   // its name, when not the sample's own
        std::string kiv;
        std::string existing;
        std::string base;
        std::vector<std::string> suffixes;
    } rows[] = {
        {"", "", n + ".kcsv", n + "-2", {kSuffixes, std::end(kSuffixes)}},
        {"", "", n + ".csv", n + "-2", {kSuffixes, std::end(kSuffixes)}},
        {"", "", n + "-pictures/2-4.png " + n + "-2.kcsv", n + "-3", {kSuffixes, std::end(kSuffixes)}},
        {"v1.2", "", "v1.2.schema", "v1.2-2", {kSuffixes, std::end(kSuffixes)}},
        {"v1.2", "--classic", "v1.2.kcsv.rec", "v1.2-2", {".kcsv", ".kcsv.rec", ".kcsv.table"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.existing);
        KivRun run;
        std::string table = MakeSample(run, row.table);
        MakeFiles(run, row.existing);
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role send --data " + run.File("addr.kcsv")));
        EXPECT_EQ(0, run.Kiv("pull " + row.kiv + " --port LINE " + kCable)) << run.Err();
        run.FinishSim();
        std::string name = row.table.empty() ? n : row.table;
        EXPECT_NE(std::string::npos,
                  run.Err().find(name + ".kcsv exists; the table is written as " + row.base))
            << run.Err();
        EXPECT_EQ(row.base + ".kcsv", Words(run.Out()).at(0));
        EXPECT_TRUE(table == ReadWhole(run.File(row.base + ".kcsv")));
        for (const std::string& suffix : row.suffixes)
            EXPECT_TRUE(Exists(run.File(row.base + suffix))) << suffix;
        for (const std::string& old : Words(row.existing))
            EXPECT_EQ("old", ReadWhole(run.File(old)));
    }
}

// A block that arrives and cannot be written where it was meant to go is
// kept whole beside it under a short name only its owner reads, or in TMPDIR
// when its folder has gone; exit 8.
TEST(KivOutputs, AWriteFailureKeepsTheReceivedBlock)
{
    const std::string n = kName, longDir(250, 'd'), rescue = "kiv-received-2[0-9]*-[0-9]*-[0-9]*.kcsv";
    struct Row {
        std::string kiv;
        std::string during;   // done while the transfer runs: "rm DIR" or "make FILE"
        std::string kept;     // a pattern
        mode_t mode;          // of the kept file, when it is a rescue copy
        std::string message;
    } rows[] = {
        {"pull -d out", "rm out", "tmp/" + rescue, 0600, "cannot write in out"},
        {"receive -o out/x.kcsv", "rm out", "tmp/" + rescue, 0600, "cannot write in out"},
        {"receive -o out/x.kcsv", "make out/x.kcsv", "out/" + rescue, 0600, "out/x.kcsv exists"},
        {"pull --classic -d " + longDir, "", longDir + "/" + n + ".kcsv", 0, "the path is too long"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kiv + " / " + row.during);
        KivRun run;
        std::string table = MakeSample(run);
        ASSERT_EQ(
            0,
            system(("mkdir " + run.File("out") + " " + run.File("tmp") + " " + run.File(longDir)).c_str()));
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role send --go " + run.File("go") + " --data " +
                                 run.File("addr.kcsv")));
        pid_t kiv = run.StartKiv(row.kiv + " --port LINE " + kCable, "", {"TMPDIR=" + run.File("tmp")});
        for (int i = 0; i < 2000 && run.Log("termios").empty(); i++)
            usleep(10000);
        std::vector<std::string> during = Words(row.during);
        if (!during.empty() && during[0] == "rm") {
            EXPECT_EQ(0, system(("rm -r " + run.File(during[1])).c_str()));
        }
        if (!during.empty() && during[0] == "make")
            WriteWhole(run.File(during[1]), "old");
        WriteWhole(run.File("go"), "");
        EXPECT_EQ(8, ExitStatus(kiv));
        run.FinishSim();
        EXPECT_NE(std::string::npos, run.Err().find(row.message)) << run.Err();
        std::vector<std::string> kept = Matching(run, row.kept);
        ASSERT_EQ(1u, kept.size()) << run.Err();
        std::string said = run.Err();
        EXPECT_NE(std::string::npos, said.find(kept[0].substr(run.dir.size() + 1), said.find("kept in ")))
            << said;
        EXPECT_TRUE(table == ReadWhole(kept[0]));
        EXPECT_NE(std::string::npos, run.Out().find(kept[0].substr(run.dir.size() + 1) + "\n")) << run.Out();
        struct stat st;
        EXPECT_TRUE(row.mode == 0 || (stat(kept[0].c_str(), &st) == 0 && (st.st_mode & 0777) == row.mode));
    }
}

// What came through the pipe after the filler, to its end.
std::string Drain(int fd, size_t filled)
{
    fcntl(fd, F_SETFL, 0);
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        all.append(buffer, (size_t)n);
    close(fd);
    return all.size() > filled ? all.substr(filled) : "";
}

// A signal once the transfer is over waits for the table: after the Kcsv
// file it ends the job with 128+N and the table kept; during the conversion
// after it, the same at once, the conversion's private folder gone; during
// the commit of the finished files it is taken after it, and the job
// succeeds. What was written is listed on stdout in every case.
TEST(KivOutputs, SignalsWaitUntilTheTableIsSaved)
{
    const std::string n = kName;
    struct Row {
        std::string stream;     // held full while kiv writes to it; none: the signal is raised
        std::string existing;   // the free-name notice goes to stderr
        std::string waitFor;    // the signal is sent once this is in place
        std::string kcsv;       // where the table is kept
        int signal;
        int status;
        std::string message;
        std::string absent;
    } rows[] = {
        {"kiv.err", n + ".kcsv", n + "-2.kcsv", n + "-2.kcsv", SIGTERM, 143,
         "cancelled; the table is kept in " + n + "-2.kcsv", n + "-2.csv"},
        {"kiv.out", "", n + "-pictures/3-4.gif", n + ".kcsv", SIGINT, 0, n + "-pictures/3-4.gif", ".kiv-"},
        {"", "", "", n + ".kcsv", SIGTERM, 143, "cancelled; the table is kept in " + n + ".kcsv", ".kiv-"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stream);
        KivRun run;
        std::string table = MakeSample(run);
        MakeFiles(run, row.existing);
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role send --data " + run.File("addr.kcsv")));
        // Without a stream the signal comes as kiv makes its second file
        // once the line is closed: the Kcsv file is the first, the
        // conversion's table CSV the second.
        std::vector<std::string> raise;
        if (row.stream.empty())
            raise = {"KIV_PTY_RAISE=" + std::to_string(row.signal), "KIV_PTY_RAISE_CREATE=2"};
        else
            unlink(run.File(row.stream).c_str());
        ASSERT_TRUE(row.stream.empty() || mkfifo(run.File(row.stream).c_str(), 0644) == 0);
        pid_t kiv = run.StartKiv(std::string("pull --port LINE ") + kCable, "", raise);
        std::string said;
        if (!row.stream.empty()) {
            int in = open(run.File(row.stream).c_str(), O_RDONLY | O_NONBLOCK);
            int out = open(run.File(row.stream).c_str(), O_WRONLY | O_NONBLOCK);
            size_t filled = 0;
            std::string filler(4096, 'x');
            for (ssize_t w; (w = write(out, filler.data(), filler.size())) > 0;)
                filled += (size_t)w;
            close(out);
            EXPECT_TRUE(WaitFor(run.File(row.waitFor)));
            kill(kiv, row.signal);
            said = Drain(in, filled);
        }
        EXPECT_EQ(row.status, ExitStatus(kiv));
        run.FinishSim();
        if (row.stream.empty())
            said = run.Err();
        EXPECT_NE(std::string::npos, said.find(row.message)) << said;
        if (row.stream != "kiv.out") {
            EXPECT_EQ(row.kcsv + "\n", run.Out());
        }
        EXPECT_TRUE(table == ReadWhole(run.File(row.kcsv)));
        EXPECT_EQ(0, system(("! ls -a " + run.dir + " | grep -q '^" + row.absent + "'").c_str()));
    }
}

// Before the commit a signal ends the job at once, also while the input
// stalls: the private folder goes with its files and nothing is written.
TEST(KivOutputs, ASignalBeforeTheCommitEndsTheJob)
{
    struct Row {
        int signal;
        int status;
    } rows[] = {{SIGTERM, 143}, {SIGINT, 130}, {SIGHUP, 129}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.signal);
        KivRun run;
        std::string table = MakeSample(run, "", 400);   // more than the reader takes at once
        ASSERT_GT(table.size(), 128u * 1024);
        ASSERT_EQ(0, mkfifo(run.File("in.kcsv").c_str(), 0644));
        pid_t kiv = run.StartKiv("to-csv in.kcsv");
        int in = open(run.File("in.kcsv").c_str(), O_WRONLY);
        ASSERT_GE(in, 0);
        size_t part = table.size() - 16;
        EXPECT_EQ((ssize_t)part, write(in, table.data(), part));
        for (int i = 0; i < 2000 && Matching(run, ".kiv-stage-*").empty(); i++)
            usleep(10000);
        EXPECT_EQ(1u, Matching(run, ".kiv-stage-*").size());
        kill(kiv, row.signal);
        // The input is ended only once kiv has said it is cancelled (or after
        // long enough for a kiv that ignores the signal to show it).
        for (int i = 0; i < 2000 && run.Err().find("cancelled") == std::string::npos; i++)
            usleep(10000);
        close(in);
        EXPECT_EQ(row.status, ExitStatus(kiv));
        EXPECT_NE(std::string::npos, run.Err().find("cancelled")) << run.Err();
        EXPECT_TRUE(Matching(run, ".kiv-stage-*").empty());
        EXPECT_TRUE(Matching(run, "in*").size() == 1 && !Exists(run.File("in-pictures")));
    }
}

// A folder swapped for a symbolic link while the job runs does not take a
// write: the job goes on in the folder it opened, or refuses when its own
// private folder was swapped, and the link's target, though it holds a
// folder of the private folder's name, gets nothing.
TEST(KivOutputs, AFolderSwappedMidJobTakesNoWrite)
{
    struct Row {
        std::string swapped;   // below the run's folder; STAGE is the private folder's name
        std::string target;    // what the link names, from where it is
        int status;
        std::string message;
        std::string csv;   // where the table CSV is, when written
    } rows[] = {
        {"out", "elsewhere", 0, "", "out.old/in.csv"},
        {"out/STAGE", "../elsewhere/STAGE", 8, "the private folder was replaced", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.swapped);
        KivRun run;
        std::string table = MakeSample(run, "", 400);   // more than the reader takes at once
        ASSERT_EQ(0, mkdir(run.File("out").c_str(), 0755));
        ASSERT_EQ(0, mkfifo(run.File("in.kcsv").c_str(), 0644));
        pid_t kiv = run.StartKiv("to-csv in.kcsv -d out");
        int in = open(run.File("in.kcsv").c_str(), O_WRONLY);
        ASSERT_GE(in, 0);
        size_t part = table.size() / 2;
        EXPECT_EQ((ssize_t)part, write(in, table.data(), part));
        for (int i = 0; i < 2000 && Matching(run, "out/.kiv-stage-*").empty(); i++)
            usleep(10000);
        std::vector<std::string> stages = Matching(run, "out/.kiv-stage-*");
        ASSERT_EQ(1u, stages.size());
        std::string stage = stages[0].substr(stages[0].rfind('/') + 1);
        auto named = [&stage](std::string path) {
            size_t at = path.find("STAGE");
            return at == std::string::npos ? path : path.replace(at, 5, stage);
        };
        std::string swapped = named(row.swapped), target = named(row.target);
        ASSERT_EQ(0, mkdir(run.File("elsewhere").c_str(), 0755));
        ASSERT_EQ(0, mkdir(run.File("elsewhere/" + stage).c_str(), 0755));
        ASSERT_EQ(0, rename(run.File(swapped).c_str(), run.File(swapped + ".old").c_str()));
        ASSERT_EQ(0, symlink(target.c_str(), run.File(swapped).c_str()));
        EXPECT_EQ((ssize_t)(table.size() - part), write(in, table.data() + part, table.size() - part));
        close(in);
        EXPECT_EQ(row.status, ExitStatus(kiv)) << run.Err();
        EXPECT_NE(std::string::npos, run.Err().find(row.message)) << run.Err();
        EXPECT_TRUE(Matching(run, "elsewhere/*").empty());
        EXPECT_TRUE(Matching(run, "elsewhere/" + stage + "/*").empty());
        EXPECT_TRUE(
            Matching(run, "out*/in.csv") ==
            (row.csv.empty() ? std::vector<std::string>() : std::vector<std::string>{run.File(row.csv)}));
    }
}

// kiv converting table from the FIFO live.kcsv in the run's folder, in a
// PID namespace of its own where the machine allows one, else in this one;
// all but the table's last bytes are written to *in, so it holds its
// private folder (*stage) until the rest comes.
pid_t StartLiveKiv(const KivRun& run, const std::string& table, int* in, std::string* stage)
{
    std::vector<std::string> args = {KIV_PATH, "to-csv", "live.kcsv"};
    if (system("unshare -p -f --mount-proc true >/dev/null 2>&1") == 0)
        args.insert(args.begin(), {"/usr/bin/unshare", "-p", "-f", "--mount-proc"});
    else
        std::cout << "[  SKIPPED ] a kiv in another PID namespace: not allowed here; one in this namespace\n";
    EXPECT_EQ(0, mkfifo(run.File("live.kcsv").c_str(), 0644));
    pid_t kiv = Spawn(args, {"XDG_DATA_HOME=" + run.File("data")}, run.File("live.err"), run.dir,
                      run.File("live.out"));
    *in = open(run.File("live.kcsv").c_str(), O_WRONLY);
    EXPECT_EQ((ssize_t)table.size() - 16, write(*in, table.data(), table.size() - 16));
    for (int i = 0; i < 2000 && Matching(run, ".kiv-stage-*").empty(); i++)
        usleep(10000);
    std::vector<std::string> stages = Matching(run, ".kiv-stage-*");
    EXPECT_EQ(1u, stages.size());
    *stage = stages.empty() ? run.File("none") : stages[0];
    return kiv;
}

// --force replaces a table's whole set: the files its record says kiv wrote
// and the new table does not write go in the same commit; a file or folder
// kiv did not write stays, whatever its name, and so does anything a record
// names outside the set. A private folder left by a crash goes when its lock
// can be taken; a live job's (its lock held, wherever it runs), a link and a
// folder that looks alike stay.
TEST(KivOutputs, ForceLeavesNoStaleFiles)
{
    const std::string stale = "addr-pictures/4-4.jpg addr-pictures/10-4.png",
                      others =
                          "addr-pictures/notes.txt other-pictures/4-4.jpg addr-pictures/20240701-101500.jpg "
                          "addr-pictures/7-7.png/x addr.csv.bak",
                      record = "addr-pictures/4-4.jpg\naddr-pictures/10-4.png\naddr-pictures/7-7.png\n"
                               "addr/../other-pictures/4-4.jpg\n";
    const std::string classicStale = "addr.kcsv.3.jpg addr.kcsv.10.png",
                      classicOthers = "addr.kcsv.notes other.kcsv.3.jpg addr.kcsv.4.jpg",
                      classicRecord = "addr.kcsv.3.jpg\naddr.kcsv.10.png\n";
    const std::string stages = ".kiv-stage-abcdef/0 .kiv-stage-held00/0 .kiv-3999999-backup/0 elsewhere/0 "
                               ".kiv-stage-linked@elsewhere";
    struct Row {
        std::string kiv;
        std::string existing;
        std::string record;   // the older set's record of what it wrote
        std::string gone;
        std::string kept;
        std::string written;   // and named in the new record
        std::string locked;    // a folder whose lock another job holds; LIVE: a running kiv's
    } rows[] = {
        {"to-csv addr.kcsv --force", stale + " " + others, record, stale, others, "addr-pictures/3-4.gif",
         ""},
        {"pull -n addr --force", stale + " " + others, record, stale, others, "addr-pictures/3-4.gif", ""},
        {"to-csv addr.kcsv --classic --force", classicStale + " " + classicOthers, classicRecord,
         classicStale, classicOthers, "addr.kcsv.2.gif", ""},
        {"to-csv addr.kcsv", stages, "", ".kiv-stage-abcdef",
         ".kiv-stage-held00/0 .kiv-3999999-backup/0 elsewhere/0 .kiv-stage-linked", "addr-pictures/3-4.gif",
         ".kiv-stage-held00"},
        {"to-csv addr.kcsv", "", "", "", "", "addr-pictures/3-4.gif", "LIVE"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kiv);
        KivRun run;
        bool live = row.locked == "LIVE";
        std::string table = MakeSample(run, "", live ? 400 : 0);   // more than the reader takes at once
        MakeFiles(run, row.existing);
        std::string liveStage;
        int liveIn = -1;
        pid_t liveKiv = live ? StartLiveKiv(run, table, &liveIn, &liveStage) : -1;
        bool classic = row.kiv.find("--classic") != std::string::npos;
        std::string recordPath = run.File(classic ? "addr.kcsv.kiv-files" : "addr.kiv-files");
        if (!row.record.empty())
            WriteWhole(recordPath, row.record);
        int lock = row.locked.empty() || live ? -1 : open(run.File(row.locked).c_str(), O_RDONLY | O_CLOEXEC);
        if (lock >= 0) {
            EXPECT_EQ(0, flock(lock, LOCK_EX));
        }
        bool pull = row.kiv.rfind("pull", 0) == 0;
        if (pull) {
            ASSERT_TRUE(
                run.StartSim(std::string(kSimCable) + " --role send --data " + run.File("addr.kcsv")));
        }
        EXPECT_EQ(0, run.Kiv(row.kiv + (pull ? std::string(" --port LINE ") + kCable : ""))) << run.Err();
        if (pull)
            run.FinishSim();
        for (const std::string& name : Words(row.gone))
            EXPECT_FALSE(Exists(run.File(name))) << name;
        for (const std::string& name : Words(row.kept))
            EXPECT_TRUE(Exists(run.File(name))) << name;
        EXPECT_TRUE(Exists(run.File(row.written)));
        EXPECT_NE(std::string::npos, ReadWhole(recordPath).find(row.written + "\n"));
        if (lock >= 0)
            close(lock);
        if (liveKiv >= 0) {
            // The live kiv kept its folder: it ends its job as if alone.
            EXPECT_TRUE(Exists(liveStage));
            EXPECT_EQ(16, write(liveIn, table.data() + table.size() - 16, 16));
            close(liveIn);
            EXPECT_EQ(0, ExitStatus(liveKiv)) << ReadWhole(run.File("live.err"));
            EXPECT_TRUE(Exists(run.File("live.csv")));
        }
    }
}

}
