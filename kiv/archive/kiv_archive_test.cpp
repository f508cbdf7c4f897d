// The archive of pulls through kiv's command line, read back by the sqlite3
// shell: every table received is kept once per change, and an archive that
// cannot take it never costs the table.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

// The sample table as from-csv writes it, as addr.kcsv in the run's folder.
void MakeSample(KivRun& run)
{
    std::string src = run.File("src");
    if (system(("mkdir " + src + " && cp " KIV_SAMPLES "/* " + src).c_str()) != 0 ||
        run.Kiv("from-csv --classic addr.table addr.txt -o ../addr.kcsv", "src") != 0)
        ADD_FAILURE() << run.Err();
}

// from with every text in pairs replaced, as the file to.
void Variant(const KivRun& run, const std::string& from, const std::string& to,
             const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::string text = ReadWhole(run.File(from));
    for (const auto& p : pairs)
        for (size_t at; (at = text.find(p.first)) != std::string::npos;)
            text.replace(at, p.first.size(), p.second);
    WriteWhole(run.File(to), text);
}

// The sample again with other stamps, and with one value changed (through
// the table CSV, as a person edits it).
void MakeVariants(KivRun& run)
{
    std::string kcsv = ReadWhole(run.File("addr.kcsv"));
    size_t h = kcsv.find("\"H\",\"04\",\"RVC2\",\"");
    ASSERT_NE(std::string::npos, h);
    Variant(run, "addr.kcsv", "restamped.kcsv", {{kcsv.substr(h + 17, 14), "20010203040506"}});
    ASSERT_EQ(0, run.Kiv("to-csv addr.kcsv -d edit")) << run.Err();
    Variant(run, "edit/addr.csv", "edit/addr.csv", {{"1234.5", "999"}});
    ASSERT_EQ(0, run.Kiv("from-csv edit/addr.csv -o changed.kcsv")) << run.Err();
}

// kivsim sends the file data once to kiv run with args; kiv's status.
int Pull(KivRun& run, const std::string& data, const std::string& args,
         const std::vector<std::string>& env = {})
{
    unlink(run.File("ready").c_str());
    unlink(run.File("stop").c_str());
    if (!run.StartSim(std::string(kSimCable) + " --role send --data " + run.File(data)))
        return -1;
    // A settings file gives the link on its own.
    std::string link = args.find("--settings") == std::string::npos ? kCable : "-q";
    int status = ExitStatus(run.StartKiv(args + " --port LINE " + link, "", env));
    run.FinishSim();
    return status;
}

// What the sqlite3 shell prints for the query.
std::string Sql(const KivRun& run, const std::string& archive, const std::string& query)
{
    WriteWhole(run.File("query.sql"), query);
    std::string out;
    FILE* p = popen(("sqlite3 '" + archive + "' < '" + run.File("query.sql") + "' 2>&1").c_str(), "r");
    char buf[4096];
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    if (p)
        pclose(p);
    return out;
}

