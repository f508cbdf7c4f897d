#include "kcsv/csv_to_kcsv.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "kcsv/chunk_file.h"
#include "kcsv/field_codecs.h"
#include "kcsv/kcsv_fault_check.h"
#include "kcsv/kcsv_test_util.h"

using namespace kcsvtest;

namespace {

const std::string kSystemIds = R"("SCRT","tPID","mDTM","mISC","CTGR")";
const std::string kSystemTitles =
    "\"\x83\x41\x83\x67\x83\x8A\x83\x72\x83\x85\x81\x5B\x83\x67\",\"\x83\x56\x83\x93\x83\x4E\x83\x8D"
    "ID\",\"\x8F\x43\x90\xB3\x8E\x9E\x8D\x8F\",\"PIM_DB_DATA\",\"\x83\x4A\x83\x65\x83\x53\x83\x8A\x81\x5B\"";
const std::string kPhoto1 = "\"\x8E\xCA\x90\x5E\x82\x50\x8C\x60\x8E\xAE\"";   // 写真１形式
const std::string kPhotoA = "\"\x8E\xCA\x90\x5E\x82\x60\x8C\x60\x8E\xAE\"";   // 写真Ａ形式

std::string Pad(const std::string& s, size_t width) { return s + std::string(width - s.size(), ' '); }
std::string Line(const std::string& title, const char* codes, const char* eol = "\r\n")
{
    return Pad(title, 21) + codes + eol;
}
std::string Head(const char* name, const char* eol = "\r\n") { return Pad(name, 33) + eol; }

// Writes base.table and the CSV input, converts, and answers the result.
bool Convert(const TempDir& dir, const std::string& layout, const std::string& csv,
             const char* input = "addr.txt")
{
    EXPECT_TRUE(WriteWholeFile(dir.File("addr.table"), layout));
    EXPECT_TRUE(WriteWholeFile(dir.File(input), csv));
    return ConvertEverywhere(ConvertCsvToKcsv, dir.path.string(), dir.File(input));
}

// The records of a Kcsv file; the end byte, when present, is the last entry.
std::vector<std::string> Records(const std::string& kcsv)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    for (size_t end; (end = kcsv.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        lines.push_back(kcsv.substr(pos, end - pos));
    if (pos < kcsv.size())
        lines.push_back(kcsv.substr(pos));
    return lines;
}

// Replaces the 14-digit stamp at pos with <stamp>, failing when it is none.
std::string Unstamp(std::string line, size_t pos)
{
    std::string stamp = line.substr(pos, 14);
    EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos) << line;
    EXPECT_EQ(stamp.size(), 14u) << line;
    return line.replace(pos, 14, "<stamp>");
}
std::string UnstampH(const std::string& line) { return Unstamp(line, 17); }
std::string UnstampM(const std::string& line) { return Unstamp(line, line.size() - 15); }
std::string UnstampD(const std::string& line) { return Unstamp(line, 10); }

std::string NumberText(const TempDir& dir, const char* value)
{
    TextStream* ts = TextOpenWrite(dir.File("number").c_str());
    EXPECT_TRUE(EncodeNumberField(value, ts));
    TextClose(ts);
    return ReadWholeFile(dir.File("number"));
}

std::string Text3to4(const std::string& bytes)
{
    std::string text(Encoded3to4Length(bytes.size()), '\0');
    Encode3to4Bytes(bytes.data(), bytes.size(), &text[0]);
    return text;
}

// Chunk file pieces, built by hand.
std::string Le16(uint16_t v) { return std::string{(char)v, (char)(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16((uint16_t)v) + Le16((uint16_t)(v >> 16)); }
std::string Zeros(size_t n) { return std::string(n, '\0'); }
std::string Item(uint16_t tag, const std::string& data)
{
    return Le16(tag) + Le32(6 + (uint32_t)data.size()) + data;
}
std::string Record(uint16_t type, const std::string& items)
{
    return Le16(type) + Le32(12 + (uint32_t)items.size()) + items + Zeros(6);
}
std::string Chunk(const std::string& records)
{
    return std::string("\x78\x56\x34\x12\x10", 5) + Le32(9 + (uint32_t)records.size() + 6) + records +
           Zeros(6);
}
std::string TableRecord(const char* name)
{
    std::string header = "TBLECONV" + Zeros(20) + "KD01" + Zeros(28);
    return Record(1, Item(150, header) + Item(151, std::string(name, strlen(name) + 1)));
}
std::string FieldRecord(const char* id, char kind, char attr1, char attr2, const std::string& extra)
{
    return Record(2, Item(153, std::string(id) + kind + attr1 + attr2 + Zeros(17)) + extra);
}
std::string TextField(const char* id) { return FieldRecord(id, 1, 2, 0, Item(154, "\xFF" + Zeros(15))); }
std::string NumberField(const char* id) { return FieldRecord(id, 1, 11, 2, ""); }
std::string TimeField(const char* id, char sub)
{
    return FieldRecord(id, 4, 6, 0, Item(155, sub + Zeros(16)));
}

// The chunk file with its packed stamp (bytes 34-38) zeroed.
std::string ChunkWithoutStamp(const TempDir& dir)
{
    std::string chunk = ReadWholeFile(dir.File("addr.cnk"));
    EXPECT_GT(chunk.size(), 39u);
    if (chunk.size() > 39)
        chunk.replace(34, 5, Zeros(5));
    return chunk;
}

TEST(CsvToKcsv, EveryFieldKindByteForByte)
{
    TempDir dir;
    const std::string gif("GIF89a\x1A\r\n\0\xFF", 11), jpg("\xFF\xD8\xFF\x1A\n", 5),
        png("\x89PNG\r\n\x1A\n", 8);
    WriteWholeFile(dir.File("p.gif"), gif);
    WriteWholeFile(dir.File("p.jpg"), jpg);
    WriteWholeFile(dir.File("p.jpeg"), "abc");
    WriteWholeFile(dir.File("p.png"), png);
    std::string layout = Head("Addr") + Line("\x87\x40\x8E\x81\x96\xBC", "0000") + Line("Amount", "0100") +
                         Line("Blob", "0200") + Line("Born", "0301") + Line("Code", "0400") +
                         Line("Photo", "0500");
    std::string csv =
        "\"\x87\x40\x8E\x52\x93\x63 \"\"Taro\"\"\",\"1234.5\",\"b\",\"1999/12/31 23:59:58\",\"c\",\"" +
        dir.File("p.gif") + "\"\n" + "\"\",\"-0.001\",,\"1999/1/5 9:05\",,\"" + dir.File("p.jpg") + "\"\n" +
        "\"x\",\"1,234E2\",,\"12:34\",,\"" + dir.File("p.jpeg") + "\"\n" + "\"y\",\"abc\",,\"\",,\"" +
        dir.File("p.png") + "\",\"beyond the layout\"\n" + "\"z\"\n";
    ASSERT_TRUE(Convert(dir, layout, csv));

    std::vector<std::string> r = Records(ReadWholeFile(dir.File("addr.csv")));
    ASSERT_EQ(r.size(), 13u);
    EXPECT_EQ(UnstampH(r[0]), R"("H","04","RVC2","<stamp>","0001","00000005")");
    EXPECT_EQ(r[1], "\"I\"," + kSystemIds + R"(,"KD01","KD02","KD03","KD04","KD05","IM01","IMI1")");
    EXPECT_EQ(UnstampM(r[2]),
              R"("M","04","RVC2","0005","_PIO","BOXFILE","KPIN9999.BOX","1.1","20","<stamp>")");

    std::string chunk = ReadWholeFile(dir.File("addr.cnk"));
    std::string images = "\x01" + Zeros(3) + Zeros(8) + "IM01IMI1" + Zeros(4);
    EXPECT_EQ(ChunkWithoutStamp(dir), Chunk(TableRecord("Addr") + TextField("KD01") + NumberField("KD02") +
                                            TimeField("KD04", 1) + Record(5, Item(160, images))));
    EXPECT_EQ(r[3], "\"P\",\"10\",\"" + Text3to4(chunk) + "\"");

    EXPECT_EQ(
        r[4],
        R"("S","BIT","BINARY","TIME","BINARY","CATEGORY","CODE","CODE","BINARY","TIME","CODE","BINARY","UCHAR")");
    EXPECT_EQ(
        r[5],
        R"("C","ATTRIB","IGNORE","TIME","IGNORE","CATEGORY","SJIS1","3TO4","3TO4","TIME","SJIS1","3TO4","1BHEX2")");
    EXPECT_EQ(r[6], "\"T\"," + kSystemTitles +
                        ",\"\xED\x40\x8E\x81\x96\xBC\",\"Amount\",\"Blob\",\"Born\","
                        "\"Code\",\"Photo\"," +
                        kPhoto1);

    const std::string d = "\"D\",\" \",,\"<stamp>\",,,";
    EXPECT_EQ(UnstampD(r[7]), d + "\"\xED\x40\x8E\x52\x93\x63 \"\"Taro\"\"\",\"" + NumberText(dir, "1234.5") +
                                  "\",,\"19991231235958\",,\"" + Text3to4(gif) + "\",\"05\"");
    EXPECT_EQ(UnstampD(r[8]), d + "\"\",\"" + NumberText(dir, "-0.001") + "\",,\"199915905\",,\"" +
                                  Text3to4(jpg) + "\",\"03\"");
    EXPECT_EQ(UnstampD(r[9]), d + "\"x\",\"" + NumberText(dir, "123400") + "\",,\"1234\",,\"789P\",\"03\"");
    EXPECT_EQ(UnstampD(r[10]),
              d + "\"y\",\"" + NumberText(dir, "0") + "\",,\"\",,\"" + Text3to4(png) + "\",\"06\"");
    EXPECT_EQ(UnstampD(r[11]), d + "\"z\",,,,,,");
    EXPECT_EQ(r[12], "\x1A");
}

TEST(CsvToKcsv, TimeValuesKeepTheirDigitsAndSubKinds)
{
    TempDir dir;
    std::string layout = Head("T") + Line("Free", "0003") + Line("Min", "0300") + Line("Date", "0301") +
                         Line("Month", "0302") + Line("Sec", "0303") + Line("HM", "0304") +
                         Line("Odd", "0305");
    std::string csv = "\"x\",\"2000/01/02 03:04:05.678\",\"12345678901234567890\",\"\x8C\xDF\x8C\xE3"
                      "3\x8E\x9E\","
                      "\"--\",\"23:59:58\",\"9:05\"\n";
    ASSERT_TRUE(Convert(dir, layout, csv));
    std::vector<std::string> r = Records(ReadWholeFile(dir.File("addr.csv")));
    ASSERT_EQ(r.size(), 9u);
    // Digits past the 14 of a stamp are cut; other characters dropped.
    EXPECT_EQ(UnstampD(r[7]),
              R"("D"," ",,"<stamp>",,,"x","20000102030405","12345678901234","3","","235958","905")");
    EXPECT_EQ(ChunkWithoutStamp(dir),
              Chunk(TableRecord("T") + TextField("KD01") + TimeField("KD02", 0) + TimeField("KD03", 1) +
                    TimeField("KD04", 2) + TimeField("KD05", 3) + TimeField("KD06", 4) +
                    TimeField("KD07", 0)));
}

TEST(CsvToKcsv, BaseNameDerivation)
{
    TempDir dir;
    fs::create_directory(dir.path / "data.old");
    struct Case {
        std::string input, base;
    } cases[] = {
        {dir.File("addr.txt"), dir.File("addr")},
        {dir.File("addr.v1.txt"), dir.File("addr.v1")},
        {(dir.path / "data.old" / "addr").string(), (dir.path / "data.old" / "addr").string()},
    };
    for (const Case& c : cases) {
        WriteWholeFile(c.base + ".table", Head("A") + Line("N", "0000"));
        WriteWholeFile(c.input, "\"1\"\n");
        EXPECT_TRUE(ConvertEverywhere(ConvertCsvToKcsv, dir.path.string(), c.input)) << c.input;
        EXPECT_EQ(Records(ReadWholeFile(c.base + ".csv")).size(), 9u) << c.input;
        EXPECT_TRUE(fs::exists(c.base + ".cnk")) << c.input;
    }
    EXPECT_FALSE(fs::exists(dir.File("data.csv")));
}

TEST(CsvToKcsv, RowsEndAtAnEmptyOrRejectedLine)
{
    TempDir dir;
    std::string layout = Head("A") + Line("N", "0000");
    struct Case {
        const char* csv;
        const char* count;
        size_t rows;
    } cases[] = {
        {"\"1\"\n\"2\"\n\"3\"\n\n\"4\"\n\"5\"\n", "00000003", 3},
        {"\"1\"\r\n\"2\"", "00000002", 2},   // the last line needs no line end
        {"\"1\"\nbare\n\"3\"\n", "00000001", 1},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Convert(dir, layout, c.csv)) << c.csv;
        std::vector<std::string> r = Records(ReadWholeFile(dir.File("addr.csv")));
        ASSERT_EQ(r.size(), 8 + c.rows) << c.csv;
        EXPECT_EQ(UnstampH(r[0]), R"("H","04","RVC2","<stamp>","0001",")" + std::string(c.count) + "\"");
        EXPECT_EQ(r[2].substr(0, 23), R"("M","04","RVC2",")" + std::string(c.count + 4) + "\",");
        for (size_t i = 0; i < c.rows; i++)
            EXPECT_EQ(r[7 + i].substr(0, 4), "\"D\",");
        EXPECT_EQ(r.back(), "\x1A");
    }
}

