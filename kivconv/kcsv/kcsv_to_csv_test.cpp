#include "kcsv/kcsv_to_csv.h"
#include <gtest/gtest.h>
#include <string>
#include "kcsv/kcsv_compose_test.h"
#include "kcsv/kcsv_fault_check.h"
#include "kcsv/kcsv_test_util.h"

using namespace kcsvtest;

namespace {

const char* const kStamp = "19991231235958";
const char* const _ = nullptr;

struct Output {
    bool ok;
    std::string in, table, rec, num, tab;
};

Output Convert(const TempDir& dir, const std::string& kcsv)
{
    Output o;
    o.in = dir.File("in.csv");
    EXPECT_TRUE(WriteWholeFile(o.in, kcsv + "\x1A"));
    o.ok = ConvertEverywhere(ConvertKcsvToCsv, dir.path.string(), o.in);
    o.table = ReadWholeFile(o.in + ".table");
    o.rec = ReadWholeFile(o.in + ".rec");
    o.num = ReadWholeFile(o.in + ".num");
    o.tab = ReadWholeFile(o.in + ".tab");
    return o;
}

long FileCount(const TempDir& dir)
{
    return std::distance(fs::directory_iterator(dir.path), fs::directory_iterator());
}

std::string Bytes(const char* head)   // a picture: a file's head and every byte value
{
    std::string s = head;
    for (int i = 0; i < 256; i++)
        s += (char)i;
    return s;
}

const std::string kAlbumHead = KcsvLine({"M", "04", "RVC2", "0001", "_PIO", "BOXFILE", "KPINPANT.BOX"});

std::string AlbumRow(const Fields& values)   // the six leading columns, then columns 7 to 20
{
    Fields d = {"D", " ", _, kStamp, _, _, _};
    d.insert(d.end(), values.begin(), values.end());
    return KcsvLine(d);
}

TEST(KcsvToCsv, EveryFieldKindByteForByte)
{
    TempDir dir;
    std::string desc = Chunk(NameRec("\xEC\x40"
                                     "Addr") +
                             FieldRec("KD01", 1, 2) + FieldRec("KD02", 1, 11, 2) +
                             FieldRec("KD03", 4, 6, 0, 0, 0, 0) + FieldRec("KD04", 4, 6, 0, 0, 0, 1) +
                             FieldRec("KD05", 4, 6, 0, 0, 0, 2) + FieldRec("KD06", 4, 6, 0, 0, 0, 3) +
                             FieldRec("KD07", 4, 6, 0, 0, 0, 4) + FieldRec("KD08", 6) +
                             FieldRec("KD09", 9, 0, 6));
    std::string kcsv = KcsvHeader(
        {"KD01", "KD02", "KD03", "KD04", "KD05", "KD06", "KD07", "KD08", "KD09"}, desc,
        {"\xED\x40Name", "Amount", "When", "Day", "Month", "Clock", "HM", "Bin", "Code"});
    const char *t = kStamp, *s = "1999123123";   // s is too short for sub-kinds 0, 3 and 4
    std::string n[] = {NumberText("1234.5"), NumberText("-0.001"), NumberText("0"),
                       NumberText("999999999999999999999"), NumberText("12345678901")};
    kcsv += DataLine({"a\"b\xEC\xAA\x88\x9F", n[0].c_str(), t, t, t, t, t, "xyz", "abc"}) +
            DataLine({"", n[1].c_str(), s, s, s, s, s}) + DataLine({_, n[2].c_str()}) +
            DataLine({"\xED\x40\xED\x41\xED\x42\xED\x43", n[3].c_str()}) + DataLine({_, n[4].c_str()}) +
            DataLine({_, "ab"}) + DataLine({_, "zzzzzzzzzzzzzzzzzzzz"});   // short, and no key
    Output o = Convert(dir, kcsv);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.tab, desc);
    EXPECT_EQ(o.table, LayoutLine("\x82\x9F"
                                  "Addr",
                                  "0009") +
                           LayoutLine("\x87\x40Name", "0000") + LayoutLine("Amount", "0100") +
                           LayoutLine("When", "0300") + LayoutLine("Day", "0301") +
                           LayoutLine("Month", "0302") + LayoutLine("Clock", "0303") +
                           LayoutLine("HM", "0304") + LayoutLine("Bin", "0200") + LayoutLine("Code", "0400"));
    EXPECT_EQ(o.rec, ",a\"b\xB6\xDE\x88\x9F,1234.5,1999/12/31 23:59,1999/12/31,1999/12,23:59:58,23:59,,\r\n"
                     ",,-1E-3,,1999/12/31,1999/12,,,,\r\n,,0,,,,,,,\r\n"
                     ",\x87\x40\x87\x41\x87\x42\x87\x43,1E+21,,,,,,,\r\n,,1.2345678901E+10,,,,,,,\r\n"
                     ",,,,,,,,,\r\n,,,,,,,,,\r\n");
    EXPECT_EQ(o.num, "6,6,16,10,7,8,5,,\r\n0,5,,10,7,,,,\r\n,1,,,,,,,\r\n4,5,,,,,,,\r\n,16,,,,,,,\r\n"
                     ",,,,,,,,\r\n,,,,,,,,\r\n");
}

