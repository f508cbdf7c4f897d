// A version's id list read in order through OpenIdList gives the list
// DecodeIdList gives from the whole chain, for lists longer than the reader
// keeps places for, changed by moves either way, repeats and new ids; a
// damaged code is told apart from the end.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "archive_pieces.h"

namespace {

size_t FromString(void* source, uint64_t offset, char* room, size_t n)
{
    const std::string& code = *(const std::string*)source;
    if (offset >= code.size())
        return 0;
    n = std::min<size_t>(n, code.size() - (size_t)offset);
    code.copy(room, n, (size_t)offset);
    return n;
}

typedef std::vector<int64_t> List;

List Ids(int64_t from, int64_t n)
{
    List list;
    for (int64_t i = 0; i < n; i++)
        list.push_back(from + i);
    return list;
}

// The chain of a row: each list made from the one before.
typedef List (*Change)(const List& before);

List MoveLastToFront(const List& l)
{
    List m(l.end() - 1, l.end());
    m.insert(m.end(), l.begin(), l.end() - 1);
    return m;
}
List MoveFirstToBack(const List& l)
{
    List m(l.begin() + 1, l.end());
    m.push_back(l.front());
    return m;
}
List Reversed(const List& l) { return List(l.rbegin(), l.rend()); }
List NewAndRepeated(const List& l)
{
    List m(l.begin(), l.begin() + (long)l.size() / 2);
    m.insert(m.end(), 5, 777777);
    m.push_back(888888);
    m.insert(m.end(), l.begin() + (long)l.size() / 2 + 3, l.end());
    return m;
}
List Emptied(const List&) { return {}; }
List EveryThird(const List& l)
{
    List m;
    for (size_t i = 0; i < l.size(); i += 3)
        m.push_back(l[i]);
    return m;
}

TEST(ArchivePieces, AVersionsListReadInOrderIsTheListItsChainMakes)
{
    const struct Row {
        const char* what;
        List whole;
        std::vector<Change> changes;
    } rows[] = {
        {"whole, short", Ids(1, 10), {}},
        {"whole, past several kept places", Ids(1, 20000), {}},
        {"an id repeated in the whole list", List{3, 3, 3, 3, 9, 9, 9, 1}, {}},
        {"nothing", List{}, {}},
        {"the last moved to the front (back past the kept places)", Ids(1, 20000), {MoveLastToFront}},
        {"the first moved to the back, then back", Ids(1, 20000), {MoveFirstToBack, MoveLastToFront}},
        {"reversed", Ids(100, 9000), {Reversed}},
        {"new and repeated ids in the middle, then moves",
         Ids(1, 12000),
         {NewAndRepeated, MoveLastToFront, NewAndRepeated}},
        {"every third kept, then emptied", Ids(1, 9000), {EveryThird, Emptied}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string whole = EncodeIdList({}, row.whole);
        std::vector<std::string> codes;
        List list = row.whole;
        for (Change change : row.changes) {
            List next = change(list);
            codes.push_back(EncodeIdList(list, next));
            List decoded;
            ASSERT_TRUE(DecodeIdList(list, codes.back(), &decoded));
            ASSERT_EQ(next, decoded);
            list = next;
        }
        IdListReader* reader = OpenIdList(FromString, &whole, codes);
        List read;
        for (int64_t id; NextId(reader, &id);)
            read.push_back(id);
        EXPECT_FALSE(IdListDamaged(reader));
        CloseIdList(reader);
        EXPECT_EQ(list, read);
    }
}

TEST(ArchivePieces, ADamagedListIsToldFromItsEnd)
{
    List whole = Ids(1, 5000), next = MoveLastToFront(whole);
    std::string code = EncodeIdList({}, whole), change = EncodeIdList(whole, next);
    const struct Row {
        const char* what;
        std::string whole, change;
    } rows[] = {
        {"the whole list cut in a varint", code.substr(0, code.size() - 1) + "\x80", change},
        {"a change that copies past the list's end", code, std::string("\x03\x80\x80\x01", 4)},
        {"a change cut in a varint", code, change.substr(0, 1)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        IdListReader* reader = OpenIdList(FromString, (void*)&row.whole, {row.change});
        int64_t id;
        while (NextId(reader, &id)) {
        }
        EXPECT_TRUE(IdListDamaged(reader));
        CloseIdList(reader);
    }
}

}   // namespace
