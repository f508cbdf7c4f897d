#include "kcsv/table_description.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "kcsv/kcsv_compose_test.h"

using namespace kcsvtest;

namespace {

// Applies a copy of exactly the bytes, so that reading past them is caught by
// the address sanitizer, to a table of fields with these identifiers.
TableLayout Apply(const std::string& bytes, std::initializer_list<const char*> ids = {"KD01", "KD02", "KD"})
{
    TableLayout layout = {};
    memcpy(layout.name, "stale", 6);
    for (const char* id : ids)
        memcpy(layout.fields[layout.fieldCount++].id, id, strnlen(id, 4));
    std::vector<unsigned char> exact(bytes.begin(), bytes.end());
    ApplyTableDescription(exact.data(), exact.size(), &layout);
    return layout;
}

// "kind/sub-kind" per field, with "/aux1/aux2" for pictures.
std::string Kinds(const TableLayout& l)
{
    std::string s;
    for (int i = 0; i < l.fieldCount; i++) {
        const TableField& f = l.fields[i];
        s += std::to_string(f.kind) + "/" + std::to_string(f.subKind);
        if (f.kind == FK_IMAGE)
            s += "/" + std::to_string(f.aux1) + "/" + std::to_string(f.aux2);
        s += " ";
    }
    return s;
}
std::string Kinds(const std::string& bytes) { return Kinds(Apply(bytes)); }

TEST(TableDescription, DescriptorKindBytes)
{
    // Kind byte, attributes, size, first extra byte, time form (-1: no time
    // block), then the kind and sub-kind of KD01, which an earlier record made
    // a time of sub-kind 3, so that what is left unchanged shows.
    const char* const cases[] = {
        "1 11 2 0 1 -1 1/1", "1 11 0 0 1 -1 1/0", "1 11 2 0 2 -1 1/0", "1 2 0 0 0 -1 0/3",
        "4 6 0 0 0 2 3/2",   "4 6 0 0 0 5 3/0",   "4 0 0 0 0 -1 3/0",  "6 0 0 0 0 -1 2/0",
        "11 0 0 0 0 -1 2/0", "7 0 0 0 0 -1 0/3",  "8 0 0 0 0 -1 2/1",  "10 0 0 0 0 -1 2/1",
        "9 0 5 4 0 -1 3/3",  "9 0 6 4 0 -1 4/0",  "9 0 0 0 0 -1 2/0",  "9 0 0 1 0 -1 2/0",
        "9 0 0 2 0 -1 2/1",  "9 0 0 3 0 -1 2/2",  "9 0 0 4 0 -1 2/2",  "9 0 0 5 0 -1 2/3",
        "9 0 0 8 0 -1 2/3",  "9 0 0 9 0 -1 2/4",  "9 0 0 16 0 -1 2/4", "9 0 0 17 0 -1 0/3",
        "2 0 0 0 0 -1 3/3",  "3 0 0 0 0 -1 3/3",  "5 0 0 0 0 -1 3/3",  "200 0 0 0 0 -1 3/3",
    };
    for (const char* c : cases) {
        int kind, attr1, attr2, size, extra, form;
        char expected[8];
        ASSERT_EQ(sscanf(c, "%d %d %d %d %d %d %7s", &kind, &attr1, &attr2, &size, &extra, &form, expected),
                  7);
        std::string d = FieldRec("KD01", kind, attr1, attr2, (uint32_t)size, extra, form);
        EXPECT_EQ(Kinds(Chunk(FieldRec("KD01", 4, 6, 0, 0, 0, 3) + d)), expected + std::string(" 0/0 0/0 "))
            << c;
    }
    // Identifiers not in the table, one of them short, change nothing.
    EXPECT_EQ(Kinds(Chunk(FieldRec("KD0", 6) + FieldRec("XD01", 6))), "0/0 0/0 0/0 ");
}

TEST(TableDescription, EveryTruncationStaysInside)
{
    std::string records[] = {NameRec("\xEC\x40Tbl"), FieldRec("KD01", 1, 11),
                             FieldRec("KD02", 4, 6, 0, 0, 0, 2),
                             Rec(REC_IMAGES, Item(TAG_IMAGE_LIST, "\x01" + Zeros(11) + "KD" + Zeros(10)))};
    const char* const kinds[] = {"0/0 0/0 0/0 ", "1/0 0/0 0/0 ", "1/0 3/2 0/0 ", "1/0 3/2 5/9/-1/-1 "};
    std::string all = Chunk(records[0] + records[1] + records[2] + records[3]);
    for (size_t n = 0; n <= all.size(); n++) {
        int whole = 0;   // records all there
        for (size_t end = 9; whole < 4 && n >= end + records[whole].size(); end += records[whole++].size())
            ;
        TableLayout l = Apply(all.substr(0, n));
        EXPECT_EQ(l.name, whole ? "\x82\x9FTbl" + std::string(28, ' ') : "") << n;
        EXPECT_EQ(Kinds(l), kinds[whole ? whole - 1 : 0]) << n;
    }
}

TEST(TableDescription, LengthsThatCannotBeRightEndTheWalk)
{
    std::string number = FieldRec("KD01", 1, 11), binary = FieldRec("KD02", 6);
    EXPECT_EQ(Kinds(Chunk(number + binary)), "1/0 2/0 0/0 ");
    // Records of other types are passed over by their length.
    EXPECT_EQ(Kinds(Chunk(Rec(6, Item(1, "x")) + number + Rec(99, "") + binary)), "1/0 2/0 0/0 ");
    // The end marker, records of length 0 or 5, a record reaching past the data,
    // and the total length at offset 5 each end the walk.
    std::string shortTotal = Chunk(number + binary);
    shortTotal.replace(5, 4, Le32(9 + (uint32_t)number.size()));
    for (const std::string& damaged :
         {Chunk(number + Zeros(6) + binary), Chunk(number + Le16(2) + Le32(0) + binary),
          Chunk(number + Le16(2) + Le32(5) + binary), Chunk(number + Le16(2) + Le32(1000) + binary),
          shortTotal})
        EXPECT_EQ(Kinds(damaged), "1/0 0/0 0/0 ");
    // An item shorter than its head, or reaching past its record, ends only
    // that record.
    std::string desc = number.substr(6, number.size() - 12);
    EXPECT_EQ(Kinds(Chunk(Rec(REC_FIELD, Le16(1) + Le32(3) + desc) + binary)), "0/0 2/0 0/0 ");
    EXPECT_EQ(Kinds(Chunk(Rec(REC_FIELD, Le16(1) + Le32(100) + desc) + binary)), "0/0 2/0 0/0 ");
    // A descriptor of two bytes names "KD"; the bytes it lacks read as zeros.
    EXPECT_EQ(Kinds(Chunk(Rec(REC_FIELD, Item(TAG_FIELD_DESC, "KD")))), "0/0 0/0 0/0 ");
    EXPECT_EQ(Kinds(Chunk(Rec(REC_FIELD, Item(TAG_FIELD_DESC, std::string("KD\0\0\x06", 5))))),
              "0/0 0/0 2/0 ");
    EXPECT_EQ(Kinds(std::string("\x78\x56\x34\x12\x10\xFF", 6)), "0/0 0/0 0/0 ");
}

std::string Entry(int kind, const std::string& ids)
{
    return (char)kind + Zeros(7) + ids + Zeros(12 - ids.size());
}
std::string List(int count, const std::string& entries)
{
    return Item(TAG_IMAGE_LIST, (char)count + Zeros(3) + entries);
}
std::string Pictures(const std::string& items)
{
    return Kinds(Apply(Chunk(Rec(REC_IMAGES, items)),
                       {"IM01", "IMI1", "IMS1", "IM02", "IM03", "IM04", "PG01", "PG02"}));
}

TEST(TableDescription, PictureLists)
{
    // An entry with both related fields, one whose format field is unknown,
    // one whose picture field is unknown (no effect at all), then one of
    // another kind, which ends the list.
    EXPECT_EQ(Pictures(List(5, Entry(0, "IM01IMI1IMS1") + Entry(0, "IM02XXXX") + Entry(0, "NOPEIM04") +
                                   Entry(2, "IM03") + Entry(0, "IM03"))),
              "5/9/1/2 9/0 9/0 5/9/-1/-1 0/0 0/0 0/0 0/0 ");
    // Counts beyond the item (255 entries, 200 formats): only whole entries
    // inside it are read, not the next item, which reads like an entry too.
    EXPECT_EQ(Pictures(List(255, Entry(0, "IM01")) + Item(0x100, Zeros(2) + "IM02" + Zeros(14))),
              "5/9/-1/-1 0/0 0/0 0/0 0/0 0/0 0/0 0/0 ");
    EXPECT_EQ(
        Pictures(List(1, Entry(1, "\xC8")) + Item(TAG_IMAGE_FORMATS, "\x05" + Zeros(3) + "PG01" + "\x03")),
        "0/0 0/0 0/0 0/0 0/0 0/0 5/10/1/0 0/0 ");
    // Only the low byte of an item's length counts: 262 bytes walk as 6, and
    // the zeros after them end the record. An item shorter than its head too.
    EXPECT_EQ(Pictures(Item(TAG_IMAGE_FORMATS, Zeros(256)) + List(1, Entry(0, "IM01"))).substr(0, 4), "0/0 ");
    EXPECT_EQ(Pictures(Le16(TAG_IMAGE_LIST) + Le32(3) + List(1, Entry(0, "IM01"))).substr(0, 4), "0/0 ");
    std::string past = List(5, Entry(0, "IM01"));
    past[2] = (char)250;   // more than the record holds
    EXPECT_EQ(Pictures(past).substr(0, 4), "0/0 ");
}

}   // namespace
