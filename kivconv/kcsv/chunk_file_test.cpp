#include "kcsv/chunk_file.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "kcsv/kcsv_test_util.h"

using namespace kcsvtest;

namespace {

struct Record {
    uint16_t type;
    uint32_t length;
    std::vector<std::pair<uint16_t, std::string>> items;   // tag, data
};

// Walks a chunk file by its lengths, checking the frame on the way.
std::vector<Record> Parse(const std::string& f)
{
    std::vector<Record> records;
    const unsigned char* p = (const unsigned char*)f.data();
    EXPECT_EQ(f.substr(0, 5), std::string("\x78\x56\x34\x12\x10", 5));
    EXPECT_EQ(f.size() >= 15 ? GetLe32(p + 5) : 0u, f.size());
    EXPECT_EQ(f.substr(f.size() - 6), std::string(6, '\0'));
    for (size_t pos = 9, end = f.size() - 6; pos < end;) {
        Record r = {GetLe16(p + pos), GetLe32(p + pos + 2), {}};
        size_t itemsEnd = pos + r.length - 6;
        if (r.length < 12 || r.length > end - pos) {
            ADD_FAILURE() << "record length at " << pos;
            break;
        }
        EXPECT_EQ(f.substr(itemsEnd, 6), std::string(6, '\0'));
        for (size_t q = pos + 6, len; q < itemsEnd; q += len) {
            len = GetLe32(p + q + 2);
            if (len < 6 || len > itemsEnd - q) {
                ADD_FAILURE() << "item length at " << q;
                break;
            }
            r.items.push_back({GetLe16(p + q), f.substr(q + 6, len - 6)});
        }
        records.push_back(r);
        pos += r.length;
    }
    return records;
}

std::vector<Record> Write(const char* name, std::initializer_list<FieldKind> kinds)
{
    LayoutFile file = {};
    snprintf(file.name, sizeof file.name, "%s", name);
    for (FieldKind k : kinds) {
        file.fields[file.fieldCount].kind = k;
        file.fields[file.fieldCount++].subKind = k == FK_TIME ? 3 : 0;
    }
    TableLayout layout;
    EXPECT_TRUE(BuildTableLayout(&file, &layout));
    TempDir dir;
    PackedStamp stamp = {{0x3A, 0xFB, 0xFD, 0x3C, 0x06}};
    EXPECT_TRUE(WriteTableChunkFile(dir.File("t.cnk").c_str(), &layout, &stamp));
    return Parse(ReadWholeFile(dir.File("t.cnk")));
}

TEST(ChunkFile, TableWithoutFields)
{
    std::vector<Record> records = Write("Addr", {});
    ASSERT_EQ(records.size(), 1u);   // so the file is 9 + 89 + 6 bytes
    EXPECT_EQ(records[0].type, REC_TABLE);
    EXPECT_EQ(records[0].length, 85u + 4);
    ASSERT_EQ(records[0].items.size(), 2u);
    std::string header(60, '\0');
    header.replace(0, 8, "TBLECONV").replace(13, 5, "\x3A\xFB\xFD\x3C\x06").replace(28, 4, "KD01");
    EXPECT_EQ(records[0].items[0], std::make_pair(TAG_TABLE_HEADER, header));
    EXPECT_EQ(records[0].items[1], std::make_pair(TAG_TABLE_NAME, std::string("Addr", 5)));
}

TEST(ChunkFile, FieldsAndImages)
{
    std::vector<Record> records = Write(
        "Mixed", {FK_TEXT, FK_IMAGE, FK_NUMBER, FK_BINARY, FK_TIME, FK_CODE, FK_IMAGE});
    ASSERT_EQ(records.size(), 5u);
    const uint32_t lengths[] = {85 + 5, 64, 42, 65, 22 + 20 * 2};
    const uint16_t types[] = {REC_TABLE, REC_FIELD, REC_FIELD, REC_FIELD, REC_IMAGES};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(records[i].length, lengths[i]) << i;
        EXPECT_EQ(records[i].type, types[i]) << i;
    }
    auto desc = [](const char* head) { return std::string(head, 7) + std::string(17, '\0'); };
    ASSERT_EQ(records[1].items.size(), 2u);
    EXPECT_EQ(records[1].items[0], std::make_pair(TAG_FIELD_DESC, desc("KD01\x01\x02\x00")));
    EXPECT_EQ(records[1].items[1], std::make_pair(TAG_TEXT_ATTR, "\xFF" + std::string(15, '\0')));
    ASSERT_EQ(records[2].items.size(), 1u);
    EXPECT_EQ(records[2].items[0], std::make_pair(TAG_FIELD_DESC, desc("KD02\x01\x0B\x02")));
    ASSERT_EQ(records[3].items.size(), 2u);
    EXPECT_EQ(records[3].items[0], std::make_pair(TAG_FIELD_DESC, desc("KD04\x04\x06\x00")));
    EXPECT_EQ(records[3].items[1], std::make_pair(TAG_TIME_ATTR, "\x03" + std::string(16, '\0')));
    std::string list(44, '\0');
    list[0] = 2;
    list.replace(12, 8, "IM01IMI1").replace(32, 8, "IM02IMI2");
    ASSERT_EQ(records[4].items.size(), 1u);
    EXPECT_EQ(records[4].items[0], std::make_pair(TAG_IMAGE_LIST, list));

    // Ten images: the longest list the handheld reads with one-byte lengths.
    records = Write("P", {FK_IMAGE, FK_IMAGE, FK_IMAGE, FK_IMAGE, FK_IMAGE, FK_IMAGE, FK_IMAGE, FK_IMAGE,
                          FK_IMAGE, FK_IMAGE});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].length, 222u);
    EXPECT_EQ(records[1].items[0].second.substr(4 + 9 * 20 + 8, 8), "IM0AIMIA");
}

// Given up half way: nothing stays on disk, and the file takes no more.
TEST(ChunkFile, FailureLeavesNoFile)
{
    TempDir dir;
    std::string path = dir.File("g.cnk");
    ChunkFile chunk;
    ASSERT_TRUE(ChunkFileCreate(&chunk, path.c_str()));
    ChunkFileDiscard(&chunk);
    EXPECT_FALSE(fs::exists(path));
    ChunkRecord record = {REC_FIELD, nullptr, 0};
    EXPECT_FALSE(ChunkFileWriteRecord(&chunk, &record));
    TableLayout layout = {};
    EXPECT_FALSE(WriteTableChunkFile(dir.File("missing/t.cnk").c_str(), &layout, nullptr));
    EXPECT_FALSE(fs::exists(dir.File("missing")));
}

}   // namespace
