// The conversion library as the kiv program calls it. The expected files in
// testdata/dll were written by kivconv.dll itself under Wine (kivhost.exe
// csv2kcsv, then kcsv2csv, run in the folder that held samples/ and
// testdata/marks.*, as scripts/main.sh does); the files in testdata/utf8 are
// those files and inputs passed through `iconv -f CP932 -t UTF-8`.
#include "kiv_convert.h"
#include "cp932_text.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "kcsv/kcsv_format.h"
#include "kcsv/kcsv_test_util.h"

using namespace kcsvtest;

namespace {

const std::string kData = KIV_CONVERT_TESTDATA;
const std::string kSamples = KIV_SAMPLES;

// Stamps as the DLL's "H" record shows them, so that a table written here
// carries the same bytes.
struct tm StampOf(const std::string& kcsv)
{
    struct tm t = {};
    size_t at = kcsv.find("\",\"RVC2\",\"") + 10;
    sscanf(kcsv.substr(at, 14).c_str(), "%4d%2d%2d%2d%2d%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
           &t.tm_min, &t.tm_sec);
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return t;
}

// Every file of dir, but for those named in skip.
// The names in dir but skip's and kiv's own record of a set (NAME.kiv-files),
// which is not one of the application's files.
std::vector<std::string> Names(const fs::path& dir, std::vector<std::string> skip = {})
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (std::find(skip.begin(), skip.end(), e.path().filename().string()) == skip.end() &&
            e.path().extension() != ".kiv-files")
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> DllOutputs(const std::string& table)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(kData + "/dll"))
        if (e.path().filename().string().rfind(table + ".csv.", 0) == 0)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct InFolder {   // the current directory, as the application's is the DLL's
    std::string old = fs::current_path().string();
    explicit InFolder(const TempDir& dir) { fs::current_path(dir.path); }
    ~InFolder() { fs::current_path(old); }
};

enum Job { FROM_CSV, PUSH, TO_CSV };

ConvertOptions Options(bool utf8, bool force = false)
{
    ConvertOptions o;
    o.utf8 = utf8;
    o.force = force;
    return o;
}

// A job as the program runs it: from-csv into kcsv, push, or to-csv of kcsv beside it.
int RunJob(Job job, const std::string& layout, const std::string& csv, const std::string& kcsv,
           const ConvertOptions& options, std::string* error)
{
    std::vector<uint8_t> block;
    if (job == TO_CSV)
        return KcsvFileToCsv(kcsv, "", options, error);
    int rc = job == PUSH ? CsvToKcsvBlock(layout, csv, options, &block, error)
                         : CsvToKcsvFile(layout, csv, kcsv, options, error);
    EXPECT_EQ(job == PUSH && rc == KIV_EXIT_OK, !block.empty());
    return rc;
}

