// The table CSV read back through kiv's command line: what spreadsheets save
// is taken, every problem of a file is reported before anything is written,
// tables come back byte for byte, a character that cannot is named, and push
// sends what from-csv writes.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>
#include "kiv_harness.h"
#include "mask_stamps.h"

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
        {"kanji beside ASCII, then ASCII alone, then half-width kana",
         "\"\xE5\xB1\xB1\xE7\x94\xB0 a\"\"b\",,,,\r\nplain,,,,\r\n\xEF\xBD\xB1\xEF\xBD\xB2,,,,\r\n", "",
         "\"\x8E\x52\x93\x63 a\"\"b\",,,,,|\"plain\",,,,,|\"\xB1\xB2\",,,,,"},
        {"pictures from folders in turn", ",,,,p.gif\r\n,,,,../in/p.gif\r\n,,,,p.gif\r\n", "",
         ",,,," + std::string(kGif3to4) + "|,,,," + kGif3to4 + "|,,,," + kGif3to4},
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
                 "\xE2\x98\x83,,,,t.csv\r\n\"two\nlines\",,,,\r\n\xE5\xB1\xB1\xE2\x98\x83,,,,no/"
                 "p.gif\r\n,,,,.\r\n"),
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
          "in/t.csv: line 5, column 5 (photo): the picture in/t.csv is no JPEG, GIF or PNG file, nor named "
          "as one",
          "in/t.csv: line 6, column 1 (name): a line break inside a cell",
          "in/t.csv: line 8, column 1 (name): the character U+2603 has no code page 932 form",
          "in/t.csv: line 8, column 5 (photo): the picture in/no/p.gif: No such file or directory",
          "in/t.csv: line 9, column 5 (photo): the picture in/.: Is a directory"}},
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
        {"not UTF-8 after a byte-order mark",
         "\xEF\xBB\xBF" + std::string(kHeader) + "a,,,,\r\n\x8E\x52,,,,\r\n",
         "",
         6,
         {"in/t.csv: line 3: bytes that are not UTF-8"}},
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
        {"the same after kanji, warned",
         kHeader + std::string("a,,,,\r\n\xE5\xB1\xB1\xE3\x8C\x94,,,,\r\n"),
         "",
         0,
         {"in/t.csv: line 3, column 1 (name): warning: the handheld's characters differ: \xE3\x8C\x94 "
          "becomes "
          "\xE3\x80\x80"}},
        {"a new title the handheld replaces, warned",
         std::string("\xE3\x8C\x94,sum,born,due,photo\r\n"),
         "",
         0,
         {"in/t.csv: line 1, column 1: warning: the title \"\xE3\x8C\x94\": the handheld's characters "
          "differ"}},
        {"a number rounded, warned",
         kHeader + std::string("a,1.234567890123456789012,,,\r\n"),
         "",
         0,
         {"in/t.csv: line 2, column 2 (sum): warning: \"1.234567890123456789012\" has more than 20 "
          "significant "
          "digits; it is rounded to 1.234567890123456789"}},
        {"table text in a message, without control characters",
         kHeader + std::string("a,\x1B]0;x\x07\x1B[31m,,,\r\n"),
         "",
         6,
         {"in/t.csv: line 2, column 2 (sum): \"\uFFFD]0;x\uFFFD\uFFFD[31m\" is not a number"}},
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

// ---- a file longer than what is read at once ------------------------------------

// Rows "a,,,,", the last one longer, that fill exactly size bytes after the
// header; *line is the line after them.
std::string Filler(size_t size, size_t* line)
{
    const std::string row = "a,,,,\r\n";
    size_t n = size / row.size() - 1;
    std::string fill;
    for (size_t i = 0; i < n; i++)
        fill += row;
    fill += std::string(size - fill.size() - 6, 'b') + ",,,,\r\n";
    *line = n + 3;
    return fill;
}

