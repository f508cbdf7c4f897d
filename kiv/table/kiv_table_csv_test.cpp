// The table CSV through kiv's command line: what pull and to-csv write for
// the project's tables (cells, schema lines, picture files, encodings), and
// --classic writing the Windows application's files exactly as before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

const std::string kTestdata = KIV_CONVERT_TESTDATA;
const std::string kDll = kTestdata + "/dll/";

// A Kcsv file's records up to and including its "T" record.
std::string HeaderOf(const std::string& path)
{
    std::string kcsv = ReadWhole(path);
    size_t t = kcsv.find("\r\n\"T\"");
    return kcsv.substr(0, kcsv.find("\r\n", t + 2) + 2);
}

// marks (text, number, date and time) with what a handheld puts in and the
// desktop writer does not: a sync ID and a category, a character its set maps
// two ways (EC F9, shown as ㌔, written back as a blank). Its second record is
// the writer's own.
std::string HandheldMarks()
{
    return HeaderOf(kDll + "marks.csv") +
           "\"D\",\" \",\"A3bX\",\"20261208123509\",,\"\x82P\",\"\xEC\xF9\",,\"200101052359\"\r\n"
           "\"D\",\" \",,\"20261208123509\",,,\"x\",,\r\n\x1A";
}

const char kHandheldRow[] =
    "row 1 3bf5284799817a79:7447482a811c9dc5d3303a31 \"D\",\" \",\"A3bX\",\"20261208123509\",,\"\\x82P\","
    "\"\\xEC\\xF9\",*,*\n";