TEST(CsvToKcsv, LayoutWithoutFieldsAndNoRows)
{
    TempDir dir;
    ASSERT_TRUE(Convert(dir, Head("Memo"), ""));
    std::vector<std::string> r = Records(ReadWholeFile(dir.File("addr.csv")));
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(UnstampH(r[0]), R"("H","04","RVC2","<stamp>","0001","00000000")");
    EXPECT_EQ(r[1], "\"I\"," + kSystemIds);
    EXPECT_EQ(UnstampM(r[2]).substr(0, 23), R"("M","04","RVC2","0000",)");
    EXPECT_EQ(r[4], R"("S","BIT","BINARY","TIME","BINARY","CATEGORY")");
    EXPECT_EQ(r[6], "\"T\"," + kSystemTitles);
    std::string chunk = ReadWholeFile(dir.File("addr.cnk"));
    EXPECT_EQ(chunk.size(), 9u + 85 + 4 + 6);
    EXPECT_EQ(ChunkWithoutStamp(dir), Chunk(TableRecord("Memo")));
}

// Image columns that name no usable image stay empty, both of them.
TEST(CsvToKcsv, ImagePathsThatGiveNoImage)
{
    TempDir dir;
    fs::path cwd = fs::current_path();
    fs::current_path(dir.path);
    for (const char* name : {"a.gif", "ab.gif", "ab.GIF", "pic.bmp"})
        WriteWholeFile(name, "abc");
    std::string csv;
    for (const char* value : {"a.gif", "ab.gif", "ab.GIF", "pic.bmp", "missing.png", ""})
        csv += "\"" + std::string(value) + "\"\n";
    bool ok = Convert(dir, Head("I") + Line("Photo", "0500"), csv);
    std::vector<std::string> r = Records(ReadWholeFile("addr.csv"));
    fs::current_path(cwd);
    ASSERT_TRUE(ok);
    ASSERT_EQ(r.size(), 14u);
    const char* values[] = {",", "\"789P\",\"05\"", ",", ",", ",", ","};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(UnstampD(r[7 + i]), std::string("\"D\",\" \",,\"<stamp>\",,,") + values[i]) << i;
}

