// The table CSV opened in a real spreadsheet and saved again: to-csv, the
// spreadsheet headless with the options its dialogs propose (and once with
// "quoted field as text" on), from-csv. Each value is a record of its own;
// the table says whether it comes back unchanged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstdlib>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

const char kSchema[] = "kiv-table-schema 1\n"
                       "table kinds\n"
                       "rows 1\n"
                       "field 1 kind=text sub=0 id=KD01 column=6 title=text\n"
                       "field 2 kind=number sub=0 id=KD02 column=7 title=number\n"
                       "field 3 kind=time sub=0 id=KD03 column=8 title=stamp\n"
                       "field 4 kind=time sub=1 id=KD04 column=9 title=date\n"
                       "field 5 kind=time sub=2 id=KD05 column=10 title=month\n"
                       "field 6 kind=time sub=3 id=KD06 column=11 title=seconds\n"
                       "field 7 kind=time sub=4 id=KD07 column=12 title=minutes\n"
                       "field 8 kind=picture sub=9 id=IM01 column=13 format-column=14 title=photo\n";
const int kColumns = 8;

struct Case {
    const char* what;
    int column;         // from 0
    const char* cell;   // as typed into the first CSV
    bool asDefault;     // comes back with the dialogs' defaults
    bool asText;        // comes back with "quoted field as text"
};

const Case kCases[] = {
    {"kanji", 0, "\xE5\xB1\xB1\xE7\x94\xB0 \xE5\xA4\xAA\xE9\x83\x8E", true, true},
    {"quotes and a comma", 0, "\"\"\"a\"\", b\"", true, true},
    {"semicolon", 0, "a;b", true, true},
    {"tab", 0, "\"a\tb\"", true, true},
    {"blanks at the ends", 0, "\" a \"", true, true},
    {"formula-like text", 0, "=1+1", true, true},
    {"fraction-like text", 0, "1/2", true, true},
    {"leading zeros", 0, "007", false, true},
    {"long digits as text", 0, "12345678901234567890", false, true},
    {"number-like text", 0, "3.10", false, true},
    {"short number", 1, "-1234.5", true, true},
    {"15 digits", 1, "123456789012345", true, true},
    {"large number", 1, "1E+21", true, true},
    {"small number", 1, "0.001", true, true},
    {"20 digits", 1, "12345678901234567890", false, true},
    {"date and time", 2, "2001-01-05T23:59", true, true},
    {"with seconds", 2, "2001-01-05T23:59:58", true, true},
    {"with a fraction", 2, "2001-01-05T23:59:58.12", false, true},
    {"odd digits", 2, "2026-12-30T4", true, true},
    {"date", 3, "1999-12-31", true, true},
    {"year and month", 4, "2001-01", true, true},
    {"time with seconds", 5, "00:00:00", true, true},
    {"hour alone", 5, "05", false, true},
    {"hours and minutes", 6, "00:05", true, true},
    {"picture", 7, "p.gif", true, true},
};

std::string FirstCsv()
{
    std::string csv = "text,number,stamp,date,month,seconds,minutes,photo\r\n";
    for (const Case& c : kCases) {
        for (int k = 0; k < kColumns; k++)
            csv += std::string(k ? "," : "") + (k == c.column ? c.cell : "");
        csv += "\r\n";
    }
    return csv;
}

// The spreadsheet opens out/t.csv with its import dialog's defaults (comma,
// semicolon and tab as separators, UTF-8, no special numbers, formulas not
// evaluated) and saves it with its export dialog's (comma, quote, UTF-8,
// cells as shown) into DIR/t.csv.
int ThroughSpreadsheet(const KivRun& run, const std::string& dir, bool quotedAsText)
{
    std::string in = std::string("44/59/9,34,76,1,,0,") + (quotedAsText ? "true" : "false") +
                     ",false,false,false,false,-1,false";
    std::string command =
        "cd " + run.dir + " && mkdir -p " + dir + " && LC_ALL=C.UTF-8 soffice" +
        " -env:UserInstallation=file://" + run.dir + "/profile --headless" +
        " --infilter='Text - txt - csv (StarCalc):" + in + "'" +
        " --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,false,true,false,false'" +
        " --outdir " + dir + " out/t.csv >/dev/null 2>&1" + " && cp -r out/t.schema out/t-pictures " + dir;
    return system(command.c_str());
}

bool HaveSpreadsheet() { return system("command -v soffice >/dev/null 2>&1") == 0; }

TEST(KivCalc, ValuesComeBackFromTheSpreadsheet)
{
    if (!HaveSpreadsheet())
        GTEST_SKIP() << "soffice is not installed (scripts/setup.sh installs it)";
    KivRun run;
    ASSERT_EQ(0, mkdir(run.File("in").c_str(), 0755));
    WriteWhole(run.File("in/t.schema"), kSchema);
    WriteWhole(run.File("in/t.csv"), FirstCsv());
    WriteWhole(run.File("in/p.gif"), std::string("GIF89a\x01\x00\x01\x00", 10));
    ASSERT_EQ(0, run.Kiv("from-csv in/t.csv -o t.kcsv")) << run.Err();
    ASSERT_EQ(0, run.Kiv("to-csv t.kcsv -d out")) << run.Err();
    std::vector<std::string> sent = DataValues(ReadWhole(run.File("t.kcsv")));
    ASSERT_EQ(sizeof kCases / sizeof kCases[0], sent.size());
    for (bool quotedAsText : {false, true}) {
        std::string dir = quotedAsText ? "as-text" : "default";
        ASSERT_EQ(0, ThroughSpreadsheet(run, dir, quotedAsText));
        ASSERT_EQ(0, run.Kiv("from-csv " + dir + "/t.csv -o " + dir + ".kcsv")) << run.Err();
        std::vector<std::string> back = DataValues(ReadWhole(run.File(dir + ".kcsv")));
        ASSERT_EQ(sent.size(), back.size());
        for (size_t i = 0; i < sent.size(); i++) {
            const Case& c = kCases[i];
            EXPECT_EQ(quotedAsText ? c.asText : c.asDefault, sent[i] == back[i])
                << dir << ", " << c.what << ": " << sent[i] << " came back as " << back[i];
        }
    }
}

}   // namespace