// Each row runs its pulls in order; the archive then holds one line per
// pull (its id and the version it equals, 0 for none) and the first
// version's bytes and cells as they came.
TEST(KivArchive, KeepsEachTableOncePerChange)
{
    struct Row {
        const char* name;
        std::vector<std::string> sent;
        std::string args;
        std::vector<std::string> env;
        std::string archive;   // in the run's folder; "" for the default
        std::string pulls;     // "" when nothing may be archived
    } rows[] = {
        {"again, restamped, again, changed",
         {"addr.kcsv", "restamped.kcsv", "addr.kcsv", "changed.kcsv"},
         "pull -f",
         {},
         "",
         "1|0\n2|1\n3|1\n4|0\n"},
        {"--archive", {"addr.kcsv"}, "pull --archive @mine.sqlite", {}, "mine.sqlite", "1|0\n"},
        {"KIV_ARCHIVE", {"addr.kcsv"}, "pull", {"KIV_ARCHIVE=env.sqlite"}, "env.sqlite", "1|0\n"},
        {"--no-archive", {"addr.kcsv"}, "pull --no-archive", {}, "", ""},
        // The files are named by -n; the archive's picture cells by the table.
        {"a name of the user's", {"addr.kcsv"}, "pull -n mine", {}, "", "1|0\n"},
        {"the link kind from a settings file", {"addr.kcsv"}, "pull --settings @cable.ini", {}, "", "1|0\n"},
        {"receive", {"addr.kcsv", "addr.kcsv"}, "receive -f -o @got.kcsv", {}, "", "1|0\n2|1\n"},
        {"receive of no table", {"block"}, "receive -o @got.kcsv", {}, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        MakeSample(run);
        MakeVariants(run);
        WriteWhole(run.File("block"), Pattern(300, 7) + "\x1A");
        WriteWhole(run.File("cable.ini"), "[ComPort]\nIRMode=15\nSpeed=115200\nXFlow=OFF\n");
        for (const std::string& sent : row.sent)
            EXPECT_EQ(0, Pull(run, sent, row.args, row.env)) << run.Err();
        EXPECT_EQ("", run.Err());
        std::string archive = row.archive.empty() ? run.Archive() : run.File(row.archive);
        ASSERT_EQ(!row.pulls.empty(), Exists(archive));
        EXPECT_EQ(row.archive.empty() && !row.pulls.empty(), Exists(run.Archive()));
        if (row.pulls.empty())
            continue;
        EXPECT_EQ(row.pulls, Sql(run, archive, "SELECT id, coalesce(same_as, 0) FROM pulls ORDER BY id;"));
        EXPECT_EQ("1|cable|住所録|3\n",
                  Sql(run, archive, "SELECT id, link, name, records FROM pulls WHERE id = 1;"));
        EXPECT_EQ(0, run.Kiv("export 1 --kcsv -o @v1.kcsv --archive " + archive)) << run.Err();
        EXPECT_TRUE(ReadWhole(run.File("v1.kcsv")) == ReadWhole(run.File(row.sent[0])));
        EXPECT_EQ("鈴木 \"花子\"|-0.25|住所録-pictures/2-4.png\n",
                  Sql(run, archive, "SELECT 氏名, 金額, 写真 FROM 住所録 WHERE version = 1 AND record = 2;"));
    }
}

// Titles made into the view's column names: a title met again gets a
// number, an empty one its place, an apostrophe and a quote stay. Table
// names made into views: SQLite takes names that differ in ASCII case for
// one, so the table that came later gets a number, and one of the
// archive's own names gets " (table)"; no table loses its view.
TEST(KivArchive, TheViewsNameEachTableAndFieldOnce)
{
    KivRun run;
    MakeSample(run);
    // 金額 becomes 氏名, 誕生日 empty, 写真 a"b'c (in code page 932).
    Variant(run, "addr.kcsv", "retitled.kcsv",
            {{"\"\x8B\xE0\x8A\x7A\"", "\"\x8E\x81\x96\xBC\""},
             {",\"\x92\x61\x90\xB6\x93\xFA\"", ","},
             {"\"\x8E\xCA\x90\x5E\"", "\"a\"\"b'c\""}});
    EXPECT_EQ(0, Pull(run, "retitled.kcsv", "receive -o @got.kcsv")) << run.Err();
    EXPECT_EQ("version|record|氏名|氏名 (2)|field 3|a\"b'c\n1|2|鈴木 "
              "\"花子\"|-0.25|2001-01-05|住所録-pictures/2-4.png\n",
              Sql(run, run.Archive(), ".headers on\nSELECT * FROM 住所録 WHERE record = 2;"));
    ASSERT_EQ(0, run.Kiv("to-csv addr.kcsv -d edit")) << run.Err();
    std::string files;
    for (const char* name : {"Addr", "ADDR", "pulls", "Addr"}) {
        Variant(run, "edit/addr.schema", "edit/named.schema",
                {{"table 住所録", std::string("table ") + name}});
        Variant(run, "edit/addr.csv", "edit/named.csv", {{"1234.5", std::to_string(files.size())}});
        ASSERT_EQ(0, run.Kiv("from-csv -f edit/named.csv -o @" + std::string(name) +
                             std::to_string(files.size()) + ".kcsv"))
            << run.Err();
        files += " @" + std::string(name) + std::to_string(files.size()) + ".kcsv";
    }
    ASSERT_EQ(0, run.Kiv("archive add" + files)) << run.Err();
    EXPECT_EQ("ADDR (2)|1\nAddr|2\npulls (table)|1\n住所録|1\n",
              Sql(run, run.Archive(),
                  "SELECT '住所録', count(DISTINCT version) FROM 住所録 UNION ALL SELECT 'Addr', "
                  "count(DISTINCT version) FROM Addr UNION ALL SELECT 'ADDR (2)', count(DISTINCT version) "
                  "FROM \"ADDR (2)\" UNION ALL SELECT 'pulls (table)', count(DISTINCT version) FROM "
                  "\"pulls (table)\" ORDER BY 1;"));
}

// An archive that is locked, no database or cannot be made: the pull still
// writes and lists its files, warns once and fails with 8.
TEST(KivArchive, AnArchiveThatFailsNeverCostsThePull)
{
    struct Row {
        const char* name;
        std::string archive;
        std::string reason;
    } rows[] = {
        {"locked", "locked.sqlite", "database is locked"},
        {"damaged", "damaged.sqlite", "file is not a database"},
        {"its folder a file", "file/a.sqlite", "unable to open database file: Not a directory"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        MakeSample(run);
        WriteWhole(run.File("damaged.sqlite"), Pattern(5000, 3));
        WriteWhole(run.File("file"), "");
        sqlite3* holder = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open(run.File("locked.sqlite").c_str(), &holder));
        ASSERT_EQ(SQLITE_OK,
                  sqlite3_exec(holder, "PRAGMA journal_mode=WAL; BEGIN EXCLUSIVE; CREATE TABLE t(x);",
                               nullptr, nullptr, nullptr));
        EXPECT_EQ(8, Pull(run, "addr.kcsv", "pull --archive @" + row.archive));
        sqlite3_close(holder);
        EXPECT_TRUE(ReadWhole(run.File("addr.kcsv")) == ReadWhole(run.File("住所録.kcsv")));
        std::vector<std::string> listed = Words(run.Out());
        EXPECT_TRUE(listed.size() == 6 && listed[0] == "住所録.kcsv") << run.Out();
        // The archive comes before the CSV set, whose schema then names no base.
        EXPECT_EQ("kiv: the archive " + run.File(row.archive) + " could not be written: " + row.reason +
                      "; the table is in 住所録.kcsv; add it later with: kiv archive add --archive " +
                      run.File(row.archive) +
                      " 住所録.kcsv; the table CSV names no base, so push cannot check the handheld's "
                      "changes since\n",
                  run.Err());
        EXPECT_EQ(std::string::npos, ReadWhole(run.File("住所録.schema")).find("\nbase "));
    }
}

// The sample pulled, pulled again unchanged, then changed: versions 1, 2
// (equal to 1) and 3 in the default archive.
void PullThree(KivRun& run)
{
    MakeSample(run);
    MakeVariants(run);
    for (const char* sent : {"addr.kcsv", "addr.kcsv", "changed.kcsv"})
        EXPECT_EQ(0, Pull(run, sent, "pull -f")) << run.Err();
}

// Each line of out with its second word (the time) checked and cut out.
std::string WithoutTimes(const std::string& out)
{
    std::string lines;
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
        std::vector<std::string> words = Words(out.substr(at, end - at));
        EXPECT_TRUE(words.size() > 2 && words[1].size() == 20 && words[1][10] == 'T' && words[1][19] == 'Z')
            << out;
        for (size_t w = 0; w < words.size(); w++)
            lines += w == 1 ? "" : (w ? " " : "") + words[w];
        lines += "\n";
    }
    return lines;
}