// The file is read 16 KiB at a time: a row across that boundary, or a
// problem after it, is read and reported as one at the file's start.
TEST(KivTableCsvRead, ReadsAndReportsAcrossWhatIsReadAtOnce)
{
    const size_t kRead = 16384;
    struct Row {
        const char* name;
        size_t before;      // the tail starts this many bytes before the first 16 KiB end
        std::string tail;   // after the filler
        const char* flags;
        std::string values;   // the tail's records; or, with status 6, the problem (@ its line)
    } rows[] = {
        {"a quoted cell across", 4, "\"x,\"\"y\"\"\",,,,\r\n", "", "\"x,\"\"y\"\"\",,,,,"},
        {"a quote closed at the last byte", 3, "\"q\",,,,\r\nz,,,,", "", "\"q\",,,,,|\"z\",,,,,"},
        {"CR and LF apart", 6, "c,,,,\r\nd,,,,\n", "", "\"c\",,,,,|\"d\",,,,,"},
        {"a line break in a cell across", 3, "\"two\nlines\",,,,\r\n", "",
         "line @, column 1 (name): a line break inside a cell"},
        {"a quote left open after it", 0, "e,,,,\r\n\"open,,,,\r\n", "",
         "line @+1, column 1: a quote opened here is never closed"},
        {"not code page 932 after it", 0, "f,,,,\r\n\x8E\x52\x81\x20,,,,\r\n", "",
         "line @+1, column 2: the bytes 0x81 0x20 are no code page 932 character (read as code page 932)"},
        {"not UTF-8 after it", 0, "g,,,,\r\n\xFF,,,,\r\n", "--encoding utf8",
         "line @+1: bytes that are not UTF-8"},
        {"code page 932 found after it", 0, "\x8E\x52\x93\x63,,,,\r\n", "", "\"\x8E\x52\x93\x63\",,,,,"},
        {"a lead byte at the last byte", 1, "\x8E\x52\x93\x63,,,,\r\n", "", "\"\x8E\x52\x93\x63\",,,,,"},
        {"UTF-8 kanji across", 4, "\xE5\xB1\xB1\xE7\x94\xB0,,,,\r\n", "", "\"\x8E\x52\x93\x63\",,,,,"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        size_t line = 0;
        std::string fill = Filler(kRead - row.before - (sizeof kHeader - 1), &line);
        KivRun run;
        PutTable(run, kHeader + fill + row.tail);
        int status = run.Kiv(std::string("from-csv in/t.csv -o out.kcsv ") + row.flags);
        std::string expected = row.values;
        size_t at = expected.find('@');
        if (at != std::string::npos) {
            bool next = expected.compare(at, 3, "@+1") == 0;
            expected.replace(at, next ? 3 : 1, std::to_string(line + next));
            EXPECT_EQ(6, status);
            EXPECT_NE(std::string::npos, run.Err().find("kiv: in/t.csv: " + expected)) << run.Err();
            EXPECT_FALSE(Exists(run.File("out.kcsv")));
            continue;
        }
        ASSERT_EQ(0, status) << run.Err();
        std::vector<std::string> got = DataValues(ReadWhole(run.File("out.kcsv")));
        ASSERT_LE(line - 2, got.size());
        EXPECT_EQ("\"a\",,,,,", got[line - 4]);
        std::string joined;
        for (size_t i = line - 2; i < got.size(); i++)
            joined += (joined.empty() ? "" : "|") + got[i];
        EXPECT_EQ(expected, joined);
    }
}

// A table that cannot be written whole (the file size limit, which kiv
// inherits, cut short: a write of a full buffer, or the last one at the
// end) is said, and nothing is left where it was to go.
TEST(KivTableCsvRead, AWriteThatFailsLeavesNoTable)
{
    struct Row {
        const char* name;
        rlim_t limit;   // bytes
    } rows[] = {
        {"the first buffer", 16 * 1024},
        {"a later buffer", 200 * 1024},
        {"the last bytes", 0},   // set to the table's size less one
    };
    std::string csv;
    for (int i = 0; i < 20000; i++)
        csv += "a" + std::to_string(i) + ",,,,\r\n";
    size_t size = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        PutTable(run, kHeader + csv);
        if (size == 0) {
            ASSERT_EQ(0, run.Kiv("from-csv in/t.csv -o whole.kcsv")) << run.Err();
            size = ReadWhole(run.File("whole.kcsv")).size();
            ASSERT_LT(300u * 1024, size);
        }
        struct rlimit was, limit;
        ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &was));
        limit = was;
        limit.rlim_cur = row.limit ? row.limit : (rlim_t)size - 1;
        void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);   // a write past the limit fails, as on a full disk
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
        int status = run.Kiv("from-csv in/t.csv -o out.kcsv");
        setrlimit(RLIMIT_FSIZE, &was);
        signal(SIGXFSZ, handler);
        EXPECT_EQ(8, status);
        EXPECT_NE(std::string::npos, run.Err().find("kiv: cannot write ")) << run.Err();
        EXPECT_NE(std::string::npos, run.Err().find("out.kcsv: File too large")) << run.Err();
        EXPECT_FALSE(Exists(run.File("out.kcsv")));
    }
}

