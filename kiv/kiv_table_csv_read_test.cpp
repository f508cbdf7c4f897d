// The table CSV read back through kiv's command line: what spreadsheets save
// is taken, every problem of a file is reported before anything is written,
// tables come back byte for byte, and push sends what from-csv writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

// A table described by hand (no kept header): text, number, a date, a date
// with time, and a picture.
const char kSchema[] = "kiv-table-schema 1\n"
                       "table addr\n"
                       "rows 1\n"
                       "field 1 kind=text sub=0 id=KD01 column=6 title=name\n"
                       "field 2 kind=number sub=0 id=KD02 column=7 title=sum\n"
                       "field 3 kind=time sub=1 id=KD03 column=8 title=born\n"
                       "field 4 kind=time sub=0 id=KD04 column=9 title=due\n"
                       "field 5 kind=picture sub=9 id=IM01 column=10 format-column=11 title=photo\n";
const char kHeader[] = "name,sum,born,due,photo\r\n";
// "GIF89a" and four bytes, and its 3TO4 text.
const char kGif[] = "GIF89a\x01\x00\x01\x00";
// Eleven kanji: 22 bytes in code page 932, 20 at most for a title.
const char kLongTitle[] = "\xE5\x90\x8D\xE5\x89\x8D\xE5\x90\x8D\xE5\x89\x8D\xE5\x90\x8D\xE5\x89\x8D"
                          "\xE5\x90\x8D\xE5\x89\x8D\xE5\x90\x8D\xE5\x89\x8D\xE5\x90\x8D";
const char kGif3to4[] = "\"BDAPst71101000\",\"05\"";

// The fields of the data records of a Kcsv file after the system columns,
// one string per record.
std::vector<std::string> DataValues(const std::string& kcsv)
{
    std::vector<std::string> values;
    for (size_t at = 0, end; (end = kcsv.find("\r\n", at)) != std::string::npos; at = end + 2) {
        if (kcsv.compare(at, 4, "\"D\",") != 0)
            continue;
        size_t slot = at;
        for (int k = 0; k < 6; k++)
            slot = kcsv.find(',', slot) + 1;
        values.push_back(kcsv.substr(slot, end - slot));
    }
    return values;
}

// A run with the table in its folder "in" as t.csv, t.schema and the picture.
void PutTable(const KivRun& run, const std::string& csv)
{
    ASSERT_EQ(0, mkdir(run.File("in").c_str(), 0755));
    WriteWhole(run.File("in/t.schema"), kSchema);
    WriteWhole(run.File("in/t.csv"), csv);
    WriteWhole(run.File("in/p.gif"), std::string(kGif, sizeof kGif - 1));
}

