#include "kcsv/kcsv_format.h"
#include <gtest/gtest.h>
#include <cstring>
#include <ctime>
#include <string>
#include "kcsv/kcsv_test_util.h"

using namespace kcsvtest;

namespace {

struct tm Moment(int year, int month, int day, int hour, int minute, int second)
{
    struct tm t = {};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
    return t;
}

std::string Hex(const PackedStamp& s)
{
    char buf[16];
    for (int i = 0; i < 5; i++)
        snprintf(buf + 2 * i, 3, "%02X", s.bytes[i]);
    return buf;
}

TEST(KcsvFormat, Stamps)
{
    EXPECT_EQ(Hex(MakePackedStamp(Moment(1999, 12, 31, 23, 59, 58))), "3AFBFD3C06");
    EXPECT_EQ(Hex(MakePackedStamp(Moment(2000, 1, 1, 0, 0, 0))), "0000084106");

    char buf[TIMESTAMP_SIZE];
    FormatTimestampOf(buf, Moment(1999, 12, 31, 23, 59, 58));
    EXPECT_STREQ(buf, "19991231235958");
    time_t now = time(nullptr);
    FormatTimestamp(buf);
    ASSERT_EQ(strspn(buf, "0123456789"), 14u);
    EXPECT_NEAR(atoi(std::string(buf, 4).c_str()), localtime(&now)->tm_year + 1900, 1);

    struct tm fixed = Moment(2001, 2, 3, 4, 5, 6);   // what the fault loops compare by
    fixedStampTime = &fixed;
    FormatTimestamp(buf);
    EXPECT_STREQ(buf, "20010203040506");
    EXPECT_EQ(Hex(PackedStampNow()), Hex(MakePackedStamp(fixed)));
    fixedStampTime = nullptr;
}

// A clock's stamp lies between the stamps read just before and just after it,
// and follows a fixed time as soon as one is set or changed.
TEST(KcsvFormat, StampClockShowsNow)
{
    StampClock clock = {};
    for (int call = 0; call < 3; call++) {
        char before[TIMESTAMP_SIZE], after[TIMESTAMP_SIZE];
        FormatTimestamp(before);
        std::string stamp = StampClockNow(&clock);
        FormatTimestamp(after);
        EXPECT_LE(std::string(before), stamp);
        EXPECT_LE(stamp, std::string(after));
    }
    struct tm fixed[] = {Moment(2001, 2, 3, 4, 5, 6), Moment(2002, 3, 4, 5, 6, 7)};
    const char* shown[] = {"20010203040506", "20020304050607"};
    for (int i = 0; i < 2; i++) {
        fixedStampTime = &fixed[i];
        EXPECT_STREQ(shown[i], StampClockNow(&clock));
    }
    fixedStampTime = nullptr;
    char now[TIMESTAMP_SIZE];
    FormatTimestamp(now);
    EXPECT_LE(std::string(now), std::string(StampClockNow(&clock)));   // the fixed time is not kept
}

std::string Pad(const std::string& s, size_t width) { return s + std::string(width - s.size(), ' '); }
std::string Line(const char* title, const char* codes) { return Pad(title, 21) + codes + "\r\n"; }
std::string Head(const char* name) { return Pad(name, 33) + "\r\n"; }

LayoutFile ReadLayout(const std::string& data)
{
    LayoutFile layout;
    TextStream* ts = TextOpenMemory(data.data(), data.size());
    EXPECT_TRUE(ReadLayoutStream(ts, &layout));
    TextClose(ts);
    return layout;
}

TEST(KcsvFormat, ReadLayoutFile)
{
    LayoutFile layout = ReadLayout(Head("Addresses") + Line("Name", "0000") + Line("Age", "0104") +
                                   Line("Photo", "0500") + Line("Born", "0302") + Line("When", "0305") +
                                   Line("Odd", "0703") + Line("Code", "0400") + Line("Bin", "0200") + "\r\n");
    EXPECT_STREQ(layout.name, "Addresses");
    ASSERT_EQ(layout.fieldCount, 8);   // the empty last line is no field
    EXPECT_EQ(std::string(layout.fields[0].title), Pad("Name", 21));
    const FieldKind kinds[] = {FK_TEXT, FK_NUMBER, FK_IMAGE, FK_TIME, FK_TIME, FK_TEXT, FK_CODE, FK_BINARY};
    const int subs[] = {0, 0, 0, 2, 0, 0, 0, 0};
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(layout.fields[i].kind, kinds[i]) << i;
        EXPECT_EQ(layout.fields[i].subKind, subs[i]) << i;
    }