TEST(KcsvToCsv, PicturesOfAWrittenTableByTheirFormatColumns)
{
    TempDir dir;
    LayoutFile file = {"Photos", 4, false, {}};
    FieldKind kinds[] = {FK_TEXT, FK_IMAGE, FK_NUMBER, FK_IMAGE};
    for (int i = 0; i < 4; i++)
        file.fields[i].kind = kinds[i];
    TableLayout layout;
    ASSERT_TRUE(BuildTableLayout(&file, &layout));
    ASSERT_TRUE(WriteTableChunkFile(dir.File("t.cnk").c_str(), &layout, nullptr));

    std::string gif = Bytes("GIF89a"), jpg = Bytes("\xFF\xD8"), png = Bytes("\x89PNG");
    std::string g = To3to4(gif), j = To3to4(jpg), p = To3to4(png);
    std::string kcsv = KcsvHeader({"KD01", "IM01", "IMI1", "KD02", "IM02", "IMI2"},
                                  ReadWholeFile(dir.File("t.cnk")),
                                  {"Name", "Pic", "F1", "Amount", "Pic2", "F2"}) +
                       DataLine({"x", g.c_str(), "05", NumberText("7").c_str(), j.c_str(), "03"}) +
                       DataLine({"y", g.c_str(), "", _, p.c_str(), "06"}) +
                       DataLine({"z", "", "05", _, g.c_str(), "04"});   // no data; no such format
    Output o = Convert(dir, kcsv);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.table, LayoutLine("Photos", "0004") + LayoutLine("Name", "0000") + LayoutLine("Pic", "0509") +
                           LayoutLine("Amount", "0100") + LayoutLine("Pic2", "0509"));
    std::string f0 = o.in + ".0.gif", f1 = o.in + ".1.jpg", f3 = o.in + ".3.png",
                n = std::to_string(f0.size());
    EXPECT_EQ(o.rec, ",x," + f0 + ",7," + f1 + "\r\n,y,,," + f3 + "\r\n,z,,,\r\n");
    EXPECT_EQ(o.num, "1," + n + ",1," + n + "\r\n1,,," + n + "\r\n1,,,\r\n");
    EXPECT_EQ(ReadWholeFile(f0) + ReadWholeFile(f1) + ReadWholeFile(f3), gif + jpg + png);
    EXPECT_EQ(FileCount(dir), 1 + 5 + 3);   // t.cnk, the input and its four outputs, three pictures
}