bool EndsWith(const std::string& s, const std::string& end)
{
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

TEST(KivConvert, WritesTheFilesTheDllWrites)
{
    struct Row {
        const char* table;
        std::string layout, csv;   // the inputs the DLL converted
        Job job;
        bool utf8;
    } rows[] = {
        {"addr", kSamples + "/addr.table", kSamples + "/addr.txt", FROM_CSV, false},
        {"addr", kData + "/utf8/addr.table", kData + "/utf8/addr.txt", FROM_CSV, true},
        {"addr", kData + "/utf8/addr-loose.table", kData + "/utf8/addr.txt", FROM_CSV,
         true},   // blanks as typed
        {"marks", kData + "/marks.table", kData + "/marks.txt", FROM_CSV, false},
        {"marks", kData + "/utf8/marks.table", kData + "/utf8/marks.txt", PUSH, true},
        {"addr", "", "", TO_CSV, false},
        {"addr", "", "", TO_CSV, true},
        {"marks", "", "", TO_CSV, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.table) + (r.job == TO_CSV ? " to-csv" : " from-csv") +
                     (r.utf8 ? " utf8" : ""));
        TempDir dir;
        InFolder here(dir);   // the samples' pictures are named relative to it
        for (const char* photo : {"photo1.jpg", "photo2.png", "photo3.gif"})
            fs::copy_file(kSamples + "/" + photo, dir.path / photo);
        std::string dllKcsv = ReadWholeFile(kData + "/dll/" + r.table + ".csv");
        ASSERT_FALSE(dllKcsv.empty());
        ConvertOptions options = Options(r.utf8);
        std::string error, kcsv = std::string(r.table) + ".csv";
        if (r.job == TO_CSV) {
            ASSERT_TRUE(WriteWholeFile(kcsv, dllKcsv));
            ASSERT_EQ(KIV_EXIT_OK, KcsvFileToCsv(kcsv, "", options, &error)) << error;
            std::vector<std::string> expected = DllOutputs(r.table);
            expected.push_back(kcsv);
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(expected, Names(dir.path, {"photo1.jpg", "photo2.png", "photo3.gif"}));
            for (const std::string& name : DllOutputs(r.table)) {
                bool text = name.size() > 6 && (name.substr(name.size() - 6) == ".table" ||
                                                name.substr(name.size() - 4) == ".rec");
                std::string want = ReadWholeFile(kData + (r.utf8 && text ? "/utf8/" : "/dll/") + name);
                EXPECT_EQ(want, ReadWholeFile(name)) << name;
            }
            continue;
        }
        struct tm stamp = StampOf(dllKcsv);
        fixedStampTime = &stamp;
        if (r.job == PUSH) {
            std::vector<uint8_t> block;
            EXPECT_EQ(KIV_EXIT_OK, CsvToKcsvBlock(r.layout, r.csv, options, &block, &error)) << error;
            EXPECT_EQ(dllKcsv, std::string(block.begin(), block.end()));
            EXPECT_EQ(0x1A, block.empty() ? 0 : block.back());
        } else {
            EXPECT_EQ(KIV_EXIT_OK, CsvToKcsvFile(r.layout, r.csv, kcsv, options, &error)) << error;
            EXPECT_EQ(dllKcsv, ReadWholeFile(kcsv));
        }
        fixedStampTime = nullptr;
    }
}

// A one-field text table in code page 932: its layout and a CSV of the rows.
const std::string kLayout = "\x95\x5C" + std::string(31, ' ') + "\r\n\x95\xB6" + std::string(19, ' ') +
                            "0000\r\n";
// The same in UTF-8, widths still counted as in code page 932.
const std::string kUtf8Layout = "表" + std::string(31, ' ') + "\n文" + std::string(19, ' ') + "0000\n";

std::string Quoted(const std::vector<std::string>& rows)
{
    std::string csv;
    for (const std::string& row : rows)
        csv += "\"" + row + "\"\r\n";
    return csv;
}

// Utf8 text into a Kcsv file with --utf8, against its code page 932 form
// without; and back to UTF-8 in the record file.
TEST(KivConvert, ReadsAndWritesCodePage932AsWindowsDoes)
{
    struct Row {
        const char* utf8;
        const char* cp932;
        const char* back;   // what the record file shows again
    } rows[] = {
        {"C:\\data\\x", "C:\\data\\x", "C:\\data\\x"},   // not a yen sign
        {"a~b", "a~b", "a~b"},                           // not an overline
        {"～", "\x81\x60", "～"},
        {"〜", "\x81\x60", "～"},   // the wave dash a Linux keyboard types
        {"－∥￢", "\x81\x7C\x81\x61\x81\xCA", "－∥￢"},
        {"①Ⅰ㍉", "\x87\x40\x87\x54\x87\x5F", "①Ⅰ㍉"},
        {"ⅰ纊", "\xFA\x40\xFA\x5C", "ⅰ纊"},
        {"ｶﾀｶﾅ", "\xB6\xC0\xB6\xC5", "ｶﾀｶﾅ"},
    };
    struct tm stamp = {};
    stamp.tm_year = 126;
    fixedStampTime = &stamp;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.utf8);
        TempDir dir;
        ASSERT_TRUE(WriteWholeFile(dir.File("t.table"), kLayout));
        ASSERT_TRUE(WriteWholeFile(dir.File("t.txt"), Quoted({r.cp932})));
        ASSERT_TRUE(WriteWholeFile(dir.File("u.table"), kUtf8Layout));
        ASSERT_TRUE(WriteWholeFile(dir.File("u.txt"), "\xEF\xBB\xBF" + Quoted({r.utf8})));
        std::string error;
        ASSERT_EQ(KIV_EXIT_OK,
                  RunJob(FROM_CSV, dir.File("t.table"), dir.File("t.txt"), dir.File("t.kcsv"), {}, &error));
        ASSERT_EQ(KIV_EXIT_OK, RunJob(FROM_CSV, dir.File("u.table"), dir.File("u.txt"), dir.File("u.kcsv"),
                                      Options(true), &error))
            << error;
        EXPECT_EQ(ReadWholeFile(dir.File("t.kcsv")), ReadWholeFile(dir.File("u.kcsv")));
        ASSERT_EQ(KIV_EXIT_OK, KcsvFileToCsv(dir.File("u.kcsv"), "", Options(true), &error)) << error;
        EXPECT_EQ("," + std::string(r.back) + "\r\n", ReadWholeFile(dir.File("u.kcsv.rec")));
        EXPECT_EQ("表" + std::string(31, ' ') + "0001\r\n",
                  ReadWholeFile(dir.File("u.kcsv.table")).substr(0, 40));
    }
    fixedStampTime = nullptr;
}