    EXPECT_STREQ(ReadLayout(Head("")).name, " ");   // a blank name keeps its first byte
    LayoutFile noEnd = ReadLayout(Head("T") + Pad("A", 21) + "0301");
    ASSERT_EQ(noEnd.fieldCount, 1);
    EXPECT_EQ(noEnd.fields[0].subKind, 1);
    std::string many = Head("T");
    for (int i = 0; i < 101; i++)
        many += Line("F", "0100");
    LayoutFile big = ReadLayout(many);
    EXPECT_EQ(big.fieldCount, TABLE_MAX_FIELDS);
    EXPECT_TRUE(big.truncated);
}

TEST(KcsvFormat, TableLayoutIdentifiers)
{
    LayoutFile file = ReadLayout(Head("T") + Line("A", "0000") + Line("P", "0500") + Line("N", "0100") +
                                 Line("Q", "0500"));
    TableLayout layout;
    ASSERT_TRUE(BuildTableLayout(&file, &layout));
    ASSERT_EQ(layout.fieldCount, 4);
    const char* ids[] = {"KD01", "IM01", "KD02", "IM02"};
    const int columns[] = {6, 7, 9, 10};
    for (int i = 0; i < 4; i++) {
        EXPECT_STREQ(layout.fields[i].id, ids[i]);
        EXPECT_EQ(layout.fields[i].column, columns[i]);
    }

    std::string images = Head("T");
    for (int i = 0; i < 10; i++)
        images += Line("P", "0500");
    file = ReadLayout(images);
    ASSERT_TRUE(BuildTableLayout(&file, &layout));
    EXPECT_STREQ(layout.fields[9].id, "IM0A");
    char id[FIELD_ID_SIZE];
    FormatImageFormatId(id, 10);
    EXPECT_STREQ(id, "IMIA");
    EXPECT_STREQ(ImageFormatTitle(10), "\x8E\xCA\x90\x5E\x82\x60\x8C\x60\x8E\xAE");   // 写真Ａ形式
    EXPECT_EQ(ImageFormatTitle(11), nullptr);
    file = ReadLayout(images + Line("P", "0500"));
    EXPECT_FALSE(BuildTableLayout(&file, &layout));   // eleven images
}

TEST(KcsvFormat, WriteLayoutAndQuotedFields)
{
    EXPECT_TRUE(IsSystemColumnId("LKDT"));
    EXPECT_FALSE(IsSystemColumnId("SCRTX"));
    TempDir dir;
    std::string path = dir.File("out.table");
    TextStream* ts = TextOpenWrite(path.c_str());
    EXPECT_TRUE(WriteLayoutHeader(ts, "Album", 8));
    EXPECT_TRUE(WriteLayoutLine(ts, "Photo", FK_IMAGE, 99));
    EXPECT_TRUE(WriteLayoutLine(ts, std::string(40, 'x').c_str(), FK_TIME, 3));
    EXPECT_TRUE(WriteKcsvQuoted(ts, "a\"b\"\""));
    EXPECT_TRUE(WriteKcsvQuoted(ts, ""));
    ASSERT_TRUE(TextClose(ts));
    EXPECT_EQ(ReadWholeFile(path), Pad("Album", 33) + "0008\r\n" + Pad("Photo", 33) + "0599\r\n" +
                                       std::string(33, 'x') + "0303\r\n" + "\"a\"\"b\"\"\"\"\"\"\"");
}

}   // namespace