TEST(KcsvToCsv, PhotoAlbumByItsFixedLayout)
{
    TempDir dir;
    std::string gif = Bytes("GIF87a"), jpg = Bytes("\xFF\xD8\xFF"), png = Bytes("\x89PNG\r\n");
    std::string g = To3to4(gif), j = To3to4(jpg), p = To3to4(png);
    std::string kcsv = KcsvLine({"H", "04"}) + kAlbumHead +
                       KcsvLine({"T", "1", "2", "3",     "4",    "5", "6", "Title", "Memo", "Picture", "G",
                                 "J", "P", "x", "Place", "Date", "A", "B", "C",     "y",    "z"}) +
                       AlbumRow({"t1", _, _, _, j.c_str(), _, _, _, kStamp}) +
                       AlbumRow({_, _, _, g.c_str()}) + AlbumRow({_, _, _, _, _, p.c_str()}) +
                       AlbumRow({_, _, j.c_str(), _, j.c_str()}) + AlbumRow({}) +
                       AlbumRow({_, _, _, _, j.c_str(), _, "x", _, _, _, _, _, "y", "z"});
    Output o = Convert(dir, kcsv);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.table, LayoutLine("\x93\x64\x8E\x71\x83\x41\x83\x8B\x83\x6F\x83\x80", "0008") +
                           LayoutLine("Title", "0000") + LayoutLine("Memo", "0000") +
                           LayoutLine("\x8E\xCA\x90\x5E", "0599") + LayoutLine("Place", "0000") +
                           LayoutLine("Date", "0300") + LayoutLine("A", "0000") + LayoutLine("B", "0000") +
                           LayoutLine("C", "0000"));
    // Every record takes a number, with or without a picture; one in column 9
    // carries no format and gives none.
    std::string f0 = o.in + ".0.jpg", f1 = o.in + ".1.gif", f2 = o.in + ".2.png", f5 = o.in + ".5.jpg";
    std::string n = std::to_string(f0.size());
    EXPECT_EQ(o.rec, ",t1,," + f0 + ",,1999/12/31 23:59,,,\r\n,,," + f1 + ",,,,,\r\n,,," + f2 +
                         ",,,,,\r\n,,,,,,,,\r\n,,,,,,,,\r\n,,," + f5 + ",,,,,\r\n");
    EXPECT_EQ(o.num, "2,," + n + ",,16,,,\r\n,," + n + ",,,,,\r\n,," + n +
                         ",,,,,\r\n,,,,,,,\r\n,,,,,,,\r\n,," + n + ",,,,,\r\n");
    EXPECT_EQ(ReadWholeFile(f0) + ReadWholeFile(f1) + ReadWholeFile(f2) + ReadWholeFile(f5),
              jpg + gif + png + jpg);
    EXPECT_EQ(FileCount(dir), 4 + 4);
}

std::string Formats(std::initializer_list<std::pair<int, const char*>> entries)
{
    std::string s;
    for (auto& e : entries)
        s += (char)e.first + Zeros(3) + e.second;
    return Item(TAG_IMAGE_FORMATS, s);
}

TEST(KcsvToCsv, PictureGroupsAndFormatColumnsFromTheDescription)
{
    TempDir dir;
    // IM01 with its format and a second related column, IM02 without a format
    // column, the end entry (two formats per list), an entry after it.
    std::string list = "\x04" + Zeros(3) + Zeros(8) + "IM01IMI1IMS1" + Zeros(8) + "IM02" + Zeros(8) + "\x01" +
                       Zeros(7) + "\x02" + Zeros(11) + Zeros(8) + "IM03" + Zeros(8);
    std::string images = Item(TAG_IMAGE_LIST, list) + Formats({{3, "PJ10"}, {5, "PG10"}}) +
                         Formats({{6, "PN11"}, {9, "PX11"}});
    for (int group = 12; group <= 20; group++)
        images += Formats({{3, "NONE"}});
    images += Formats({{3, "PJ21"}});   // the twelfth list: no group
    std::string kcsv = KcsvHeader(
        {"TX01", "PJ10", "PG10", "PN11", "PX11", "PJ21", "IM01", "IMI1", "IMS1", "IM02", "IM03"},
        Chunk(Rec(REC_IMAGES, images)), {"Text", "J", "G", "N", "X", "J21", "I1", "F1", "S1", "I2", "I3"});
    std::string g = To3to4("GIF"), j = To3to4("JPG"), p = To3to4("PNG");
    kcsv += DataLine({"t", _, g.c_str(), _, p.c_str(), j.c_str(), g.c_str(), "5", "?", j.c_str(), "i3"}) +
            DataLine({_, j.c_str(), g.c_str(), p.c_str(), p.c_str(), _, g.c_str(), "6"});
    Output o = Convert(dir, kcsv);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.table, LayoutLine("", "0007") + LayoutLine("Text", "0000") + LayoutLine("J", "0599") +
                           LayoutLine("N", "0599") + LayoutLine("J21", "0521") + LayoutLine("I1", "0509") +
                           LayoutLine("I2", "0509") + LayoutLine("I3", "0000"));
    std::string f0 = o.in + ".0.gif", f3 = o.in + ".3.gif", f5 = o.in + ".5.jpg", f6 = o.in + ".6.png",
                f8 = o.in + ".8.png";
    EXPECT_EQ(o.rec, ",t," + f0 + ",,," + f3 + ",,i3\r\n,," + f5 + "," + f6 + ",," + f8 + ",,\r\n");
    EXPECT_EQ(ReadWholeFile(f0) + ReadWholeFile(f3) + ReadWholeFile(f5) + ReadWholeFile(f6) +
                  ReadWholeFile(f8),
              "GIFGIFJPGPNGGIF");   // the format column decides, not the bytes
    EXPECT_EQ(FileCount(dir), 5 + 5);
}