// The record file goes to UTF-8 a piece of whole lines at a time: a table
// whose record file spans many pieces comes out as the whole file converted
// at once, and the files that keep their encoding come out as without --utf8.
TEST(KivConvert, ARecordFileOfManyPiecesGoesToUtf8AsAWhole)
{
    const struct {
        int records;
        size_t atLeast;   // the UTF-8 record file's size: one piece, or more than one
    } cases[] = {{1, 10}, {3000, 1 << 16}};
    for (const auto& c : cases) {
        const int records = c.records;
        SCOPED_TRACE(records);
        TempDir dir;
        std::vector<std::string> rows;
        for (int r = 0; r < records; r++)
            rows.push_back("\x95\xB6\x8E\x9A " + std::to_string(r) + std::string(r % 40, 'x') + "\x81\x60");
        ASSERT_TRUE(WriteWholeFile(dir.File("t.table"), kLayout));
        ASSERT_TRUE(WriteWholeFile(dir.File("t.txt"), Quoted(rows)));
        std::string error;
        ASSERT_EQ(KIV_EXIT_OK,
                  RunJob(FROM_CSV, dir.File("t.table"), dir.File("t.txt"), dir.File("t.kcsv"), {}, &error));
        ASSERT_EQ(0, system(("mkdir " + dir.File("a") + " " + dir.File("u")).c_str()));
        ASSERT_EQ(KIV_EXIT_OK, KcsvFileToCsv(dir.File("t.kcsv"), dir.File("a"), Options(false), &error))
            << error;
        ASSERT_EQ(KIV_EXIT_OK, KcsvFileToCsv(dir.File("t.kcsv"), dir.File("u"), Options(true), &error))
            << error;
        for (const char* suffix : {".rec", ".table", ".num", ".tab"}) {
            std::string cp932 = ReadWholeFile(dir.File((std::string("a/t.kcsv") + suffix).c_str())), utf8;
            bool byPeople = suffix == std::string(".rec") || suffix == std::string(".table");
            ASSERT_TRUE(!byPeople || Cp932ToUtf8(cp932, suffix, &utf8, &error)) << error;
            EXPECT_EQ(byPeople ? utf8 : cp932,
                      ReadWholeFile(dir.File((std::string("u/t.kcsv") + suffix).c_str())))
                << suffix;
        }
        EXPECT_LT(c.atLeast, ReadWholeFile(dir.File("u/t.kcsv.rec")).size());
    }
}