TEST(CsvToKcsv, FailuresLeaveWhatWasWritten)
{
    std::string layout = Head("A") + Line("N", "0000");
    {   // no CSV input, no layout: an empty output
        TempDir dir;
        WriteWholeFile(dir.File("addr.table"), layout);
        EXPECT_FALSE(ConvertEverywhere(ConvertCsvToKcsv, dir.path.string(), dir.File("addr.txt")));
        EXPECT_TRUE(fs::exists(dir.File("addr.csv")));
        EXPECT_EQ(ReadWholeFile(dir.File("addr.csv")), "");
        fs::remove(dir.File("addr.table"));
        WriteWholeFile(dir.File("addr.txt"), "\"1\"\n");
        EXPECT_FALSE(ConvertEverywhere(ConvertCsvToKcsv, dir.path.string(), dir.File("addr.txt")));
        EXPECT_EQ(ReadWholeFile(dir.File("addr.csv")), "");
        EXPECT_FALSE(fs::exists(dir.File("addr.cnk")));
    }
    {   // no chunk file: "H", "I", "M" and no end byte
        TempDir dir;
        fs::create_directory(dir.File("addr.cnk"));
        EXPECT_FALSE(Convert(dir, layout, "\"1\"\n"));
        std::vector<std::string> r = Records(ReadWholeFile(dir.File("addr.csv")));
        ASSERT_EQ(r.size(), 3u);
        EXPECT_EQ(r[2].substr(0, 3), "\"M\"");
    }
    {   // no output: nothing written
        TempDir dir;
        fs::create_directory(dir.File("addr.csv"));
        EXPECT_FALSE(Convert(dir, layout, "\"1\"\n"));
        EXPECT_FALSE(fs::exists(dir.File("addr.cnk")));
    }
}