// ---- the round trip ----------------------------------------------------------

// The fields of a CSV line, quotes undone (cells hold no line breaks).
std::vector<std::string> CsvFields(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[i++];
        else if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += line[i];
    }
    return fields;
}

// The CSV as a spreadsheet may save it: every field quoted, lines ended by LF.
std::string QuoteAll(const std::string& csv)
{
    std::string out;
    for (size_t at = 0, end; (end = csv.find("\r\n", at)) != std::string::npos; at = end + 2) {
        std::string line;
        for (const std::string& f : CsvFields(csv.substr(at, end - at))) {
            std::string q = "\"";
            for (char c : f)
                q += c == '"' ? std::string("\"\"") : std::string(1, c);
            line += (line.empty() ? "" : ",") + q + "\"";
        }
        out += line + "\n";
    }
    return out;
}

// A table of every kind the desktop writer makes, in its own files: text of
// kana, kanji and the symbols the handheld maps, numbers at the packed
// decimal's limits, a time field of each sub-kind with what people type, and
// pictures of each format. Code page 932.
void MakeRandomTable(const KivRun& run, unsigned seed)
{
    static const char* const kChars[] = {"A",        "z",        " ",        "\"",       ",",
                                         "\x82\xA0", "\xB1",     "\x88\x9F", "\x8E\x52", "\x87\x40",
                                         "\x87\x54", "\x87\x5F", "\x87\x84", "\x87\x8A", "\x81\x40"};
    static const char* const kNumbers[] = {"99999999999999999999",
                                           "-99999999999999999999",
                                           "9.9999999999999999999E+99",
                                           "-1E-99",
                                           "1E-99",
                                           "0",
                                           "0.5",
                                           "-2.5"};
    static const char* const kTimes[5][3] = {{"1999/12/31 23:59", "2001/1/5 9:05", "2026/01/02 03:04"},
                                             {"2001/01/05", "2000/2/29", "1999/12/31"},
                                             {"2001/01", "1999/12", "2026/1"},
                                             {"23:59:58", "00:00:00", "9:05:07"},
                                             {"23:59", "0:00", "09:05"}};
    static const char* const kPictures[] = {"", "photo1.jpg", "photo2.png", "photo3.gif"};
    std::mt19937 random(seed);
    std::string layout = "random table                     \r\n"
                         "text                 0000\r\n"
                         "number               0100\r\n";
    for (int k = 0; k < 5; k++)
        layout += "time " + std::to_string(k) + "               030" + std::to_string(k) + "\r\n";
    layout += "picture              0500\r\n";
    std::string csv;
    for (int r = 0; r < 6; r++) {
        std::string text;
        for (size_t n = random() % 8; n > 0; n--) {
            const char* ch = kChars[random() % (sizeof kChars / sizeof *kChars)];
            text += *ch == '"' ? "\"\"" : ch;   // doubled, as the application writes it
        }
        std::string row = "\"" + text + "\",\"" + kNumbers[random() % 8] + "\"";
        for (int k = 0; k < 5; k++)
            row += std::string(",\"") + kTimes[k][random() % 3] + "\"";
        csv += row + ",\"" + kPictures[random() % 4] + "\"\r\n";
    }
    WriteWhole(run.File("t.table"), layout);
    WriteWhole(run.File("t.txt"), csv);
}

