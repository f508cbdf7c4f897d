// The two conversions through kivconv.dll, as the desktop application calls
// them: a table goes to a Kcsv file and back, and every byte of the files the
// application imports is checked.
#include "kivtest.h"
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

typedef BOOLEAN(WINAPI* Csv2KcsvFn)(const char*, DWORD);
typedef BOOLEAN(WINAPI* Kcsv2CsvFn)(const char*);

struct Exports {
    HMODULE dll = LoadKivLibrary("kivconv.dll");
    Csv2KcsvFn toKcsv = GetExport<Csv2KcsvFn>(dll, "csv2KcsvMC");
    Kcsv2CsvFn toCsv = GetExport<Kcsv2CsvFn>(dll, "Kcsv2csvMC");
};

Exports& Kiv()
{
    static Exports e;
    return e;
}

// Test texts are written in UTF-8 here and stored as code page 932 bytes.
std::string Sjis(const char* utf8)
{
    wchar_t wide[512];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512);
    char out[1024];
    int m = WideCharToMultiByte(932, 0, wide, n, out, sizeof out, nullptr, nullptr);
    return std::string(out, m > 0 ? m - 1 : 0);
}

std::string Pad(const std::string& s, size_t width) { return s + std::string(width - s.size(), ' '); }

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = (char)(rng() & 0xFF);
    return s;
}

std::string Quoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

class ConversionRoundTrip : public ::testing::Test {
protected:
    TempFolder dir;
    void SetUp() override
    {
        ASSERT_NE(nullptr, Kiv().toKcsv);
        ASSERT_NE(nullptr, Kiv().toCsv);
    }
    std::string Path(const char* name) { return dir.File(name); }
};