// Inputs the conversion would overwrite, and names Windows cannot open.
TEST(CsvToKcsv, RefusedBeforeCreatingAnything)
{
    TempDir dir;
    std::string layout = Head("A") + Line("N", "0000");
    for (const char* input : {"addr.csv", "addr.CSV", "addr.cnk"}) {
        ASSERT_FALSE(Convert(dir, layout, "\"1\"\n", input)) << input;
        EXPECT_EQ(ReadWholeFile(dir.File(input)), "\"1\"\n") << input;
        fs::remove(dir.File(input));
        EXPECT_FALSE(fs::exists(dir.File("addr.csv")) || fs::exists(dir.File("addr.cnk"))) << input;
    }

    // The layout's name is the longest: base + ".table" and its NUL fill 260 bytes at most.
    std::string prefix = dir.File("");
    for (size_t baseLength : {259 - 6, 260 - 6}) {
        std::string base = prefix + std::string(baseLength - prefix.size(), 'b');
        WriteWholeFile(base + ".table", layout);
        WriteWholeFile(base, "\"1\"\n");
        EXPECT_EQ(ConvertEverywhere(ConvertCsvToKcsv, dir.path.string(), base), baseLength == 259 - 6)
            << baseLength;
        EXPECT_EQ(fs::exists(base + ".csv"), baseLength == 259 - 6) << baseLength;
    }
}

