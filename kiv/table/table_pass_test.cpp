// Pull's one pass over a table: a Kcsv file read in pieces converts as the
// same table received whole, and a fault anywhere still refuses it; the
// shortcuts the pass takes (plain records, character tables) answer as the
// readers and converters they stand in for.
#include <gtest/gtest.h>
#include <iconv.h>
#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <map>
#include <string>
#include <vector>
#include "background_file.h"
#include "cp932_chars.h"
#include "csv/csv_record.h"
#include "kcsv/field_codecs.h"
#include "kcsv/kcsv_test_util.h"
#include "kiv_convert.h"
#include "plain_record.h"
#include "kcsv_slots.h"
#include "sjis1_chars.h"
#include "table_cells.h"

using namespace kcsvtest;

namespace {

const size_t kPiece = 64 * 1024;   // what the pass reads at a time

// A table of a text (with Japanese characters and quotes), a number and a
// date, long enough to span several pieces.
std::string LongTable(const TempDir& dir, int rows)
{
    std::string layout = "Long" + std::string(29, ' ') + "\r\nName" + std::string(17, ' ') +
                         "0000\r\nAmount" + std::string(15, ' ') + "0100\r\nWhen" + std::string(17, ' ') +
                         "0300\r\n";
    std::string csv;
    for (int r = 0; r < rows; r++)
        csv += "\"\x8e\x52\x93\x63 " + std::to_string(r) + " \"\"q\"\" \x87\x40\",\"" +
               std::to_string(r * 37) + ".5\",\"2001/02/03 04:05\"\r\n";
    std::vector<uint8_t> block;
    std::string error;
    EXPECT_TRUE(WriteWholeFile(dir.File("t.table"), layout) && WriteWholeFile(dir.File("t.txt"), csv));
    EXPECT_EQ(KIV_EXIT_OK, CsvToKcsvBlock(dir.File("t.table"), dir.File("t.txt"), {}, &block, &error))
        << error;
    return std::string(block.begin(), block.end());
}

size_t LineOf(const std::string& text, size_t at)
{
    return 1 + (size_t)std::count(text.begin(), text.begin() + (long)at, '\n');
}

TEST(KivTablePass, ATableReadInPiecesConvertsAsReceivedWhole)
{
    TempDir source;
    const std::string table = LongTable(source, 4000);
    ASSERT_GT(table.size(), 4 * kPiece);
    // Where a fault goes in: at the start of the record that a piece's end
    // cuts, and before the last record.
    std::vector<size_t> cuts;
    for (size_t end = kPiece; end < 4 * kPiece; end += kPiece)
        cuts.push_back(table.rfind("\n\"D\"", end) + 1);
    cuts.push_back(table.rfind("\"D\""));
    struct Row {
        const char* fault;   // put in before the record, or null for none
        const char* says;
    } rows[] = {
        {nullptr, ""},
        {"\"X\"\r\n", "1 columns where the \"I\" record has 9"},
        {"\"D\",x\r\n", "a damaged record"},
    };
    for (const Row& r : rows) {
        for (size_t cut : r.fault ? cuts : std::vector<size_t>{0}) {
            SCOPED_TRACE(std::string(r.says) + " at " + std::to_string(cut));
            std::string kcsv = r.fault ? std::string(table).insert(cut, r.fault) : table;
            TempDir file, received;
            ASSERT_TRUE(WriteWholeFile(file.File("t.kcsv"), kcsv));
            std::string fileError, blockError;
            std::vector<std::string> written;
            int fileRc = KcsvFileToTableCsv(file.File("t.kcsv"), "", {}, &fileError);
            int blockRc = KcsvBlockToTableFiles(std::vector<uint8_t>(kcsv.begin(), kcsv.end()),
                                                received.path.string(), "t", {}, &written, &blockError);
            if (!r.fault) {
                ASSERT_EQ(KIV_EXIT_OK, fileRc) << fileError;
                ASSERT_EQ(KIV_EXIT_OK, blockRc) << blockError;
                std::string csv = ReadWholeFile(file.File("t.csv"));
                EXPECT_EQ(4001, std::count(csv.begin(), csv.end(), '\n'));   // the titles and every row
                EXPECT_EQ(csv, ReadWholeFile(received.File("t.csv")));
                EXPECT_EQ(ReadWholeFile(file.File("t.schema")), ReadWholeFile(received.File("t.schema")));
                continue;
            }
            std::string where = ": line " + std::to_string(LineOf(kcsv, cut)) + ": " + r.says;
            EXPECT_EQ(KIV_EXIT_CONVERT, fileRc);
            EXPECT_EQ(file.File("t.kcsv") + where,
                      fileError.substr(0, file.File("t.kcsv").size() + where.size()));
            EXPECT_EQ(KIV_EXIT_CONVERT, blockRc);
            EXPECT_NE(std::string::npos, blockError.find(where)) << blockError;
            EXPECT_FALSE(fs::exists(file.File("t.csv")) || fs::exists(file.File("t.schema")));
            EXPECT_FALSE(fs::exists(received.File("t.csv")) || fs::exists(received.File("t.schema")));
        }
    }
}

TEST(KivTablePass, PlainRecordsReadAsTheCoreReaderReadsThem)
{
    struct Row {
        const char* line;   // without its LF
        bool plain;
    } rows[] = {
        {"\"D\",\" \",,\"19991231235958\",\"a\"\"b\",\"\"", true},
        {"\"D\",\"x\",\r", true},
        {"\"D\",\"a,b\",,", true},
        {"\"D\",\"a\"\",b\",\"c\"\"\"", true},   // a doubled quote before a comma
        {",", true},
        {"\"D\",x", false},          // an unquoted value
        {"\"D\",\"a\"b\"", false},   // a quote that neither doubles nor ends the field
        {"\"D\",\"a\rb\"", false},   // a CR inside a field
        {"\"D\",\"open", false},
        {"\"D\",\"a\"\"", false},   // the field runs on past the line
        {"", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        std::string text = std::string(r.line) + "\n", values;
        CsvRecord plain, core;
        std::vector<std::string_view> slots;
        int n = ReadPlainRecord(r.line, &values, &plain, &slots);
        EXPECT_EQ(r.plain, n > 0);
        if (n == 0)
            continue;
        // The slots are the ones the conversion would split the line into.
        std::vector<std::string_view> split;
        size_t end = 0;
        ASSERT_TRUE(SplitKcsvRecordViews(text, &end, false, &split));
        EXPECT_EQ(split, slots);
        EXPECT_EQ(text.size(), end);
        TextStream* ts = TextOpenMemory(text.data(), text.size());
        ASSERT_EQ(ReadCsvRecord(ts, &core), n);
        for (int i = 0; i < CSV_MAX_FIELDS; i++) {
            ASSERT_EQ(core.fields[i] == nullptr, plain.fields[i] == nullptr) << i;
            if (core.fields[i]) {
                EXPECT_STREQ(core.fields[i], plain.fields[i]) << i;
            }
        }
        FreeCsvRecord(&core);
        TextClose(ts);
    }
}

// iconv's own answer for bytes, or "-" when it has none.
std::string Iconv(const char* to, const char* from, const std::string& in)
{
    static struct Open {
        std::map<std::string, iconv_t> cds;
        ~Open()
        {
            for (auto& cd : cds)
                iconv_close(cd.second);
        }
    } open;
    iconv_t& cd = open.cds[std::string(to) + "<" + from];
    if (!cd)
        cd = iconv_open(to, from);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(16, '\0');
    char* src = const_cast<char*>(in.data());
    char* dst = &out[0];
    size_t srcLeft = in.size(), dstLeft = out.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != (size_t)-1 && srcLeft == 0;
    return ok ? out.substr(0, out.size() - dstLeft) : "-";
}

bool Take(const char* converted, void* result)
{
    *(std::string*)result = converted;
    return true;
}

// The core's SJIS1 answer for text.
std::string CoreSjis1(const std::string& text, bool toPc)
{
    std::string out;
    WithSjis1Text(text.c_str(), toPc, Take, &out);
    return out;
}

TEST(KivTablePass, CharacterTablesAnswerAsIconvAndTheCoreDo)
{
    // Every character each way: single bytes, lead and second bytes, and the
    // code points up to U+FFFF.
    std::vector<std::string> cp932, utf8;
    for (int b = 1; b < 256; b++)
        for (int t = 0; t < 256; t++)
            cp932.push_back(t == 0 ? std::string(1, (char)b) : std::string{(char)b, (char)t});
    for (long cp = 1; cp < 0x10000; cp++) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        std::string u = Iconv("UTF-8", "UTF-32LE", std::string{(char)(cp & 0xFF), (char)(cp >> 8), 0, 0});
        utf8.push_back(u);
    }
    size_t converted = 0;
    for (const std::string& in : cp932) {
        std::string out;
        bool back = false;
        if (Cp932ToUtf8ByTable(in, &out, &back)) {
            converted++;
            ASSERT_EQ(Iconv("UTF-8", "CP932", in), out) << std::hex << (unsigned char)in[0];
            EXPECT_EQ(back, Iconv("CP932", "UTF-8", out) == in);
        }
        std::string handheld = in + "A";   // the pair and a character after it
        std::string decoded, encoded;
        if (Sjis1ByTable(handheld, true, &decoded)) {
            ASSERT_EQ(CoreSjis1(handheld, true), decoded);
        }
        if (Sjis1ByTable(handheld, false, &encoded)) {
            ASSERT_EQ(CoreSjis1(handheld, false), encoded);
        }
    }
    EXPECT_GT(converted, 7000u);   // every character code page 932 has
    for (const std::string& in : utf8) {
        std::string out;
        if (Utf8ToCp932ByTable(in, &out)) {
            ASSERT_EQ(Iconv("CP932", "UTF-8", in), out);
        }
    }
}

// The text cell's round trip in one step says what the two steps say: the
// cell, and whether the cell gives the slot back.
TEST(KivTablePass, TextCellsRebuildWhatTheTwoStepsRebuild)
{
    std::vector<std::string> values = {
        "plain",        "\x8e\x52\x93\x63 \"q\" \x87\x40",
        "a\nb",         "\x81\"q\"",
        "end\x81",      "\xEB\x41\xFC\x40",
        "\xEF\xBB\xBF", "\x87\x90\x81\xE0",   // the NEC and the standard form of one character
    };
    for (int b = 0x80; b < 256; b++)
        for (int t = 1; t < 256; t++)
            values.push_back(std::string{(char)b, (char)t, ' '});
    for (const std::string& value : values) {
        SCOPED_TRACE(value);
        std::string slot = QuoteSlot(value), cell, canonical, room;
        bool rebuilds = TextCellRebuilds(value, slot, &cell, &room);
        ASSERT_EQ(TextCell(value), cell);
        ASSERT_EQ(TextSlot(cell, &canonical) && canonical == slot, rebuilds);
    }
}

}   // namespace