// A character that has no form on the other side stops the job before
// anything is written, naming the file, line and column.
TEST(KivConvert, EncodingErrorsNameTheirPlaceAndWriteNothing)
{
    struct Row {
        std::string layout;
        const char* csv;
        Job job;
        const char* file;
        const char* message;
    } rows[] = {
        {kUtf8Layout, "\"ab\"\n\"x😀\"\n", FROM_CSV, "in.txt",
         ": line 2, column 3: the character U+1F600 has no code page 932 form"},
        {kUtf8Layout, "\"é\"\n", PUSH, "in.txt",
         ": line 1, column 2: the character U+00E9 has no code page 932 form"},
        {"表" + std::string(31, ' ') + "\n文\xFF" + std::string(18, ' ') + "0000\n", "\"a\"\n", FROM_CSV,
         "in.table", ": line 2, column 2: bytes that are not UTF-8"},
        {std::string(17, 'A') + "あ" + std::string(14, 'B') + "\n", "\"a\"\n", FROM_CSV, "in.table",
         ": line 1: the table name is longer than 32 bytes in code page 932"},
        {"表\n\n名前 0000\n年月  030\n", "\"a\"\n", PUSH, "in.table",
         ": line 4: a field line ends in four digits, its kind and sub-kind"},
        {"表\n名前が長すぎる項目名です 0000\n", "\"a\"\n", FROM_CSV, "in.table",
         ": line 2: the title is longer than 20 bytes in code page 932"},
        {kLayout, "\"ok\"\n\"\xA0\"\n", TO_CSV, "in.kcsv.rec",
         ": line 2, column 2: the byte 0xA0 is no code page 932 character"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.message);
        TempDir dir;
        ASSERT_TRUE(WriteWholeFile(dir.File("in.table"), r.layout));
        ASSERT_TRUE(WriteWholeFile(dir.File("in.txt"), r.csv));
        std::string error;
        if (r.job == TO_CSV) {   // the table is built from code page 932 and read back in UTF-8
            ASSERT_EQ(KIV_EXIT_OK, RunJob(FROM_CSV, dir.File("in.table"), dir.File("in.txt"),
                                          dir.File("in.kcsv"), {}, &error));
        }
        EXPECT_EQ(KIV_EXIT_CONVERT, RunJob(r.job, dir.File("in.table"), dir.File("in.txt"),
                                           dir.File("in.kcsv"), Options(true), &error));
        EXPECT_EQ(dir.File(r.file) + r.message, error);
        std::vector<std::string> inputs = {"in.table", "in.txt"};
        if (r.job == TO_CSV)
            inputs.push_back("in.kcsv");
        std::sort(inputs.begin(), inputs.end());
        EXPECT_EQ(inputs, Names(dir.path));
    }
}

// Outputs replace nothing without --force, appear whole when the job
// succeeds, and nothing at all when it fails.
TEST(KivConvert, OutputsAppearWholeOrNotAtAll)
{
    enum Op { TO, FROM, WRITE };
    struct Row {
        Op op;
        const char* present;   // a file in the output folder before the job
        bool force;
        int rc;
        const char* message;   // the end of *error
    } rows[] = {
        {TO, "in.kcsv.rec", false, KIV_EXIT_WRITE, "out/in.kcsv.rec exists (give --force to replace it)"},
        {TO, "in.kcsv.rec", true, KIV_EXIT_OK, ""},
        {TO, "in.kcsv.9.jpg", false, KIV_EXIT_OK, ""},
        {FROM, "t.kcsv", false, KIV_EXIT_WRITE, "out/t.kcsv exists (give --force to replace it)"},
        {FROM, "t.kcsv", true, KIV_EXIT_OK, ""},
        {WRITE, "b.kcsv", false, KIV_EXIT_WRITE, "out/b.kcsv exists (give --force to replace it)"},
        {WRITE, "b.kcsv", true, KIV_EXIT_OK, ""},
        {WRITE, nullptr, false, KIV_EXIT_OK, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(&r - rows));
        TempDir dir;
        fs::create_directory(dir.path / "out");
        ASSERT_TRUE(WriteWholeFile(dir.File("in.table"), kLayout));
        ASSERT_TRUE(WriteWholeFile(dir.File("in.txt"), Quoted({"one", "two"})));
        std::string error, out = dir.File("out");
        ASSERT_EQ(KIV_EXIT_OK,
                  CsvToKcsvFile(dir.File("in.table"), dir.File("in.txt"), dir.File("in.kcsv"), {}, &error));
        if (r.present) {
            ASSERT_TRUE(WriteWholeFile(out + "/" + r.present, "old"));
        }
        ConvertOptions options = Options(false, r.force);
        int rc;
        std::vector<std::string> made;
        if (r.op == TO) {
            rc = KcsvFileToCsv(dir.File("in.kcsv"), out, options, &error);
            made = {"in.kcsv.num", "in.kcsv.rec", "in.kcsv.tab", "in.kcsv.table"};
        } else if (r.op == FROM) {
            rc = CsvToKcsvFile(dir.File("in.table"), dir.File("in.txt"), out + "/t.kcsv", options, &error);
            made = {"t.kcsv"};
        } else {
            rc = WriteFileAtomically(out + "/b.kcsv", {'n', 'e', 'w'}, r.force, &error);
            made = {"b.kcsv"};
        }
        EXPECT_EQ(r.rc, rc);
        EXPECT_TRUE(EndsWith(error, r.message)) << error;
        std::vector<std::string> expected = rc == KIV_EXIT_OK ? made : std::vector<std::string>();
        if (r.present && std::find(expected.begin(), expected.end(), r.present) == expected.end())
            expected.push_back(r.present);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, Names(dir.path / "out"));
        if (r.present) {
            EXPECT_EQ(rc == KIV_EXIT_OK && r.force, ReadWholeFile(out + "/" + r.present) != "old");
        }
    }
}