// The Kcsv table of a source: "kcsv:PATH" as it is, "classic:BASE" made by
// from-csv --classic of BASE.table and BASE.txt, "random:SEED" generated,
// "form:KEYS" made by from-csv from a schema by hand whose picture field has
// those keys.
std::string SourceTable(KivRun& run, const std::string& source)
{
    std::string kind = source.substr(0, source.find(':')), path = source.substr(kind.size() + 1);
    if (kind == "kcsv")
        return ReadWhole(path);
    if (kind == "form") {
        WriteWhole(run.File("f.schema"), "kiv-table-schema 1\ntable f\nrows 1\n"
                                         "field 1 kind=text sub=0 id=KD01 column=6 title=name\n"
                                         "field 2 kind=picture " +
                                             path + " title=photo\n");
        WriteWhole(run.File("f.csv"), "name,photo\r\nAnn,photo1.jpg\r\n");
        EXPECT_EQ(0, run.Kiv("from-csv f.csv -o t.kcsv")) << run.Err();
        return ReadWhole(run.File("t.kcsv"));
    }
    if (kind == "random")
        MakeRandomTable(run, (unsigned)atoi(path.c_str()));
    else
        EXPECT_EQ(0, system(("cp " + path + ".table " + run.File("t.table") + " && cp " + path + ".txt " +
                             run.File("t.txt"))
                                .c_str()));
    EXPECT_EQ(0, run.Kiv("from-csv --classic t.table t.txt -o t.kcsv")) << run.Err();
    std::string table = ReadWhole(run.File("t.kcsv"));
    size_t date = table.find("\"19991231\"");
    if (kind == "nodate" && date != std::string::npos)
        table.replace(date + 5, 4, "0230");
    return table;
}

// to-csv then from-csv gives the table again, the renewed stamps aside; also
// after the CSV was saved again as spreadsheets save it.
TEST(KivTableCsvRead, GivesTheTableBackByteForByte)
{
    struct Rewrite {
        const char* name;
        const char* command;   // run in the run's folder on out/t.csv; empty: none
        bool quoteAll;
    } rewrites[] = {
        {"untouched", "", false},
        {"LF, byte-order mark", "sed -i -e 's/\\r$//' -e '1s/^/\\xEF\\xBB\\xBF/' out/t.csv", false},
        {"code page 932", "iconv -f UTF-8 -t CP932 out/t.csv > out/c && mv out/c out/t.csv", false},
        {"every field quoted", "", true},
    };
    const char* const sources[] = {
        "classic:" KIV_SAMPLES "/addr", "classic:" KIV_CONVERT_TESTDATA "/marks",
        "kcsv:" KIV_CONVERT_TESTDATA "/dll/addr.csv", "kcsv:" KIV_CONVERT_TESTDATA "/dll/marks.csv",
        // a date as typed that no calendar has
        "nodate:" KIV_SAMPLES "/addr", "random:1", "random:2", "random:3",
        // each form of a picture's field line
        "form:sub=9 id=IM01 column=7 format-column=8", "form:sub=9 id=IM01 column=7 format-column=-",
        "form:sub=10 id=IM01 column=7 group=7:jpeg,8:png,9:none", "form:sub=9 id=- column=7 format-column=-"};
    for (const char* source : sources) {
        for (const Rewrite& rewrite : rewrites) {
            SCOPED_TRACE(std::string(source) + ", " + rewrite.name);
            KivRun run;
            ASSERT_EQ(0, system(("cp " KIV_SAMPLES "/photo* " + run.dir).c_str()));
            std::string table = SourceTable(run, source);
            WriteWhole(run.File("t.kcsv"), table);
            ASSERT_EQ(0, run.Kiv("to-csv t.kcsv -d out")) << run.Err();
            if (*rewrite.command) {
                ASSERT_EQ(0, system(("cd " + run.dir + " && " + rewrite.command).c_str()));
            }
            if (rewrite.quoteAll)
                WriteWhole(run.File("out/t.csv"), QuoteAll(ReadWhole(run.File("out/t.csv"))));
            ASSERT_EQ(0, run.Kiv("from-csv out/t.csv -o back.kcsv")) << run.Err();
            std::string back = ReadWhole(run.File("back.kcsv"));
            EXPECT_EQ(table.size(), back.size());
            EXPECT_EQ(MaskStamps(table), MaskStamps(back));
        }
    }
}