TEST(KivTablePass, SlotValuesAndQuotedSlotsAgree)
{
    const char* values[] = {"a", "ab c", "a\"b", "\"", "\"\"x\"", "a,b", "x\r\ny", "\n", "\x8e\x52\x93\x63"};
    for (const char* v : values) {
        SCOPED_TRACE(v);
        std::string value = v, slot = QuoteSlot(value), lineless = value;
        lineless.erase(
            std::remove_if(lineless.begin(), lineless.end(), [](char c) { return c == '\r' || c == '\n'; }),
            lineless.end());
        EXPECT_EQ(lineless, SlotValue(slot));   // line breaks in a slot are dropped
        EXPECT_TRUE(IsQuotedSlotOf(slot, value));
        // A slot off by a byte anywhere, or cut short, is not the value's.
        for (size_t i = 0; i < slot.size(); i++) {
            std::string other = slot;
            other[i] = other[i] == 'z' ? 'y' : 'z';
            EXPECT_FALSE(IsQuotedSlotOf(other, value)) << i;
        }
        EXPECT_FALSE(IsQuotedSlotOf(slot.substr(0, slot.size() - 1), value));
        EXPECT_FALSE(IsQuotedSlotOf(value, value));
    }
}

TEST(KivTablePass, NumberSlotsAreToldWithoutMakingThem)
{
    const std::vector<std::string> cells = {"", "0", "37.5", "-1.25", "123456789012345678901", "0.001"};
    for (size_t i = 0; i < cells.size(); i++) {
        SCOPED_TRACE(cells[i]);
        for (size_t j = 0; j < cells.size(); j++)
            EXPECT_EQ(i == j, IsNumberSlotOf(NumberSlot(cells[j]), cells[i])) << cells[j];
        std::string slot = NumberSlot(cells[i]);
        for (size_t k = 0; k < slot.size(); k++) {
            std::string other = slot;
            other[k] = other[k] == 'z' ? 'y' : 'z';
            EXPECT_FALSE(IsNumberSlotOf(other, cells[i])) << k;
        }
    }
}

TEST(KivTablePass, TheCsvWrittenByItsOwnThreadHoldsEveryByteInOrder)
{
    struct Case {
        size_t pieces, size;   // written as that many pieces of that size
        bool full;             // to a device that takes nothing
    } cases[] = {{0, 0, false}, {1, 10, false}, {5000, 97, false}, {3, 300 * 1024, false}, {3000, 97, true}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pieces) + " x " + std::to_string(c.size));
        std::string path = c.full ? "/dev/full" : dir.File("out.csv"), expected;
        BackgroundFile file;
        ASSERT_TRUE(OpenBackgroundFile(&file, path));
        bool ok = true;
        for (size_t p = 0; p < c.pieces; p++) {
            std::string piece(c.size, (char)('a' + p % 26));
            expected += piece;
            ok = ok && BackgroundWrite(&file, piece.data(), piece.size());
        }
        int err = CloseBackgroundFile(&file);
        EXPECT_EQ(c.full ? ENOSPC : 0, err);
        EXPECT_EQ(!c.full, ok || err == 0);
        if (c.full)
            continue;
        std::ifstream in(path, std::ios::binary);
        std::stringstream got;
        got << in.rdbuf();
        EXPECT_EQ(expected, got.str());
    }
}