TEST(KcsvToCsv, RefusedBeforeWritingAnything)
{
    TempDir dir;
    EXPECT_FALSE(ConvertKcsvToCsv(nullptr));
    EXPECT_FALSE(ConvertKcsvToCsv(dir.File("missing.csv").c_str()));
    // "<path>.table" must fit in 259 bytes.
    std::string base = dir.File("");
    for (size_t length : {253u, 254u}) {
        std::string path = base + std::string(length - base.size(), 'k');
        ASSERT_TRUE(WriteWholeFile(path, KcsvHeader({"KD01"}, "", {"A"}) + DataLine({"v"})));
        EXPECT_EQ(ConvertEverywhere(ConvertKcsvToCsv, dir.path.string(), path), length == 253) << length;
    }
    EXPECT_EQ(FileCount(dir), 2 + 3);   // the inputs, the outputs of the one that fits
}

TEST(KcsvToCsv, HeaderFailuresKeepWhatWasWritten)
{
    TempDir dir;
    std::string desc = Chunk(FieldRec("KD01", 1, 11));
    std::string good = KcsvHeader({"KD01"}, desc, {"A"}), bad = good;
    Output o = Convert(dir, bad.replace(bad.find("_PIO"), 4, "_PIX"));
    EXPECT_FALSE(o.ok || fs::exists(o.in + ".table"));

    std::string head = good.substr(0, good.find("\"S\"")), rest = good.substr(head.size());
    for (std::string broken : {head, head + "\"S\",BIT\r\n" + rest, head + "\r\n" + rest}) {
        o = Convert(dir, broken);   // ends, breaks or has an empty line before "T"
        EXPECT_FALSE(o.ok || fs::exists(o.in + ".table"));
        EXPECT_EQ(o.tab, desc);
    }
    // Outputs that cannot be created: the record file, the layout file, the
    // description (which comes first).
    fs::create_directory(o.in + ".rec");
    o = Convert(dir, good);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.table, LayoutLine("", "0001") + LayoutLine("A", "0100"));
    fs::remove(o.in + ".table");
    fs::create_directory(o.in + ".table");
    EXPECT_FALSE(Convert(dir, good).ok);
    fs::remove(o.in + ".table");
    fs::remove(o.in + ".tab");
    fs::create_directory(o.in + ".tab");
    EXPECT_FALSE(Convert(dir, good).ok || fs::exists(o.in + ".table"));
}

TEST(KcsvToCsv, DataEndsAtTheFirstBrokenRecord)
{
    TempDir dir;
    std::string head = KcsvHeader({"KD01", "KD02"}, "", {"A", "B"});
    Output o = Convert(dir, head);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.rec + o.num, "");
    // Without a description every field is text. A data record's tag is not
    // looked at.
    o = Convert(dir, head + KcsvLine({"X", "1", "2", "3", "4", "5", "p", "q"}) + DataLine({"r", "s"}) +
                         "\"D\",unquoted\r\n" + DataLine({"t"}));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.table, LayoutLine("", "0002") + LayoutLine("A", "0000") + LayoutLine("B", "0000"));
    EXPECT_EQ(o.rec, ",p,q\r\n,r,s\r\n");
    o = Convert(dir, head + DataLine({"r", "s"}) + "\r\n" + DataLine({"t"}));
    EXPECT_EQ(o.rec + o.num, ",r,s\r\n1,1\r\n");
}

TEST(KcsvToCsv, FieldListAndTitles)
{
    TempDir dir;
    // System identifiers count only before the first field. The titles end at
    // the first empty slot, though the count covers every field; a title of
    // any length is cut to 33 bytes.
    std::string longTitle(1000, 'T');
    Output o = Convert(dir, KcsvLine({"I", "CTGR", "LKDT", "SCRT", "KD01", "mDTM", "LKIF", _, "KD09"}) +
                                KcsvLine({"T", "1", "2", "3", longTitle.c_str(), "B", _, "C"}) +
                                KcsvLine({"D", "1", "2", "3", "v", "w", "x", "y", "z"}));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.table,
              LayoutLine("", "0003") + LayoutLine(std::string(33, 'T'), "0000") + LayoutLine("B", "0000"));
    EXPECT_EQ(o.rec, ",v,w,x\r\n");
}