// Jobs that cannot start: a missing input, a missing output folder, a layout
// beyond a table's limits, a file that is no table.
TEST(KivConvert, RefusedJobsSayWhy)
{
    TempDir dir;
    std::string error;
    std::string wide = kLayout.substr(0, 35);
    for (int i = 0; i <= TABLE_MAX_IMAGES; i++)
        wide += std::string(21, 'p') + "0500\r\n";
    ASSERT_TRUE(WriteWholeFile(dir.File("wide.table"), wide));
    ASSERT_TRUE(WriteWholeFile(dir.File("in.table"), kLayout));
    ASSERT_TRUE(WriteWholeFile(dir.File("in.txt"), Quoted({"x"})));
    ASSERT_TRUE(WriteWholeFile(dir.File("junk"), "\"H\",\"04\"\r\n"));
    struct Row {
        Job job;
        const char *layout, *csv, *kcsv;
        bool force;
        int rc;
        std::string message;
    } rows[] = {
        {FROM_CSV, "missing.table", "in.txt", "o.kcsv", false, KIV_EXIT_READ,
         "/missing.table: No such file or directory"},
        {TO_CSV, "", "", "missing.kcsv", false, KIV_EXIT_READ, "/missing.kcsv: No such file or directory"},
        {FROM_CSV, "in.table", "in.txt", "no/such/o.kcsv", false, KIV_EXIT_WRITE,
         "/no/such: No such file or directory"},
        {PUSH, "wide.table", "in.txt", "", false, KIV_EXIT_CONVERT,
         "/wide.table: more fields than a table holds (100 in all, at most 10 pictures and 99 others)"},
        {FROM_CSV, "in.table", "in.txt", "in.txt", true, KIV_EXIT_USAGE, "/in.txt; name another output"},
        {TO_CSV, "", "", "junk", false, KIV_EXIT_CONVERT,
         "/junk: line 2: the table ends before its titles (\"T\" record)"},
    };
    std::vector<std::string> before = Names(dir.path);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.message);
        EXPECT_EQ(r.rc, RunJob(r.job, dir.File(r.layout), dir.File(r.csv), dir.File(r.kcsv),
                               Options(false, r.force), &error));
        EXPECT_TRUE(EndsWith(error, r.message)) << error;
        EXPECT_EQ(before, Names(dir.path));
    }
}