TEST(KivTableCsv, WritesTheTableCsvSchemaAndPictures)
{
    struct Row {
        const char* name;
        std::string kcsv;
        std::string flags;
        bool pull;                         // through the link from kivsim, else to-csv
        std::string base;                  // of the files written
        std::string csv;                   // NAME.csv, exactly
        std::vector<std::string> schema;   // lines NAME.schema holds
        std::vector<std::pair<std::string, std::string>> pictures;   // file, the sample it must equal
    } rows[] = {
        {"samples' table: kanji, quotes, numbers, dates, a picture of each format",
         ReadWhole(kDll + "addr.csv"),
         "",
         false,
         "addr",
         "氏名,金額,誕生日,写真\r\n"
         "山田 太郎,1234.5,1999-12-31,addr-pictures/1-4.jpg\r\n"
         "\"鈴木 \"\"花子\"\"\",-0.25,2001-01-05,addr-pictures/2-4.png\r\n"
         "①Ⅰ　,\"12345678901234567890\",2026-12-07,addr-pictures/3-4.gif\r\n",
         {"table 住所録", "rows 3", "field 1 kind=text sub=0 id=KD01 column=6 title=氏名",
          "field 3 kind=time sub=1 id=KD03 column=8 title=誕生日",
          "field 4 kind=picture sub=9 id=IM01 column=9 format-column=10 title=写真"},
         {{"addr-pictures/1-4.jpg", "photo1.jpg"},
          {"addr-pictures/2-4.png", "photo2.png"},
          {"addr-pictures/3-4.gif", "photo3.gif"}}},
        {"every time sub-kind, digit counts off their kind included",
         ReadWhole(kTestdata + "/times.kcsv"),
         "",
         false,
         "times",
         "dt,d,ym,hms,hm\r\n"
         "2001-01-05T23:59,2001-01-05,2001-01,23:59:58,23:59\r\n"
         "2001-15-30T4,2001-01-05T23:59:58,2001,23:5,23:59\r\n"
         "\"2001-01-05T23:59:58.12\",1999-12-31T23:59:58,20,1999-12-31T23:59:58,1999-12-31\r\n",
         {"rows 3", "field 1 kind=time sub=0 id=KD01 column=6 title=dt",
          "field 5 kind=time sub=4 id=KD05 column=10 title=hm"},
         {}},
        {"numbers at the packed decimal's limits, as plain decimals",
         ReadWhole(kTestdata + "/nums.kcsv"),
         "",
         false,
         "nums",
         "n\r\n\"99999999999999999999\"\r\n\"-99999999999999999999\"\r\n"
         "\"99999999999999999999" +
             std::string(80, '0') + "\"\r\n0." + std::string(98, '0') +
             "1\r\n"
             "-0.001\r\n0\r\n\"123456789012345678900000\"\r\n",
         {"rows 7", "field 1 kind=number sub=0 id=KD01 column=6 title=n"},
         {}},
        {"code page 932's extensions and the handheld's own codes, --bom",
         ReadWhole(kDll + "marks.csv"),
         "--bom",
         false,
         "marks",
         "\xEF\xBB\xBF記号,番号,日時\r\n"
         "C:\\data\\x ~y,1,2026-12-30T4\r\n"
         "～－∥￢￠￡,-2.5,1999-12-31T23:59\r\n"
         "①Ⅰ㍉ⅰ纊,0,2000-01-01T00:00\r\n"
         "\"ｶﾀｶﾅ \"\"引用\"\"\",3,2026-12-08T12:00\r\n",
         {"table 記号表", "rows 4"},
         {}},
        {"what the handheld adds is kept in the schema; pulled, the table as received beside it",
         HandheldMarks(),
         "",
         true,
         "記号表",
         "記号,番号,日時\r\n㌔,,2001-01-05T23:59\r\nx,,\r\n",
         {"rows 2", kHandheldRow},
         {}},
        {"--encoding cp932",
         HandheldMarks(),
         "--encoding cp932",
         false,
         "marks",
         "\x8BL\x8D\x86,\x94\xD4\x8D\x86,\x93\xFA\x8E\x9E\r\n\x87`,,2001-01-05T23:59\r\nx,,\r\n",
         {kHandheldRow},
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        if (row.pull) {
            WriteWhole(run.File("sent.kcsv"), row.kcsv);
            ASSERT_TRUE(
                run.StartSim(std::string(kSimCable) + " --role send --data " + run.File("sent.kcsv")));
            EXPECT_EQ(0, run.Kiv("pull -d @out --port LINE " + std::string(kCable) + " " + row.flags))
                << run.Err();
            run.FinishSim();
            EXPECT_TRUE(ReadWhole(run.File("out/" + row.base + ".kcsv")) == row.kcsv);
        } else {
            WriteWhole(run.File(row.base + ".kcsv"), row.kcsv);
            EXPECT_EQ(0, run.Kiv("to-csv @" + row.base + ".kcsv -d @out " + row.flags)) << run.Err();
        }
        EXPECT_EQ(row.csv, ReadWhole(run.File("out/" + row.base + ".csv")));
        std::string schema = ReadWhole(run.File("out/" + row.base + ".schema"));
        EXPECT_EQ(0u, schema.find("kiv-table-schema 1\n"));
        for (const std::string& line : row.schema)
            EXPECT_NE(std::string::npos, schema.find("\n" + line)) << line << "\n" << schema;
        for (const auto& p : row.pictures)
            EXPECT_TRUE(ReadWhole(run.File("out/" + p.first)) == ReadWhole(KIV_SAMPLES "/" + p.second))
                << p.first;
        EXPECT_EQ(row.pictures.empty(), !Exists(run.File("out/" + row.base + "-pictures")));
    }
}

// A table that cannot be written whole is refused with a line saying why,
// and the job leaves nothing behind.
TEST(KivTableCsv, RefusesAndLeavesNothing)
{
    std::string header = HeaderOf(kDll + "marks.csv");
    struct Row {
        const char* name;
        std::string kcsv;
        std::string flags;
        std::string existing;   // a file of out/ there before, which a refusal leaves as it was
        int status;
        std::string message;
        int forced;   // the status of the same job with --force
    } rows[] = {
        {"a damaged record",
         header + "\"D\",\" \",,\"20261208123509\",,,\"a\",,\r\n\"D\",bad\r\n\"D\",,,,,,\"b\"\r\n\x1A", "",
         "", 6, "marks.kcsv: line 9: a damaged record", 6},
        {"a character code page 932 has no form for, in code page 932",
         header + "\"D\",\" \",,\"20261208123509\",,,\"\x85\x40\",,\r\n\x1A", "--encoding cp932", "", 6,
         "out/marks.csv: line 2, column 1", 6},
        {"the CSV exists", ReadWhole(kDll + "marks.csv"), "", "marks.csv", 8, "out/marks.csv exists", 0},
        {"a picture exists", ReadWhole(kDll + "addr.csv"), "", "marks-pictures/2-4.png", 8,
         "out/marks-pictures/2-4.png exists", 0},
        {"the picture folder is a file", ReadWhole(kDll + "addr.csv"), "", "marks-pictures", 8,
         "out/marks-pictures: Not a directory", 8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        ASSERT_EQ(0, mkdir(run.File("out").c_str(), 0755));
        size_t slash = row.existing.find('/');
        if (slash != std::string::npos) {
            ASSERT_EQ(0, mkdir(run.File("out/" + row.existing.substr(0, slash)).c_str(), 0755));
        }
        if (!row.existing.empty())
            WriteWhole(run.File("out/" + row.existing), "mine");
        WriteWhole(run.File("marks.kcsv"), row.kcsv);
        EXPECT_EQ(row.status, run.Kiv("to-csv @marks.kcsv -d @out " + row.flags));
        EXPECT_NE(std::string::npos, run.Err().find(row.message)) << run.Err();
        EXPECT_EQ(row.existing == "marks.csv", Exists(run.File("out/marks.csv")));
        EXPECT_FALSE(Exists(run.File("out/marks.schema")));
        EXPECT_FALSE(Exists(run.File("out/marks-pictures/1-4.jpg")));
        if (!row.existing.empty()) {
            EXPECT_EQ("mine", ReadWhole(run.File("out/" + row.existing)));
        }
        EXPECT_EQ(row.forced, run.Kiv("to-csv @marks.kcsv -d @out --force " + row.flags)) << run.Err();
        EXPECT_EQ(row.forced == 0, Exists(run.File("out/marks.schema")));
        if (row.forced == 0 && !row.existing.empty()) {
            EXPECT_NE("mine", ReadWhole(run.File("out/" + row.existing)));
        }
    }
}

// --classic writes the files the DLL's conversion writes beside the Kcsv file,
// byte for byte, and nothing of the table CSV.
TEST(KivTableCsv, ClassicWritesTheWindowsFilesAsBefore)
{
    // addr's record and length files name its pictures by the DLL's folder.
    struct Row {
        const char* table;
        std::vector<const char*> files;
    } rows[] = {
        {"addr.csv", {".table", ".tab", ".0.jpg", ".1.png", ".2.gif"}},
        {"marks.csv", {".table", ".rec", ".num", ".tab"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.table);
        KivRun run;
        WriteWhole(run.File(row.table), ReadWhole(kDll + row.table));
        EXPECT_EQ(0, run.Kiv(std::string("to-csv --classic @") + row.table + " -d @out")) << run.Err();
        for (const char* suffix : row.files) {
            std::string name = std::string(row.table) + suffix;
            EXPECT_TRUE(ReadWhole(run.File("out/" + name)) == ReadWhole(kDll + name)) << name;
        }
        std::string base = std::string(row.table).substr(0, std::string(row.table).find('.'));
        EXPECT_FALSE(Exists(run.File("out/" + base + ".schema")));
    }
}

}   // namespace
