// diff's record matching against an independent oracle: every pair of
// records compared in turn, as the rules say (by sync ID, then equal cells
// with pictures by their bytes, then the first non-empty cell; each record of
// the newer version takes the first unmatched one of the older), on random
// pairs of small tables full of equal records, moved records, empty cells,
// pictures and sync IDs, with two or three fields.
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>
#include "archive.h"

namespace {

struct Record {
    std::vector<std::string> cells, pictures;
    std::string sync;
};

struct Table {
    std::vector<std::string> titles;
    std::vector<Record> records;
};

DecodedTable Decoded(const Table& t)
{
    DecodedTable d;
    d.titles = t.titles;
    auto add = [&](const std::string& v) {
        d.values += v;
        d.ends.push_back((uint32_t)d.values.size());
    };
    for (const Record& r : t.records) {
        for (const std::string& c : r.cells)
            add(c);
        for (const std::string& p : r.pictures)
            add(p);
        add(r.sync);
        d.records++;
    }
    return d;
}

std::string At(const std::vector<std::string>& v, size_t f) { return f < v.size() ? v[f] : ""; }

bool SameField(const Record& a, const Record& b, size_t f)
{
    bool both = f < a.pictures.size() && f < b.pictures.size();
    if (both && !(a.pictures[f].empty() && b.pictures[f].empty()))
        return a.pictures[f] == b.pictures[f];
    return At(a.cells, f) == At(b.cells, f);
}

bool Same(const Record& a, const Record& b)
{
    for (size_t f = 0; f < std::max(a.cells.size(), b.cells.size()); f++)
        if (!SameField(a, b, f))
            return false;
    return true;
}

std::string First(const Record& r)
{
    for (const std::string& c : r.cells)
        if (!c.empty())
            return c;
    return "";
}

std::string Label(const Record& r)
{
    std::string label;
    int taken = 0;
    for (const std::string& c : r.cells)
        if (!c.empty() && taken < 2)
            label += (taken++ ? ", " : "") + c;
    return label.empty() ? "(an empty record)" : label;
}

std::string Oracle(const Table& a, const Table& b)
{
    const size_t none = (size_t)-1;
    std::vector<size_t> of(b.records.size(), none);
    std::vector<bool> used(a.records.size(), false);
    auto match = [&](auto same) {
        for (size_t j = 0; j < b.records.size(); j++)
            for (size_t i = 0; of[j] == none && i < a.records.size(); i++)
                if (!used[i] && same(a.records[i], b.records[j])) {
                    of[j] = i;
                    used[i] = true;
                }
    };
    match([](const Record& x, const Record& y) { return !x.sync.empty() && x.sync == y.sync; });
    match(Same);
    match([](const Record& x, const Record& y) {
        return x.sync.empty() && y.sync.empty() && First(x) == First(y);
    });
    std::string out;
    for (size_t i = 0; i < a.records.size(); i++)
        if (!used[i])
            out += "- " + Label(a.records[i]) + "\n";
    for (size_t j = 0; j < b.records.size(); j++) {
        if (of[j] == none) {
            out += "+ " + Label(b.records[j]) + "\n";
            continue;
        }
        const Record &x = a.records[of[j]], &y = b.records[j];
        std::string lines;
        for (size_t f = 0; f < std::max(x.cells.size(), y.cells.size()); f++)
            if (!SameField(x, y, f))
                lines += "    " + At(f < b.titles.size() ? b.titles : a.titles, f) + ": " + At(x.cells, f) +
                         " \u2192 " + At(y.cells, f) + "\n";
        out += lines.empty() ? "" : "~ " + Label(y) + "\n" + lines;
    }
    return out;
}

// The first line of a fields change names both lists; the oracle only says
// that they differ.
std::string WithoutFieldsLine(const std::string& diff)
{
    return diff.compare(0, 8, "fields: ") == 0 ? diff.substr(diff.find('\n') + 1) : diff;
}

Record RandomRecord(std::mt19937& rng, size_t fields, size_t number)
{
    static const char* const cells[] = {"", "a", "b", "a b"};
    static const char* const pictures[] = {"", "", "P1", "P2"};
    static const char* const syncs[] = {"", "", "s1", "s2", "s3"};
    Record r;
    for (size_t f = 0; f < fields; f++) {
        bool picture = f == 2;
        r.pictures.push_back(picture ? pictures[rng() % 4] : "");
        // A picture cell names its file by the record's place.
        r.cells.push_back(!picture                ? cells[rng() % 4]
                          : r.pictures[f].empty() ? ""
                                                  : "t-pictures/" + std::to_string(number) + "-3.png");
    }
    r.sync = syncs[rng() % 5];
    return r;
}

TEST(KivTableDiff, MatchesRecordsAsComparingEveryPairDoes)
{
    std::mt19937 rng(2027);
    for (int round = 0; round < 3000; round++) {
        Table a, b;
        size_t fieldsA = 2 + rng() % 2, fieldsB = rng() % 4 == 0 ? 5 - fieldsA : fieldsA;
        a.titles = {"Name", "Note", "Photo"};
        a.titles.resize(fieldsA);
        b.titles = {"Name", "Note", "Photo"};
        b.titles.resize(fieldsB);
        for (size_t n = rng() % 10; n > 0; n--)
            a.records.push_back(RandomRecord(rng, fieldsA, a.records.size() + 1));
        // The newer version: records of the older one kept, moved, edited or
        // dropped, and new ones.
        for (const Record& r : a.records) {
            int fate = (int)(rng() % 5);
            Record kept = r;
            kept.cells.resize(fieldsB);
            kept.pictures.resize(fieldsB);
            if (fate == 1)
                kept.cells[rng() % fieldsB] = "edited";
            if (fate == 3 && fieldsB > 2 && !kept.pictures[2].empty())
                kept.cells[2] = "t-pictures/moved-3.png";
            if (fate != 2)
                b.records.insert(b.records.begin() + (long)(rng() % (b.records.size() + 1)), kept);
        }
        for (size_t n = rng() % 4; n > 0; n--)
            b.records.push_back(RandomRecord(rng, fieldsB, b.records.size() + 1));
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(Oracle(a, b), WithoutFieldsLine(TableDiff(Decoded(a), Decoded(b))));
    }
}

}   // namespace