// Rows after one the conversions cannot read would be dropped unseen: such
// an input is refused, naming the line where the reading stops.
TEST(KivConvert, RowsAfterAnUnreadableOneAreNotLost)
{
    struct Row {
        Job job;
        std::string text;   // FROM_CSV: the CSV; TO_CSV: put before a Kcsv file's last record
        size_t line;   // where the reading stops, 0 when all is read (TO_CSV: lines after the inserted text)
    } rows[] = {
        {FROM_CSV, "\"a\"\r\n\r\n\"b\"\r\n", 3},
        {FROM_CSV, "\"a\"\r\nb,\"c\"\r\n", 2},
        {FROM_CSV, "\"a\"\r\n\"b", 2},
        {FROM_CSV, "\"a\"\r\n\"b\"\r\n\r\n \t\r\n", 0},
        {FROM_CSV, "\"a\"\r\n\"b\"\x1A\r\n\r\n\"c\"", 0},
        {TO_CSV, "\r\n", 1},
        {TO_CSV, "\"D\",x\r\n", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        TempDir dir;
        std::string error, kcsv = dir.File("t.kcsv");
        ASSERT_TRUE(WriteWholeFile(dir.File("t.table"), kLayout));
        ASSERT_TRUE(WriteWholeFile(dir.File("t.txt"), r.job == FROM_CSV ? r.text : Quoted({"1", "2", "3"})));
        int rc = RunJob(FROM_CSV, dir.File("t.table"), dir.File("t.txt"), kcsv, {}, &error);
        size_t line = r.line;
        if (r.job == TO_CSV) {
            ASSERT_EQ(KIV_EXIT_OK, rc) << error;
            std::string text = ReadWholeFile(kcsv);
            size_t at = text.rfind("\"D\"");
            line += 1 + (size_t)std::count(text.begin(), text.begin() + (long)at, '\n');
            ASSERT_TRUE(WriteWholeFile(kcsv, text.insert(at, r.text)));
            rc = RunJob(TO_CSV, "", "", kcsv, {}, &error);
        }
        std::string where = r.job == FROM_CSV ? dir.File("t.txt") : kcsv;
        if (line == 0) {
            EXPECT_EQ(KIV_EXIT_OK, rc) << error;
            continue;
        }
        EXPECT_EQ(KIV_EXIT_CONVERT, rc);
        EXPECT_EQ(where + ": line " + std::to_string(line) + ":",
                  error.substr(0, where.size() + 8 + std::to_string(line).size()));
        EXPECT_EQ(r.job == FROM_CSV ? 2u : 3u, Names(dir.path).size());   // the inputs alone
    }
}

// pull: the received table under its own name, or the one given, or
// "table"; the same files as to-csv of that Kcsv file, the Kcsv file first.
TEST(KivConvert, PullKeepsTheTableUnderItsName)
{
    const std::string badName = "a/b" + std::string(30, ' ') + "\r\n" + kLayout.substr(35);
    struct Row {
        std::string layout;   // of the table received; empty: bytes that are no table
        std::string csv;
        const char* name;
        int rc;
        const char* leaf;   // the Kcsv file written
    } rows[] = {
        // clang-format off
        {kLayout, Quoted({"one", "two"}), "", KIV_EXIT_OK, "表.kcsv"},   // the name of kLayout
        {kLayout, Quoted({"one", "two"}), "mine", KIV_EXIT_OK, "mine.kcsv"},
        {badName, Quoted({"one", "two"}), "", KIV_EXIT_OK, "table.kcsv"},
        {"", "", "", KIV_EXIT_CONVERT, "table.kcsv"},
        {kLayout, Quoted({"\xA0"}), "", KIV_EXIT_CONVERT, "表.kcsv"},   // no UTF-8 for its record file
        {kLayout, Quoted({"one"}), "../up", KIV_EXIT_USAGE, nullptr},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir dir, oracle;
        std::vector<uint8_t> block = {'n', 'o', 't', '\r', '\n'};
        std::string error;
        if (!r.layout.empty()) {
            ASSERT_TRUE(WriteWholeFile(dir.File("t.table"), r.layout));
            ASSERT_TRUE(WriteWholeFile(dir.File("t.txt"), r.csv));
            ASSERT_EQ(KIV_EXIT_OK,
                      CsvToKcsvBlock(dir.File("t.table"), dir.File("t.txt"), {}, &block, &error));
            fs::remove(dir.path / "t.table");
            fs::remove(dir.path / "t.txt");
        }
        std::vector<std::string> written;
        EXPECT_EQ(r.rc, KcsvBlockToFiles(block, dir.path.string(), r.name, Options(true), &written, &error))
            << error;
        if (!r.leaf) {
            EXPECT_TRUE(written.empty());
            EXPECT_TRUE(Names(dir.path).empty());
            continue;
        }
        if (r.rc == KIV_EXIT_CONVERT) {
            EXPECT_TRUE(EndsWith(error, "; it is kept in " + dir.File(r.leaf))) << error;
        }
        // The oracle: the block saved under the same name and converted by to-csv.
        ASSERT_TRUE(WriteWholeFile(oracle.File(r.leaf), std::string(block.begin(), block.end())));
        if (r.rc == KIV_EXIT_OK) {
            ASSERT_EQ(KIV_EXIT_OK, KcsvFileToCsv(oracle.File(r.leaf), "", Options(true), &error)) << error;
        }
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(dir.File(r.leaf), written[0]);
        std::vector<std::string> names;
        for (const std::string& path : written) {
            names.push_back(fs::path(path).filename().string());
            EXPECT_EQ(ReadWholeFile(path), ReadWholeFile(oracle.File(names.back().c_str()))) << names.back();
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(Names(oracle.path), names);
    }
}

}   // namespace
