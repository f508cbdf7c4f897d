#include "csv/csv_record.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const char* kEmpty = "<empty>";

// Reads every record of the input; each record as its count and its fields,
// an empty slot shown as kEmpty. Stops at the first 0.
struct Reader {
    std::string input;
    TextStream* stream;
    explicit Reader(std::string text)
        : input(std::move(text))
        , stream(TextOpenMemory(input.data(), input.size()))
    { }
    ~Reader() { TextClose(stream); }

    std::vector<std::string> Next(int* count)
    {
        CsvRecord record;
        *count = ReadCsvRecord(stream, &record);
        std::vector<std::string> fields;
        for (int i = 0; i < CSV_MAX_FIELDS; i++) {
            if (i >= *count)
                EXPECT_EQ(record.fields[i], nullptr) << "slot " << i;
            else
                fields.push_back(record.fields[i] ? record.fields[i] : kEmpty);
        }
        FreeCsvRecord(&record);
        for (int i = 0; i < CSV_MAX_FIELDS; i++)
            EXPECT_EQ(record.fields[i], nullptr) << "slot " << i << " after freeing";
        return fields;
    }
};

using Fields = std::vector<std::string>;

Fields AfterEmpties(int empties, const char* last)
{
    Fields fields(empties, kEmpty);
    fields.push_back(last);
    return fields;
}

TEST(ReadCsvRecord, SingleRecords)
{
    struct Case {
        std::string input;
        Fields fields;
    } cases[] = {
        {"\"a\",\"b\",\"c\"\n", {"a", "b", "c"}},
        {"\"a\",,\"c\"\n", {"a", kEmpty, "c"}},
        {"\"a\",\"b\",\n", {"a", "b"}},
        {",\"b\"\n", {kEmpty, "b"}},
        {",\n", {kEmpty}},
        {"\"\",\"x\"\n", {"", "x"}},
        {"\"say \"\"hi\"\"\"\n", {"say \"hi\""}},
        {"\"a\"b\",\"c\"\n", {"ab", "c"}},
        {"\"two\r\nli\nnes\"\n", {"twolines"}},
        {"\"\x82\xa0\x81\x5c\"\r\n", {"\x82\xa0\x81\x5c"}},
        {"\"a\",\"b\"", {"a", "b"}},
        {std::string("\"a\"\0\"b\"\n", 8), {"a"}},
        {"\"a\"\r\"b\"\n", {"a"}},
        {"\"a\"\x1a\"b\"\n", {"a"}},
        // the last slot filled after empty ones, and one field past the last slot
        {std::string(CSV_MAX_FIELDS - 1, ',') + "\"z\",\"over\"\n", AfterEmpties(CSV_MAX_FIELDS - 1, "z")},
    };
    for (const Case& c : cases) {
        Reader reader(c.input);
        int count;
        EXPECT_EQ(reader.Next(&count), c.fields) << c.input;
        EXPECT_EQ(count, (int)c.fields.size()) << c.input;
    }
}

TEST(ReadCsvRecord, FailuresGiveZeroAndEmptySlots)
{
    const char* inputs[] = {
        "",           "\n", "\r\n", "abc\n", "\"a\", \"b\"\n", "\"a\",b\n", "\"open field\n", "\"a\",\"open",
        "\"a\x1a\"\n"};
    for (const char* input : inputs) {
        Reader reader(input);
        int count;
        reader.Next(&count);   // checks that no slot is left filled
        EXPECT_EQ(count, 0) << input;
    }
    CsvRecord record;
    record.fields[0] = (char*)&record;
    EXPECT_EQ(ReadCsvRecord(nullptr, &record), 0);
    EXPECT_EQ(record.fields[0], nullptr);
    Reader reader("\"a\"\n");
    EXPECT_EQ(ReadCsvRecord(reader.stream, nullptr), 0);
}

TEST(ReadCsvRecord, RecordsInSequenceUntilEmptyLine)
{
    Reader reader("\"1\",\"one\"\n\"2\"\r\n\"3\",\"th\nree\"\n\n\"4\"\n");
    int count;
    EXPECT_EQ(reader.Next(&count), (Fields{"1", "one"}));
    EXPECT_EQ(reader.Next(&count), (Fields{"2"}));
    EXPECT_EQ(reader.Next(&count), (Fields{"3", "three"}));
    reader.Next(&count);
    EXPECT_EQ(count, 0);

    Reader last("\"x\"");
    last.Next(&count);
    EXPECT_EQ(count, 1);
    last.Next(&count);
    EXPECT_EQ(count, 0);
}

TEST(ReadCsvRecord, LongFieldsReadWhole)
{
    std::string big;
    for (size_t i = 0; big.size() < 3000000; i++)
        big += (char)("ABCxyz0189;\x81\xfc"[i % 13]);
    Reader reader("\"" + big + "\",\"" + big.substr(0, 101) + "\"\n\"next\"\n");
    int count;
    Fields fields = reader.Next(&count);
    ASSERT_EQ(count, 2);
    EXPECT_TRUE(fields[0] == big);
    EXPECT_EQ(fields[1], big.substr(0, 101));
    EXPECT_EQ(reader.Next(&count), (Fields{"next"}));
}

TEST(ReadCsvRecord, FieldsBeyondTheTableAreDropped)
{
    std::string wide;
    Fields first100;
    for (int i = 0; i < 150; i++) {
        wide += (i ? ",\"" : "\"") + std::to_string(i) + "\"";
        if (i < 100)
            first100.push_back(std::to_string(i));
    }
    Reader reader(wide + "\n" + wide + ",,,\n\"after\"\n" + wide + ",bad\n");
    int count;
    EXPECT_EQ(reader.Next(&count), first100);
    EXPECT_EQ(count, CSV_MAX_FIELDS);
    EXPECT_EQ(reader.Next(&count), first100);
    EXPECT_EQ(reader.Next(&count), (Fields{"after"}));
    reader.Next(&count);
    EXPECT_EQ(count, 0);   // the surplus is still checked

    std::string exactly100(wide.substr(0, wide.find(",\"100\"")));
    Reader exact(exactly100 + ",\n");
    EXPECT_EQ(exact.Next(&count), first100);
}

}   // namespace