TEST(KivTableCsvRead, TakesWhatSpreadsheetsSave)
{
    struct Row {
        const char* name;
        std::string csv;   // after the header row
        const char* flags;
        std::string values;
    } rows[] = {
        {"quoted, CR LF", "\"Yamada\",\"1234.5\",\"1999-12-31\",\"2001-01-05T23:59\",\"p.gif\"\r\n", "",
         "\"Yamada\",\"1b0a9575LLL0LLL0LLL0\",\"19991231\",\"200101052359\"," + std::string(kGif3to4)},
        {"unquoted, LF, no end", "Yamada,-0.25,1999-12-31,,\nSato,,,,", "",
         "\"Yamada\",\"De0A5eeeeeeeeeeeeeee\",\"19991231\",,,|\"Sato\",,,,,"},
        {"byte-order mark",
         "\xEF\xBB\xBF"
         "a,,,,\r\n",
         "", "\"a\",,,,,"},
        {"quotes and commas in a cell", "\"a,\"\"b\"\"\",,,,\r\n", "", "\"a,\"\"b\"\"\",,,,,"},
        {"Japanese dates", "a,,2001/1/5,2001/01/05 23:59,\r\nb,,2001/12/31,2001/1/5 9:05,\r\n", "",
         "\"a\",,\"20010105\",\"200101052359\",,|\"b\",,\"20011231\",\"200101050905\",,"},
        {"digits as stored", "a,,2026-12-30T4,2001-01-05T23:59:58.12,\r\n", "",
         "\"a\",,\"202612304\",\"2001010523595812\",,"},
        {"kana in UTF-8", "\xE3\x81\x82\xEF\xBD\xB1,,,,\r\n", "", "\"\x82\xA0\xB1\",,,,,"},
        {"code page 932 found", "\x8E\x52\x93\x63,,,,\r\n", "", "\"\x8E\x52\x93\x63\",,,,,"},
        {"code page 932 given", "\xC3\xA9,,,,\r\n", "--encoding cp932", "\"\xC3\xA9\",,,,,"},
        {"circled digit in the handheld's set", "\xE2\x91\xA0,,,,\r\n", "", "\"\xED\x40\",,,,,"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        PutTable(run, kHeader + row.csv);
        // Run from elsewhere: the picture is found beside the CSV.
        ASSERT_EQ(0, run.Kiv(std::string("from-csv in/t.csv -o out.kcsv ") + row.flags)) << run.Err();
        std::vector<std::string> got = DataValues(ReadWhole(run.File("out.kcsv")));
        std::string joined;
        for (const std::string& v : got)
            joined += (joined.empty() ? "" : "|") + v;
        EXPECT_EQ(row.values, joined);
    }
}

TEST(KivTableCsvRead, ReportsEveryProblemAndWritesNothing)
{
    std::string many;
    for (int i = 0; i < 60; i++)
        many += "a,x,,,\r\n";
    struct Row {
        const char* name;
        std::string csv;
        const char* flags;
        int status;
        std::vector<std::string> lines;   // each found in stderr
    } rows[] = {
        {"rows and cells",
         kHeader +
             std::string(
                 "a,1\r\nb,12x,2001-02-30,12/31/1999,none.jpg\r\nc,1E+100,2001-13-01,2001-01-05T24:00,\r\n"
                 "\xE2\x98\x83,,,,t.csv\r\n\"two\nlines\",,,,\r\n"),
         "",
         6,
         {"in/t.csv: line 2: the row has 2 cells, the header 5",
          "in/t.csv: line 3, column 2 (sum): \"12x\" is not a number",
          "in/t.csv: line 3, column 3 (born): \"2001-02-30\": no day 30 in that month",
          "in/t.csv: line 3, column 4 (due): \"12/31/1999\" is no date or time",
          "in/t.csv: line 3, column 5 (photo): the picture in/none.jpg: No such file or directory",
          "in/t.csv: line 4, column 2 (sum): \"1E+100\" is beyond the range",
          "in/t.csv: line 4, column 3 (born): \"2001-13-01\": no month 13",
          "in/t.csv: line 4, column 4 (due): \"2001-01-05T24:00\": no hour 24",
          "in/t.csv: line 5, column 1 (name): the character U+2603 has no code page 932 form",
          "in/t.csv: line 5, column 5 (photo): the picture in/t.csv is no JPEG, GIF or PNG file",
          "in/t.csv: line 6, column 1 (name): a line break inside a cell"}},
        {"title too long",
         std::string(kLongTitle) + ",sum,born,due,photo\r\n",
         "",
         6,
         {"in/t.csv: line 1, column 1: the title \"" + std::string(kLongTitle) + "\" takes 22 bytes"}},
        {"quote left open",
         kHeader + std::string("\"a,,,,\r\n"),
         "",
         6,
         {"in/t.csv: line 2, column 1: a quote opened here is never closed"}},
        {"not UTF-8 as given",
         kHeader + std::string("\x8E\x52,,,,\r\n"),
         "--encoding utf8",
         6,
         {"in/t.csv: line 2: bytes that are not UTF-8"}},
        {"a character the handheld replaces, strict",
         kHeader + std::string("\xE3\x8C\x94,,,,\r\n"),
         "--strict",
         6,
         {"in/t.csv: line 2, column 1 (name): the handheld's characters differ: \xE3\x8C\x94 becomes "
          "\xE3\x80\x80"}},
        {"many",
         kHeader + many,
         "",
         6,
         {"in/t.csv: line 51, column 2 (sum): \"x\" is not a number",
          "in/t.csv: 10 more problems not shown"}},
        {"the same as a warning",
         kHeader + std::string("\xE3\x8C\x94,,,,\r\n"),
         "",
         0,
         {"in/t.csv: line 2, column 1 (name): warning: the handheld's characters differ"}},
        {"a time in a date field, warned",
         kHeader + std::string("a,,23:59,,\r\n"),
         "",
         0,
         {"in/t.csv: line 2, column 3 (born): warning: \"23:59\" in a field of date"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        PutTable(run, row.csv);
        EXPECT_EQ(row.status, run.Kiv(std::string("from-csv in/t.csv -o out.kcsv ") + row.flags));
        std::string err = run.Err();
        for (const std::string& line : row.lines)
            EXPECT_NE(std::string::npos, err.find("kiv: " + line)) << line << "\n" << err;
        EXPECT_EQ(row.status == 0, Exists(run.File("out.kcsv")));
    }
}

}   // namespace