TEST(KcsvToCsv, DamagedDescriptionsStillConvert)
{
    TempDir dir;
    std::string list = "\xFF" + Zeros(3) + Zeros(8) + "KD03" + Zeros(8);   // one entry of 255
    std::string records = NameRec(std::string(300, 'N')) + Rec(REC_TABLE, Item(200, std::string(1000, 'x'))) +
                          FieldRec("KD01", 1, 11) + Rec(REC_IMAGES, Item(TAG_IMAGE_LIST, list)) +
                          Le16(REC_FIELD) + Le32(0) + FieldRec("KD02", 1, 11);   // a record of length 0
    std::string kcsv = KcsvHeader({"KD01", "KD02", "KD03"}, Chunk(records), {"A", "B", "C"});
    Output o = Convert(dir, kcsv + DataLine({NumberText("5").c_str(), "b", To3to4("J").c_str()}));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.table, LayoutLine(std::string(33, 'N'), "0003") + LayoutLine("A", "0100") +
                           LayoutLine("B", "0000") + LayoutLine("C", "0509"));
    EXPECT_EQ(o.rec, ",5,b,\r\n");
}

TEST(KcsvToCsv, EachCallStartsClean)
{
    TempDir dir;
    std::string desc = Chunk(NameRec("Old") + FieldRec("KD01", 1, 11) + FieldRec("KD02", 4, 6, 0, 0, 0, 3));
    std::string broken = KcsvHeader({"KD01", "KD02"}, desc, {"A"});
    // A description and the album box, then a broken record before "T".
    broken = broken.substr(0, broken.find("\"S\"")) + kAlbumHead + "\"T\",x\r\n";
    EXPECT_FALSE(Convert(dir, broken).ok);
    Output o = Convert(dir, KcsvHeader({"KD01", "KD02"}, "", {"A", "B"}) + DataLine({"1", kStamp}));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.table, LayoutLine("", "0002") + LayoutLine("A", "0000") + LayoutLine("B", "0000"));
    EXPECT_EQ(o.rec, ",1,19991231235958\r\n");
    // Without an "I" record there are no columns: an empty line per record.
    EXPECT_FALSE(Convert(dir, broken).ok);
    o = Convert(dir, KcsvLine({"T", "a"}) + DataLine({"1"}) + DataLine({}));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.table, LayoutLine("", "0000"));
    EXPECT_EQ(o.rec + o.num, "\r\n\r\n\r\n\r\n");
}

// A quoted empty member holds no picture: the group's first member with
// picture data stands for it, so a photo is never dropped because another
// format's column was written as "". (Files from the handheld leave absent
// formats unquoted, where both readings agree.)
TEST(KcsvToCsv, PictureGroupSkipsAQuotedEmptyMember)
{
    TempDir dir;
    std::string j = To3to4("JPEG");
    Output o = Convert(dir, kAlbumHead + KcsvLine({"T", "1", "2", "3", "4", "5", "6", "A", "B", "P"}) +
                                AlbumRow({_, _, _, "", j.c_str()}) + AlbumRow({_, _, _, _, j.c_str()}));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.rec, ",,," + o.in + ".0.jpg,,,,,\r\n,,," + o.in + ".1.jpg,,,,,\r\n");
    EXPECT_EQ(ReadWholeFile(o.in + ".0.jpg"), "JPEG");
    EXPECT_EQ(ReadWholeFile(o.in + ".1.jpg"), "JPEG");
}

TEST(KcsvToCsv, PictureThatCannotBeWrittenLeavesItsValueEmpty)
{
    TempDir dir;
    std::string j = To3to4("JPEG");
    std::string row = AlbumRow({_, _, _, _, j.c_str()});
    fs::create_directory(dir.File("in.csv.0.jpg"));   // in the way of the first picture
    Output o = Convert(dir,
                       kAlbumHead + KcsvLine({"T", "1", "2", "3", "4", "5", "6", "A", "B", "P"}) + row + row);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.rec, ",,,,,,,,\r\n,,," + o.in + ".1.jpg,,,,,\r\n");
    EXPECT_EQ(ReadWholeFile(o.in + ".1.jpg"), "JPEG");
}

}   // namespace