TEST_F(ConversionRoundTrip, EveryFieldKindComesBackAsTheApplicationImportsIt)
{
    struct Field {
        const char* title;
        const char* code;
    } fields[] = {
        {"氏名", "0000"}, {"金額", "0100"}, {"日時", "0300"}, {"日付", "0301"}, {"年月", "0302"},
        {"時刻", "0303"}, {"時分", "0304"}, {"写真", "0500"}, {"備考", "0000"},
    };
    std::string layout = Pad(Sjis("住所録"), 33) + "\r\n";
    for (const Field& f : fields)
        layout += Pad(Sjis(f.title), 21) + f.code + "\r\n";
    WriteFileBytes(Path("table.table"), layout);

    const std::string images[] = {RandomBytes(1000, 1), RandomBytes(1, 2), RandomBytes(2, 3)};
    WriteFileBytes(Path("p1.jpg"), images[0]);
    WriteFileBytes(Path("p2.gif"), images[1]);
    WriteFileBytes(Path("p3.png"), images[2]);

    struct Row {
        std::string text, number, time, image, note;
    } rows[] = {
        {Sjis("山田 \"太郎\""), "1234.5", "1999/12/31 23:59:58", Path("p1.jpg"), Sjis("①Ⅰ㌔")},
        {"", "-0.001", "2001/01/05 09:05:07", Path("p2.gif"), "a,b"},
        {Sjis("ｶﾅ"), "0", "2026/12/07 00:00:01", Path("p3.png"), "x"},
        {"z", "1234.5", "2000/02/29 12:34:56", "", ""},
    };
    std::string csv;
    for (const Row& r : rows) {
        csv += Quoted(r.text) + "," + Quoted(r.number);
        for (int i = 0; i < 5; i++)
            csv += "," + Quoted(r.time);
        csv += "," + Quoted(r.image) + "," + Quoted(r.note) + "\r\n";
    }
    WriteFileBytes(Path("table.txt"), csv);

    ASSERT_EQ(1, Kiv().toKcsv(Path("table.txt").c_str(), 0));
    std::string kcsv = Path("table.csv");
    ASSERT_EQ(1, Kiv().toCsv(kcsv.c_str()));

    // The layout: 33-byte name and the column count, then 33-byte titles with
    // kind and sub-kind. The picture's format column has no line of its own.
    std::string wantLayout = Pad(Sjis("住所録"), 33) + "0009\r\n";
    const char* kinds[] = {"0000", "0100", "0300", "0301", "0302", "0303", "0304", "0509", "0000"};
    for (int i = 0; i < 9; i++)
        wantLayout += Pad(Sjis(fields[i].title), 33) + kinds[i] + "\r\n";
    EXPECT_EQ(wantLayout, ReadFileBytes(kcsv + ".table"));

    // Records: raw values after a comma each; lengths count characters.
    // ㌔ travels as the full-width blank, so it comes back as one.
    std::string times[4][5] = {
        {"1999/12/31 23:59", "1999/12/31", "1999/12", "23:59:58", "23:59"},
        {"2001/01/05 09:05", "2001/01/05", "2001/01", "09:05:07", "09:05"},
        {"2026/12/07 00:00", "2026/12/07", "2026/12", "00:00:01", "00:00"},
        {"2000/02/29 12:34", "2000/02/29", "2000/02", "12:34:56", "12:34"},
    };
    const char* numbers[] = {"1234.5", "-1E-3", "0", "1234.5"};
    std::string notes[] = {Sjis("①Ⅰ　"), "a,b", "x", ""};
    std::string texts[] = {Sjis("山田 \"太郎\""), "", Sjis("ｶﾅ"), "z"};
    size_t textChars[] = {7, 0, 2, 1};
    size_t noteChars[] = {3, 3, 1, 0};
    std::string wantRec, wantNum;
    for (int r = 0; r < 4; r++) {
        wantRec += "," + texts[r] + "," + numbers[r];
        wantNum += std::to_string(textChars[r]) + "," + std::to_string(strlen(numbers[r]));
        for (const std::string& t : times[r]) {
            wantRec += "," + t;
            wantNum += "," + std::to_string(t.size());
        }
        std::string image;
        if (r < 3)
            image = kcsv + "." + std::to_string(r) + (r == 0 ? ".jpg" : r == 1 ? ".gif" : ".png");
        wantRec += "," + image + "," + notes[r] + "\r\n";
        wantNum += "," + (image.empty() ? "" : std::to_string(image.size()));
        // An empty CSV value travels as a quoted empty text: its length 0 is written.
        wantNum += "," + std::to_string(noteChars[r]) + "\r\n";
    }
    EXPECT_EQ(wantRec, ReadFileBytes(kcsv + ".rec"));
    EXPECT_EQ(wantNum, ReadFileBytes(kcsv + ".num"));

    EXPECT_EQ(images[0], ReadFileBytes(kcsv + ".0.jpg"));
    EXPECT_EQ(images[1], ReadFileBytes(kcsv + ".1.gif"));
    EXPECT_EQ(images[2], ReadFileBytes(kcsv + ".2.png"));
    EXPECT_FALSE(FileExists(kcsv + ".3.jpg"));

    // The Kcsv file ends with the end byte, and no scratch file was left.
    std::string bytes = ReadFileBytes(kcsv);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ('\x1A', bytes.back());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("~pdbl~.$_$"));
}

TEST_F(ConversionRoundTrip, CsvInputPathIsRefusedAndLeftAlone)
{
    WriteFileBytes(Path("own.table"), Pad("T", 33) + "\r\n");
    WriteFileBytes(Path("own.csv"), "\"a\"\r\n");
    EXPECT_EQ(0, Kiv().toKcsv(Path("own.csv").c_str(), 0));
    EXPECT_EQ("\"a\"\r\n", ReadFileBytes(Path("own.csv")));
    EXPECT_FALSE(FileExists(Path("own.cnk")));
}

TEST_F(ConversionRoundTrip, MissingKcsvFileWritesNothing)
{
    EXPECT_EQ(0, Kiv().toCsv(Path("absent.csv").c_str()));
    EXPECT_FALSE(FileExists(Path("absent.csv.table")));
    EXPECT_FALSE(FileExists(Path("absent.csv.rec")));
}

}   // namespace