// marks as the handheld sends it: a sync ID on each of its three records.
std::string SyncedMarks()
{
    std::string kcsv = ReadWhole(KIV_CONVERT_TESTDATA "/dll/marks.csv");
    kcsv = kcsv.substr(0, kcsv.find("\r\n", kcsv.find("\r\n\"T\"") + 2) + 2);
    for (const char* r : {"ID01\",\"20261208123509\",,,\"a", "ID02\",\"20261208123509\",,,\"b",
                          "ID03\",\"20261208123509\",,,\"c"})
        kcsv += std::string("\"D\",\" \",\"") + r + "\",,\"200101052359\"\r\n";
    return kcsv + "\x1A";
}

// Edits in the CSV and the schema reach the table: what to-csv makes of the
// result shows them (or the table itself: the records each row took).
TEST(KivTableCsvRead, TakesEditsToTheTable)
{
    const std::string synced = SyncedMarks();
    struct Row {
        const char* name;
        const char* edit;   // a command in the run's folder on out/
        const char* file;   // written by to-csv of the result
        const char* line;   // found in it
        const char* rows;
        const std::string* table = nullptr;   // the table to-csv wrote out/ from; the samples' addr if none
        const char* absent = nullptr;         // not found in file
    } rows[] = {
        {"title changed", "sed -i '1s/^\xE6\xB0\x8F\xE5\x90\x8D/\xE5\x90\x8D\xE5\x89\x8D/' out/t.csv",
         "back/t2.schema", "column=6 title=\xE5\x90\x8D\xE5\x89\x8D\n", "rows 3"},
        {"name changed", "sed -i 's/^table .*/table \xE9\xA1\xA7\xE5\xAE\xA2/' out/t.schema",
         "back/t2.schema", "table \xE9\xA1\xA7\xE5\xAE\xA2\n", "rows 3"},
        {"row added", "printf 'new, 7 ,2001/2/3,\\r\\n' >> out/t.csv", "back/t2.csv", "new,7,2001-02-03,\r\n",
         "rows 4"},
        {"row removed", "sed -i 2d out/t.csv", "back/t2.csv", "\"\xE9\x88\xB4\xE6\x9C\xA8", "rows 2"},
        {"row edited", "sed -i 's/^[^,]*,1234.5,/x,99,/' out/t.csv", "back/t2.csv",
         "x,99,1999-12-31,t2-pictures/1-4.jpg", "rows 3"},
        // Rows tied to their records by place: a row that kept a cell is its
        // record edited, one with every cell new is a new record.
        {"every row edited in a cell keeps its record", "sed -i 's/^\\([abc]\\),/\\1x,/' out/t.csv",
         "t2.kcsv", "\"ID03\"", "rows 3", &synced, "\"c\""},
        {"last row replaced by a new one",
         "sed -i '$d' out/t.csv && printf 'new,5,2026-01-02T03:04\\r\\n' >> out/t.csv", "t2.kcsv", "\"ID02\"",
         "rows 3", &synced, "ID03"},
        {"middle row replaced by a new one", "sed -i '3s/.*/new,5,2026-01-02T03:04\\r/' out/t.csv", "t2.kcsv",
         "\"ID03\"", "rows 3", &synced, "ID02"},
        {"a schema without the cells' fingerprints ties by place alone",
         "sed -i 's/^\\(row [0-9]* [0-9a-f]*\\):[0-9a-f]*/\\1/' out/t.schema && "
         "sed -i '3s/.*/new,5,2026-01-02T03:04\\r/' out/t.csv",
         "t2.kcsv", "\"ID02\"", "rows 3", &synced, "\"b\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        ASSERT_EQ(0, system(("cp " KIV_SAMPLES "/* " + run.dir).c_str()));
        if (row.table)
            WriteWhole(run.File("t.kcsv"), *row.table);
        else
            ASSERT_EQ(0, run.Kiv("from-csv --classic addr.table addr.txt -o t.kcsv")) << run.Err();
        ASSERT_EQ(0, run.Kiv("to-csv t.kcsv -d out")) << run.Err();
        ASSERT_EQ(0, system(("cd " + run.dir + " && " + row.edit).c_str()));
        ASSERT_EQ(0, run.Kiv("from-csv out/t.csv -o t2.kcsv")) << run.Err();
        ASSERT_EQ(0, run.Kiv("to-csv t2.kcsv -d back")) << run.Err();
        std::string got = ReadWhole(run.File(row.file)), schema = ReadWhole(run.File("back/t2.schema"));
        EXPECT_NE(std::string::npos, got.find(row.line)) << got;
        if (row.absent) {
            EXPECT_EQ(std::string::npos, got.find(row.absent)) << got;
        }
        EXPECT_NE(std::string::npos, schema.find(std::string("\n") + row.rows + "\n")) << schema;
    }
}

// push sends exactly the table from-csv writes.
TEST(KivTableCsvRead, PushSendsTheTable)
{
    KivRun run;
    PutTable(run, kHeader + std::string("\"Yamada\",1234.5,1999-12-31,2001/1/5 23:59,p.gif\r\n"));
    ASSERT_EQ(0, run.Kiv("from-csv in/t.csv -o made.kcsv")) << run.Err();
    std::string made = ReadWhole(run.File("made.kcsv"));
    // kivsim ends at the table's size, not at its 0x1A: a block cut short or
    // carrying more would show.
    ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role receive --no-eof-stop --count " +
                             std::to_string(made.size())));
    EXPECT_EQ(0, run.Kiv(std::string("push in/t.csv --port LINE ") + kCable)) << run.Err();
    run.FinishSim();
    std::string sent = ReadWhole(run.File("rec.bin"));
    EXPECT_EQ(made.size(), sent.size());
    EXPECT_EQ(MaskStamps(made), MaskStamps(sent));
}

// ---- characters ---------------------------------------------------------------

const std::string kTextLayout = "chars" + std::string(28, ' ') + "\r\ntext                 0000\r\n";

// Code page 932 bytes as UTF-8 by the C library's tables; "" for no character.
std::string Utf8(std::string cp932)
{
    static iconv_t cd = iconv_open("UTF-8", "CP932");
    char out[16], *o = out, *in = &cp932[0];
    size_t n = cp932.size(), left = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return iconv(cd, &in, &n, &o, &left) == (size_t)-1 ? "" : std::string(out, (size_t)(o - out));
}

// Every character of code page 932, a row a lead byte, and every code of the
// lead bytes the handheld's set maps as to-csv shows it, apart by blanks,
// through from-csv and to-csv: each comes back, or from-csv named it.
TEST(KivTableCsvRead, EveryCharacterComesBackOrIsNamed)
{
    KivRun run;
    std::string codes, csv = "text\r\n";
    for (int lead : {0x82, 0x84, 0x87, 0x88, 0x98, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xFC, 0xFD}) {
        codes += "\"";
        for (int trail = 0x40; trail <= 0xFC; trail++)
            codes += trail == 0x7F ? "" : std::string{(char)lead, (char)trail, ' '};
        codes += "\"\r\n";
    }
    WriteWhole(run.File("h.table"), kTextLayout);
    WriteWhole(run.File("h.txt"), codes);
    ASSERT_EQ(0, run.Kiv("from-csv --classic h.table h.txt -o h.kcsv")) << run.Err();
    ASSERT_EQ(0, run.Kiv("to-csv h.kcsv -d h")) << run.Err();
    std::string shown = ReadWhole(run.File("h/h.csv"));
    for (size_t at; (at = shown.find("\xEF\xBF\xBD")) != std::string::npos;)
        shown.erase(at, 3);   // codes that are no character
    size_t count = 0;
    for (int lead = 0x80; lead <= 0xFC; lead = lead == 0x9F ? 0xE0 : lead + 1) {   // 0x80: the single bytes
        std::string row;
        for (int trail = lead == 0x80 ? 0x21 : 0x40; trail <= 0xFC; trail++) {
            std::string ch = Utf8(lead == 0x80 ? std::string(1, (char)trail)
                                               : std::string{(char)lead, (char)trail});
            row += ch.empty() || ch == "\x7F" ? "" : (ch == "\"" ? "\"\"" : ch) + " ";
            count += !ch.empty() && lead > 0x80;
        }
        csv += row.empty() ? "" : "\"" + row + "\"\r\n";
    }
    EXPECT_EQ(6879u + 83 + 374 + 388 + 1880, count);   // JIS X 0208, NEC's, IBM's, the user's area
    WriteWhole(run.File("t.csv"), csv + shown.substr(shown.find("\r\n") + 2));
    WriteWhole(run.File("t.schema"), "kiv-table-schema 1\ntable chars\nrows 0\n"
                                     "field 1 kind=text sub=0 id=KD01 column=6 title=text\n");
    ASSERT_EQ(0, run.Kiv("from-csv t.csv -o t.kcsv")) << run.Err();
    std::string err = run.Err(), wrote = ReadWhole(run.File("t.csv"));
    ASSERT_EQ(0, run.Kiv("to-csv t.kcsv -d out")) << run.Err();
    std::string back = ReadWhole(run.File("out/t.csv"));
    size_t changed = 0, at = 0, to = 0;
    for (int line = 1; (at = wrote.find("\r\n", at) + 2) < wrote.size(); line++) {
        to = back.find("\r\n", to) + 2;
        std::string tag = "t.csv: line " + std::to_string(line + 1) + ", column 1 (text): warning: ";
        size_t w = err.find(tag);
        std::string warning = w == std::string::npos ? "" : err.substr(w, err.find('\n', w) - w);
        std::istringstream was(CsvFields(wrote.substr(at, wrote.find("\r\n", at) - at))[0]);
        std::istringstream is(CsvFields(back.substr(to, back.find("\r\n", to) - to))[0]);
        std::vector<std::string> a{std::istream_iterator<std::string>(was), {}},
            b{std::istream_iterator<std::string>(is), {}};
        ASSERT_EQ(a.size(), b.size()) << line;
        for (size_t k = 0; k < a.size(); k++) {
            bool named = warning.find(": " + a[k] + " becomes ") != std::string::npos ||
                         warning.find(", " + a[k] + " becomes ") != std::string::npos;
            changed += a[k] != b[k];
            EXPECT_EQ(a[k] != b[k], named) << a[k] << " came back as " << b[k] << "\n" << warning;
        }
    }
    EXPECT_GT(changed, 40u);
}

// A cell is taken as the user meant it, or refused or warned about with what
// to do, by the table CSV and the application's CSV alike: the number parser
// under both passes over commas, and the handheld's set shows some
// characters as others (push --classic as from-csv).
TEST(KivTableCsvRead, CellsAreTakenAsMeantOrNamed)
{
    const std::string comma =
        "\"0,25\" has a decimal comma: use '.' and no grouping, or save the CSV with '.'";
    const std::string chars = "the handheld's characters differ: \xE3\x8C\x94 becomes \xE3\x80\x80, "
                              "\xE3\x8D\xBB becomes \xE2\x96\xA0";
    struct Row {
        std::string name, sum, flags;
        int status;
        std::string said, shown;   // in stderr after "(TITLE): "; the record after to-csv
        bool push = false;
    } rows[] = {
        {"x", "0,25", "", 6, "(sum): " + comma, ""},
        {"x", "-0,25", "", 6, "(sum): \"-0,25\" has a decimal comma", ""},
        {"x", "1234,5", "", 6, "(sum): \"1234,5\" has a decimal comma", ""},
        {"x", "1.234,5", "", 6, "(sum): \"1.234,5\" has a decimal comma and '.' between groups of digits",
         ""},
        {"x", "1,2,3", "", 6, "(sum): \"1,2,3\" has digit grouping", ""},
        {"x", "12,5 kg", "", 6, "(sum): \"12,5 kg\" is not a number", ""},
        {"x", "1E+021", "", 0, "", "x,1000000000000000000000"},
        {"x", "0,25", "--decimal-comma", 0, "", "x,0.25"},
        {"x", "-0,25", "--decimal-comma", 0, "", "x,-0.25"},
        {"x", "1234,5", "--decimal-comma", 0, "", "x,1234.5"},
        {"x", "1.234,5", "--decimal-comma", 6, "(sum): \"1.234,5\" has digit grouping", ""},
        {"x", "1,2,3", "--decimal-comma", 6, "(sum): \"1,2,3\" has more than one decimal comma", ""},
        {"x", "0.25", "--decimal-comma", 6, "(sum): \"0.25\" has a decimal point, but --decimal-comma", ""},
        {"\xE3\x8C\x94\xE3\x8D\xBB", "1", "", 0, "(name): warning: " + chars, "", true},
        {"\xE3\x8C\x94\xE3\x8D\xBB", "1", "--strict", 6, "(name): " + chars, ""},
    };
    const char* const inputs[] = {"from-csv t.csv -o t.kcsv",
                                  "from-csv --classic --utf8 t.table t.txt -o t.kcsv",
                                  "push --classic --utf8 t.table t.txt --port LINE"};
    for (const Row& row : rows) {
        for (const char* input : inputs) {
            bool push = input[0] == 'p', table = input[9] == 't';
            if (push && !row.push)
                continue;
            SCOPED_TRACE(row.name + "," + row.sum + " " + row.flags + ": " + input);
            KivRun run;
            WriteWhole(run.File("t.schema"), "kiv-table-schema 1\ntable t\nrows 1\n"
                                             "field 1 kind=text sub=0 id=KD01 column=6 title=name\n"
                                             "field 2 kind=number sub=0 id=KD02 column=7 title=sum\n");
            WriteWhole(run.File("t.csv"), "name,sum\r\n" + row.name + ",\"" + row.sum + "\"\r\n");
            WriteWhole(run.File("t.table"), "t\r\nname 0000\r\nsum 0100\r\n");
            WriteWhole(run.File("t.txt"), "\"" + row.name + "\",\"" + row.sum + "\"\r\n");
            // A pushed table ends with its one 0x1A, where kivsim stops; a push
            // refused ends it with the stop file.
            ASSERT_TRUE(!push || run.StartSim(std::string(kSimCable) + " --role receive"));
            EXPECT_EQ(row.status, run.Kiv(std::string(input) + " " + row.flags + (push ? kCable : "")));
            if (push && row.status != 0)
                run.StopSim();
            else if (push)
                run.FinishSim();
            std::string said = (table ? "kiv: t.csv: line 2" : "kiv: t.txt: line 1") +
                               std::string(", column ");
            said += row.said.empty() ? "" : (row.said[1] == 's' ? "2 " : "1 ") + row.said;
            EXPECT_EQ(!row.said.empty(), run.Err().find(said) != std::string::npos) << said << "\n"
                                                                                    << run.Err();
            EXPECT_EQ(row.status == 0, Exists(run.File(push ? "rec.bin" : "t.kcsv")));
            if (!row.shown.empty()) {
                ASSERT_EQ(0, run.Kiv("to-csv t.kcsv -d out")) << run.Err();
                EXPECT_EQ("name,sum\r\n" + row.shown + "\r\n", ReadWhole(run.File("out/t.csv")));
            }
        }
    }
}

}   // namespace