TEST(KivArchive, HistoryListsEveryPull)
{
    KivRun run;
    PullThree(run);
    WriteWhole(run.File("damaged.sqlite"), Pattern(5000, 3));
    std::string a = std::to_string(ReadWhole(run.File("addr.kcsv")).size());
    std::string c = std::to_string(ReadWhole(run.File("changed.kcsv")).size());
    std::string all = "1 住所録 3 records " + a + " bytes\n2 住所録 3 records " + a +
                      " bytes = 1 (pulled again, unchanged)\n3 住所録 3 records " + c + " bytes\n";
    // A table whose name would recolour the terminal.
    Variant(run, "edit/addr.schema", "edit/named.schema", {{"table 住所録", "table \x1B[31mx\x07"}});
    Variant(run, "edit/addr.csv", "edit/named.csv", {});
    ASSERT_EQ(0, run.Kiv("from-csv edit/named.csv -o named.kcsv")) << run.Err();
    std::string n = std::to_string(ReadWhole(run.File("named.kcsv")).size());
    struct Row {
        std::string args;
        int status;
        std::string out, err;
        std::string pull = "";   // a table pulled before the row runs
    } rows[] = {
        {"history", 0, all, ""},
        {"history 住所録", 0, all, ""},
        {"history other", 7, "", "kiv: no table other in " + run.Archive() + " (tables: 住所録)\n"},
        {"history --archive @none.sqlite", 0, "", "kiv: no pulls yet: " + run.File("none.sqlite")},
        {"history --archive @damaged.sqlite", 7, "",
         "kiv: " + run.File("damaged.sqlite") + ": not an archive of kiv: file is not a database"},
        {"history", 0, all + "4 \uFFFD[31mx\uFFFD 3 records " + n + " bytes\n", "", "named.kcsv"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        if (!row.pull.empty()) {
            EXPECT_EQ(0, Pull(run, row.pull, "pull -f")) << run.Err();
        }
        EXPECT_EQ(row.status, run.Kiv(row.args));
        EXPECT_EQ(row.out, WithoutTimes(run.Out()));
        EXPECT_EQ(row.err, run.Err().substr(0, row.err.size()));
        // Closed as SQLite cleans up after its last connection: no log and
        // no shared-memory file stay beside the archive, after a read too.
        EXPECT_FALSE(Exists(run.Archive() + "-wal") || Exists(run.Archive() + "-shm"));
    }
    // Read, never written: a file that is no archive keeps its bytes.
    EXPECT_TRUE(Pattern(5000, 3) == ReadWhole(run.File("damaged.sqlite")));
}

// Rows in order, on one archive: Kcsv files stored as versions at their
// files' times from the port "file", with a pull's rule for a duplicate.
TEST(KivArchive, AddStoresKcsvFilesAsVersions)
{
    KivRun run;
    MakeSample(run);
    MakeVariants(run);
    std::string sample = ReadWhole(run.File("addr.kcsv"));
    WriteWhole(run.File("cut.kcsv"), sample.substr(0, sample.size() / 2));
    struct timeval stamp[2] = {{981173106, 0}, {981173106, 0}};
    for (const char* file : {"addr.kcsv", "restamped.kcsv", "changed.kcsv"})
        ASSERT_EQ(0, utimes(run.File(file).c_str(), stamp));
    std::string at = "  2001-02-03T04:05:06Z  住所録  3 records  ", a = std::to_string(sample.size());
    std::string same = at + a + " bytes  = 1 (pulled again, unchanged)\n", first = "1" + at + a + " bytes\n",
                changed = "4" + at + std::to_string(ReadWhole(run.File("changed.kcsv")).size()) + " bytes\n";
    const struct Row {
        std::string args;
        int status;
        std::string out, err;
    } rows[] = {
        {"archive add @addr.kcsv", 0, first, ""},
        {"archive add @addr.kcsv @restamped.kcsv", 0, "2" + same + "3" + same, ""},
        // A damaged file is refused; the files after it still go in.
        {"archive add @cut.kcsv @changed.kcsv", 6, changed,
         "kiv: " + run.File("cut.kcsv") + ": not a table that can be archived: "},
        {"history", 0, first + "2" + same + "3" + same + changed, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        EXPECT_EQ(row.status, run.Kiv(row.args + " --archive @a.sqlite")) << run.Err();
        EXPECT_EQ(row.out, run.Out());
        EXPECT_EQ(row.err, run.Err().substr(0, row.err.size())) << run.Err();
    }
    EXPECT_EQ("file\n", Sql(run, run.File("a.sqlite"), "SELECT group_concat(DISTINCT port) FROM pulls;"));
    EXPECT_EQ(0, run.Kiv("export 4 --kcsv -o @v4.kcsv --archive @a.sqlite")) << run.Err();
    EXPECT_TRUE(ReadWhole(run.File("v4.kcsv")) == ReadWhole(run.File("changed.kcsv")));
}

// Rows in order, on one archive: each writes file, which then holds what
// the reference file holds (or, for a page, the text).
TEST(KivArchive, ExportWritesAVersionAsEachCommandDoes)
{
    KivRun run;
    PullThree(run);
    mkdir(run.File("ref").c_str(), 0755);
    WriteWhole(run.File("ref/住所録.kcsv"), ReadWhole(run.File("changed.kcsv")));
    // As to-csv writes a table the archive does not hold: export names no base yet.
    ASSERT_EQ(0, run.Kiv("to-csv ref/住所録.kcsv -d ref --archive @none.sqlite")) << run.Err();
    // The same pictures where kiv did not write them, and where it did but
    // one was changed since.
    ASSERT_EQ(0, system(("mkdir " + run.File("theirs") + " && cp -r " + run.File("ref/住所録-pictures") +
                         " " + run.File("theirs") + " && cp -r " + run.File("ref") + " " + run.File("edited"))
                            .c_str()));
    WriteWhole(run.File("edit.png"), "not the picture");
    WriteWhole(run.File("edited/住所録-pictures/2-4.png"), ReadWhole(run.File("edit.png")));
    struct Row {
        std::string args;
        int status;
        std::string file, want, err;
        std::string out = "";   // when given, a path listed as it must be
    } rows[] = {
        {"export 3 -d out", 0, "out/住所録.csv", "ref/住所録.csv", ""},
        {"export 3 -d out", 8, "out/住所録.csv", "ref/住所録.csv", "out/住所録.csv exists"},
        {"export 3 -d out -f", 0, "out/住所録-pictures/2-4.png", "ref/住所録-pictures/2-4.png", ""},
        // The page of the same version shares the pictures the CSV export wrote.
        {"export 3 --html -d out", 0, "out/住所録.html",
         "<img src=\"./%E4%BD%8F%E6%89%80%E9%8C%B2-pictures/2-4.png\"", "", "out/住所録-pictures/2-4.png"},
        {"export 3 --html -d theirs", 8, "", "", "theirs/住所録-pictures/1-4.jpg exists"},
        {"export 3 --html -d edited", 8, "edited/住所録-pictures/2-4.png", "edit.png",
         "edited/住所録-pictures/2-4.png exists"},
        {"export 2 --kcsv -o v2.kcsv", 0, "v2.kcsv", "addr.kcsv", ""},
        {"export 1 --html -d page", 0, "page/住所録.html",
         "<td class=\"s\" data-label=\"氏名\">山田 太郎</td>", ""},
        {"export 9 --kcsv", 7, "", "", "no version 9 in the archive"},
        {"export 1 -o x.csv", 64, "", "", "-o names the file of --kcsv or --html"},
        {"export 1 --html -d page -o p.html", 0, "page/p.html",
         "<td class=\"s\" data-label=\"氏名\">山田 太郎</td>", "", "page/p.html"},
        {"export 2 --kcsv -f", 0, "住所録.kcsv", "addr.kcsv", "", "住所録.kcsv"},
        {"export 2 --kcsv -d new/k", 0, "new/k/住所録.kcsv", "addr.kcsv", "", "new/k/住所録.kcsv"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        EXPECT_EQ(row.status, run.Kiv(row.args));
        EXPECT_EQ("kiv: " + row.err, row.err.empty() ? "kiv: " : run.Err().substr(0, row.err.size() + 5));
        EXPECT_TRUE(row.out.empty() || ("\n" + run.Out()).find("\n" + row.out + "\n") != std::string::npos)
            << run.Out();
        std::string got = row.file.empty() ? "" : ReadWhole(run.File(row.file));
        bool page = row.want.rfind("<", 0) == 0;
        EXPECT_TRUE(page ? got.find(row.want) != std::string::npos
                         : row.want.empty() || ReadWhole(run.File(row.want)) == got);
    }
    // Its schema is to-csv's but for the base it names: the version exported.
    std::string schema = ReadWhole(run.File("out/住所録.schema")),
                ref = ReadWhole(run.File("ref/住所録.schema"));
    size_t base = schema.find("\nbase 3 ");
    ASSERT_NE(std::string::npos, base);
    EXPECT_EQ(ref, schema.erase(base + 1, schema.find('\n', base + 1) - base));
}

// kivsim takes exactly the bytes the archive holds for the version.
TEST(KivArchive, PushSendsAnArchivedVersionAsReceived)
{
    KivRun run;
    PullThree(run);
    struct Row {
        std::string args;
        int status;
        std::string sent, err;   // the file kivsim must have got
    } rows[] = {
        {"push --from-archive 2", 0, "addr.kcsv", ""},
        {"push --archive " + run.Archive() + " 3", 0, "changed.kcsv", ""},
        {"push addr.csv", 7, "", "kiv: addr.schema"},   // KIV_ARCHIVE names no version; -p wins over KIV_PORT
        {"push --archive " + run.Archive() + " addr.csv", 64, "",
         "kiv: with --archive, push takes a version ID (kiv history lists them), not addr.csv"},
        {"push --from-archive 4", 7, "", "kiv: no version 4 in the archive"},
        {"push --from-archive 1 --archive @none.sqlite", 7, "",
         "kiv: " + run.File("none.sqlite") + ": no archive"},
        {"push", 64, "", "kiv: give NAME.csv, --classic LAYOUT CSV, or --from-archive ID"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        unlink(run.File("ready").c_str());
        unlink(run.File("stop").c_str());
        unlink(run.File("rec.bin").c_str());
        // kivsim ends once the version's bytes have come, or at the stop file
        // once kiv has gone without sending.
        std::string count = row.sent.empty()
                                ? ""
                                : " --count " + std::to_string(ReadWhole(run.File(row.sent)).size());
        ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role receive" + count));
        EXPECT_EQ(row.status,
                  ExitStatus(run.StartKiv(row.args + " --port LINE " + kCable, "",
                                          {"KIV_ARCHIVE=" + run.Archive(), "KIV_PORT=/dev/not-this"})));
        if (row.sent.empty())
            run.StopSim();
        else
            run.FinishSim();
        EXPECT_EQ(row.err, run.Err().substr(0, row.err.size()));
        EXPECT_TRUE((row.sent.empty() ? "" : ReadWhole(run.File(row.sent))) ==
                    ReadWhole(run.File("rec.bin")));
    }
}

// The sample with a sync ID in each record ("D"," ",ID,...), and again with
// the first record's name changed (太 to 次 in code page 932).
void MakeSynced(KivRun& run)
{
    std::string text = ReadWhole(run.File("addr.kcsv"));
    int n = 0;
    for (size_t at; (at = text.find("\"D\",\" \",,")) != std::string::npos;)
        text.replace(at, 9, "\"D\",\" \",\"S" + std::to_string(++n) + "\",");
    WriteWhole(run.File("synced.kcsv"), text);
    Variant(run, "synced.kcsv", "renamed.kcsv", {{"\x91\xBE", "\x8E\x9F"}});
}

// On versions 1 (2 equals it), 3 changed, 4 with a record removed and one
// added, 5 with sync IDs and 6 its first record renamed: the body after the
// two lines naming the versions compared.
TEST(KivArchive, DiffShowsRecordsAddedRemovedAndChanged)
{
    KivRun run;
    PullThree(run);
    Variant(run, "edit/addr.csv", "edit/addr.csv",
            {{"\"鈴木 \"\"花子\"\"\",-0.25,2001-01-05,addr-pictures/2-4.png\r\n", ""}});
    WriteWhole(run.File("edit/addr.csv"),
               ReadWhole(run.File("edit/addr.csv")) + "佐藤 一郎,5,2020-01-01,\r\n");
    ASSERT_EQ(0, run.Kiv("from-csv edit/addr.csv -o grown.kcsv")) << run.Err();
    MakeSynced(run);
    for (const char* sent : {"grown.kcsv", "synced.kcsv", "renamed.kcsv"})
        EXPECT_EQ(0, Pull(run, sent, "pull -f")) << run.Err();
    // A name that would retitle the terminal and recolour it.
    Variant(run, "edit/addr.schema", "edit/esc.schema", {});
    Variant(run, "edit/addr.csv", "edit/esc.csv", {{"山田 太郎", "\x1B]0;x\x07\x1B[31m"}});
    ASSERT_EQ(0, run.Kiv("from-csv edit/esc.csv -o esc.kcsv")) << run.Err();
    // The grown table with its first two records swapped.
    std::string csv = ReadWhole(run.File("edit/addr.csv"));
    size_t one = csv.find("\r\n") + 2, two = csv.find("\r\n", one) + 2, three = csv.find("\r\n", two) + 2;
    WriteWhole(run.File("edit/addr.csv"), csv.substr(0, one) + csv.substr(two, three - two) +
                                              csv.substr(one, two - one) + csv.substr(three));
    ASSERT_EQ(0, run.Kiv("from-csv -f edit/addr.csv -o swapped.kcsv")) << run.Err();
    // Two records of one sync ID, then the same two swapped: matched by ID,
    // each is the other changed.
    Variant(run, "synced.kcsv", "twice.kcsv", {{"\"S2\"", "\"S1\""}});
    std::string twice = ReadWhole(run.File("twice.kcsv"));
    size_t d1 = twice.find("\n\"D\"") + 1, d2 = twice.find('\n', d1) + 1, d3 = twice.find('\n', d2) + 1;
    WriteWhole(run.File("twice-swapped.kcsv"), twice.substr(0, d1) + twice.substr(d2, d3 - d2) +
                                                   twice.substr(d1, d2 - d1) + twice.substr(d3));
    // A long table (its lists read in pieces), then its last record moved to
    // the front and its 5000th changed, then that without the moved record:
    // each version's list the changes from the one before.
    const int kLong = 9000;
    std::string head = csv.substr(0, one), rest[3];
    for (int r = 1; r <= kLong; r++)
        rest[0] += "人 " + std::to_string(r) + "," + std::to_string(r) + ",2020-01-01,\r\n";
    size_t lastRow = rest[0].rfind("人 ");
    rest[1] = rest[0].substr(lastRow) + rest[0].substr(0, lastRow);
    const std::string was = "\n人 5000,5000,";
    rest[1].replace(rest[1].find(was), was.size(), "\n人 5000,7,");
    rest[2] = rest[1].substr(rest[1].find('\n') + 1);
    for (int k = 0; k < 3; k++) {
        WriteWhole(run.File("edit/addr.csv"), head + rest[k]);
        ASSERT_EQ(0, run.Kiv("from-csv -f edit/addr.csv -o long" + std::to_string(k) + ".kcsv")) << run.Err();
    }
    // The grown table with its second record's picture replaced by its first's.
    WriteWhole(run.File("edit/addr.csv"), csv);
    Variant(run, "edit/addr.csv", "edit/addr.csv", {{"addr-pictures/3-4.gif", "addr-pictures/1-4.jpg"}});
    ASSERT_EQ(0, run.Kiv("from-csv -f edit/addr.csv -o repictured.kcsv")) << run.Err();
    const std::string changed5000 = "~ 人 5000, 7\n    金額: 5000 \u2192 7\n";
    struct Row {
        std::string args;
        int status;
        std::string from, to, body;
        std::string pull = "";   // a table pulled before the row runs
        std::string add = "";    // files archive add stores before the row runs
    } rows[] = {
        {"diff", 1, "5", "6", "~ 山田 次郎, 1234.5\n    氏名: 山田 太郎 \u2192 山田 次郎\n"},
        {"diff 住所録 2", 1, "2", "6", "- 山田 太郎, 1234.5\n+ 山田 次郎, 1234.5\n"},
        {"diff 住所録 3 4", 1, "3", "4", "- 鈴木 \"花子\", -0.25\n+ 佐藤 一郎, 5\n"},
        {"diff 住所録 3 1", 1, "3", "1", "~ 山田 太郎, 1234.5\n    金額: 999 \u2192 1234.5\n"},
        {"diff 住所録 1 2", 0, "", "", ""},
        {"diff 5", 1, "5", "6", "~ 山田 次郎, 1234.5\n    氏名: 山田 太郎 \u2192 山田 次郎\n"},
        {"diff 3 4", 1, "3", "4", "- 鈴木 \"花子\", -0.25\n+ 佐藤 一郎, 5\n"},
        {"diff --name 住所録 3 1", 1, "3", "1", "~ 山田 太郎, 1234.5\n    金額: 999 \u2192 1234.5\n"},
        {"diff other", 7, "", "", "kiv: no table other in " + run.Archive() + " (tables: 住所録)\n"},
        {"diff 3 4 5", 64, "", "", ""},
        {"diff 住所録 1 9", 7, "", "", "kiv: no version 9 in the archive (kiv history lists them)\n"},
        {"diff 住所録 4 7", 1, "4", "7", "- 山田 太郎, 999\n+ \uFFFD]0;x\uFFFD\uFFFD[31m, 999\n", "esc.kcsv"},
        {"diff 4 8", 1, "4", "8", "the same records in another order\n", "swapped.kcsv"},
        {"diff 9 10", 1, "9", "10",
         "~ 鈴木 \"花子\", -0.25\n    氏名: 山田 太郎 \u2192 鈴木 \"花子\"\n    金額: 1234.5 \u2192 -0.25\n"
         "    誕生日: 1999-12-31 \u2192 2001-01-05\n    写真: 住所録-pictures/1-4.jpg \u2192 "
         "住所録-pictures/1-4.png\n"
         "~ 山田 太郎, 1234.5\n    氏名: 鈴木 \"花子\" \u2192 山田 太郎\n    金額: -0.25 \u2192 1234.5\n"
         "    誕生日: 2001-01-05 \u2192 1999-12-31\n    写真: 住所録-pictures/2-4.png \u2192 "
         "住所録-pictures/2-4.jpg\n",
         "", "@twice.kcsv @twice-swapped.kcsv"},
        {"diff 11 12", 1, "11", "12", changed5000, "", "@long0.kcsv @long1.kcsv @long2.kcsv"},
        {"diff 11 13", 1, "11", "13", "- 人 9000, 9000\n" + changed5000},
        {"diff 12 13", 1, "12", "13", "- 人 9000, 9000\n"},
        {"diff 13 11", 1, "13", "11", "~ 人 5000, 5000\n    金額: 7 \u2192 5000\n+ 人 9000, 9000\n"},
        // A picture's cell names it by its record's place in the version.
        {"diff 4 14", 1, "4", "14",
         "~ \u2460\u2160\u3000, 12345678901234567890\n"
         "    写真: 住所録-pictures/2-4.gif \u2192 住所録-pictures/2-4.jpg\n",
         "", "@repictured.kcsv"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        if (!row.pull.empty()) {
            EXPECT_EQ(0, Pull(run, row.pull, "pull -f")) << run.Err();
        }
        if (!row.add.empty()) {
            EXPECT_EQ(0, run.Kiv("archive add " + row.add)) << run.Err();
        }
        EXPECT_EQ(row.status, run.Kiv(row.args));
        std::string out = run.Out(), heads;
        size_t body = 0;
        for (int k = 0; k < 2 && row.status == 1; k++) {
            heads += out.substr(body, out.find(' ', body + 4) - body) + ";";
            body = out.find('\n', body) + 1;
        }
        EXPECT_EQ(row.status == 1 ? "--- " + row.from + ";+++ " + row.to + ";" : "", heads);
        EXPECT_EQ(row.body, row.status == 7 ? run.Err() : out.substr(body));
    }
}

}   // namespace

// An archive kiv 1.0.0 wrote (bytes and cells of each version whole) is
// upgraded on first use with every version's bytes and records the same;
// the format's number then keeps an older kiv from writing into it, and an
// archive of a newer kiv is refused, unchanged. Rows in order on one archive.
TEST(KivArchive, AnOlderArchiveIsUpgradedAndANewerOneRefused)
{
    KivRun run;
    std::string a = run.File("a.sqlite");
    ASSERT_EQ(0, system(("cp " KIV_ARCHIVE_FIXTURE " " + a).c_str()));
    const std::string cellsOf100 =
        "SELECT version, group_concat(value, '|') FROM (SELECT * FROM cells ORDER BY version, record, field) "
        "GROUP BY version, record ORDER BY 1, 2;";
    const std::string cells =
        "SELECT p.id, (SELECT group_concat(value, '|') FROM json_each(r.cells)) FROM pulls p JOIN spans s "
        "ON s.first <= p.id AND coalesce(s.last >= p.id, 1) JOIN pulls f ON f.id = s.first AND f.name = "
        "p.name "
        "JOIN records r ON r.id = s.record WHERE p.same_as IS NULL ORDER BY 1, 2;";
    std::string before = Sql(run, a, cellsOf100);
    std::string wrote = Sql(run, a,
                            "SELECT writefile('" + run.File("v") + "' || version, kcsv) FROM tables;");
    EXPECT_EQ("6575\n6575\n944\n1320\n6575\n", wrote);
    const std::string refused = "written by a newer kiv (archive format 3; this kiv reads 2 and older)";
    const struct Row {
        std::string sql;   // run first
        std::string args;
        int status;
        std::string err, pulls;
    } rows[] = {
        {"", "history", 0, "", "6"},
        {"", "archive add @v3", 0, "", "7"},
        // kiv 1.0.0's first statements: the view in the way stops it.
        {"CREATE TABLE IF NOT EXISTS tables (version INTEGER PRIMARY KEY, kcsv BLOB NOT NULL);", "history", 0,
         "", "7"},
        {"PRAGMA user_version = 3;", "history", 7, "kiv: " + a + ": " + refused, "7"},
        {"", "archive add @v3", 8, "kiv: the archive " + a + " could not be written: " + refused, "7"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sql + row.args);
        if (!row.sql.empty())
            Sql(run, a, row.sql);
        EXPECT_EQ(row.status, run.Kiv(row.args + " --archive @a.sqlite"));
        EXPECT_EQ(row.err, run.Err().substr(0, row.err.size())) << run.Err();
        EXPECT_EQ(row.pulls + "\n", Sql(run, a, "SELECT count(*) FROM pulls;"));
    }
    EXPECT_NE(std::string::npos, Sql(run, a, "INSERT INTO tables VALUES (8, 'x');")
                                     .find("no such table: main.archive written by a newer kiv"));
    Sql(run, a, "PRAGMA user_version = 2;");
    // Every pull's bytes as 1.0.0 kept them, and its records.
    for (int id = 1; id <= 7; id++) {
        SCOPED_TRACE(id);
        std::string stored = id == 2 ? "1" : id == 7 ? "3" : std::to_string(id);
        EXPECT_EQ(0, run.Kiv("export " + std::to_string(id) + " --kcsv -f -o @out.kcsv --archive @a.sqlite"))
            << run.Err();
        EXPECT_TRUE(ReadWhole(run.File("out.kcsv")) == ReadWhole(run.File("v" + stored)));
    }
    EXPECT_EQ(before, Sql(run, a, cells + "\n").substr(0, before.size()));
}