TEST(CsvToKcsv, LayoutsBeyondTheFormatAreRefused)
{
    auto lines = [](int count, const char* codes) {
        std::string s;
        for (int i = 0; i < count; i++)
            s += Line("F" + std::to_string(i), codes);
        return s;
    };
    struct Case {
        std::string fields;
        bool fits;
    } cases[] = {
        {lines(95, "0000") + lines(6, "0500"), false},
        {lines(11, "0500"), false},
        {lines(100, "0100"), false},
        {lines(90, "0000") + lines(10, "0500"), true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteWholeFile(dir.File("addr.csv"), "earlier");
        EXPECT_EQ(Convert(dir, Head("A") + c.fields, "\"1\"\n"), c.fits);
        std::vector<std::string> r = Records(ReadWholeFile(dir.File("addr.csv")));
        if (!c.fits) {
            EXPECT_EQ(r, std::vector<std::string>{"earlier"});
            EXPECT_FALSE(fs::exists(dir.File("addr.cnk")));
            continue;
        }
        ASSERT_EQ(r.size(), 9u);
        EXPECT_NE(r[1].find(R"("KD90","IM01","IMI1",)"), std::string::npos);
        EXPECT_EQ(r[1].substr(r[1].size() - 27), R"("IM09","IMI9","IM0A","IMIA")");
        EXPECT_EQ(r[6].substr(r[6].size() - 17), "\"F9\"," + kPhotoA);
    }
}

TEST(CsvToKcsv, TitlesAreQuotedFieldsWhateverTheLineEnds)
{
    for (const char* eol : {"\r\n", "\n"}) {
        TempDir dir;
        std::string layout = Head("Q", eol) + Line("Say \"hi\"", "0000", eol) + Line("", "0500", eol) +
                             Line("123456789012345678901", "0000", eol) + Line(" lead", "0000", eol);
        ASSERT_TRUE(Convert(dir, layout, "")) << eol;
        std::vector<std::string> r = Records(ReadWholeFile(dir.File("addr.csv")));
        ASSERT_EQ(r.size(), 8u);
        EXPECT_EQ(r[6], "\"T\"," + kSystemTitles + R"(,"Say ""hi"""," ",)" + kPhoto1 +
                            R"(,"123456789012345678901"," lead")");
        EXPECT_EQ(r[1], "\"I\"," + kSystemIds + R"(,"KD01","IM01","IMI1","KD02","KD03")") << eol;
    }
}

}   // namespace
