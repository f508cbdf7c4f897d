// Two versions of a table compared record by record. Records are matched
// by the handheld's sync ID where both have one; the rest first by equal
// cells (a record that did not change, wherever it moved), then by their
// first non-empty cell (a record edited in place keeps its name), in order.
// What is left was removed from the older version or added in the newer.
// Cells are compared field by field in column order, a picture by its bytes.
// A cell or title is printed as show prints it: one line, no control
// characters that a terminal would obey.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include "archive.h"
#include "show_width.h"

namespace {

const size_t kNone = (size_t)-1;

std::string_view Cell(const DecodedTable& t, size_t r, size_t f)
{
    return f < t.titles.size() ? CellOf(t, r, f) : std::string_view();
}

std::string_view Picture(const DecodedTable& t, size_t r, size_t f)
{
    return f < t.titles.size() ? PictureOf(t, r, f) : std::string_view();
}

std::string Label(const DecodedTable& t, size_t r)
{
    std::string label;
    int taken = 0;
    for (size_t f = 0; f < t.titles.size() && taken < 2; f++) {
        if (Cell(t, r, f).empty())
            continue;
        label += taken++ ? ", " : "";
        label += OneLine(std::string(Cell(t, r, f)));
    }
    return label.empty() ? "(an empty record)" : label;
}

std::string_view FirstCell(const DecodedTable& t, size_t r)
{
    for (size_t f = 0; f < t.titles.size(); f++)
        if (!Cell(t, r, f).empty())
            return Cell(t, r, f);
    return std::string_view();
}

// FNV-1a, 64 bits, over bytes, continuing from h.
uint64_t Hash(uint64_t h, const char* bytes, size_t n)
{
    for (size_t i = 0; i < n; i++)
        h = (h ^ (unsigned char)bytes[i]) * 1099511628211ull;
    return h;
}

const uint64_t kHashStart = 14695981039346656037ull;

uint64_t HashOf(std::string_view text) { return Hash(kHashStart, text.data(), text.size()); }

// Records of a that one key could match, in a's order; those before first
// are all taken.
struct Bucket {
    std::vector<size_t> rows;
    size_t first = 0;
};

// Pairs each unmatched record of b with the first unmatched one of a for
// which same holds. same holds only for records of equal keys (false from
// key: the record takes no part), so each record of b looks only among the
// records of a with its key, and the work stays in proportion to the
// records: comparing every pair cost a 100 000-record table 10^10 compares.
template <typename KeyA, typename KeyB, typename Same>
void MatchBy(const DecodedTable& a, const DecodedTable& b, std::vector<size_t>* ofB, std::vector<bool>* usedA,
             KeyA keyA, KeyB keyB, Same same)
{
    std::unordered_map<uint64_t, Bucket> buckets;
    uint64_t key;
    for (size_t i = 0; i < a.records; i++)
        if (!(*usedA)[i] && keyA(i, &key))
            buckets[key].rows.push_back(i);
    for (size_t j = 0; j < b.records; j++) {
        auto it = (*ofB)[j] == kNone && keyB(j, &key) ? buckets.find(key) : buckets.end();
        if (it == buckets.end())
            continue;
        Bucket& bucket = it->second;
        while (bucket.first < bucket.rows.size() && (*usedA)[bucket.rows[bucket.first]])
            bucket.first++;
        for (size_t n = bucket.first; n < bucket.rows.size(); n++) {
            size_t i = bucket.rows[n];
            if (!(*usedA)[i] && same(i, j)) {
                (*ofB)[j] = i;
                (*usedA)[i] = true;
                break;
            }
        }
    }
}

bool SameCell(const DecodedTable& a, const DecodedTable& b, size_t i, size_t j, size_t f)
{
    std::string_view was = Picture(a, i, f), is = Picture(b, j, f);
    if (f < a.titles.size() && f < b.titles.size() && !(was.empty() && is.empty()))
        return was == is;
    return Cell(a, i, f) == Cell(b, j, f);
}

bool SameRecord(const DecodedTable& a, const DecodedTable& b, size_t i, size_t j)
{
    for (size_t f = 0; f < std::max(a.titles.size(), b.titles.size()); f++)
        if (!SameCell(a, b, i, j, f))
            return false;
    return true;
}

// Equal for records that SameRecord finds the same: each field as its
// picture's bytes when it has one, else as its cell; empty fields at the end
// count as absent, as a shorter record's missing fields compare empty.
uint64_t RecordKey(const DecodedTable& t, size_t r)
{
    size_t end = t.titles.size();
    while (end > 0 && Cell(t, r, end - 1).empty() && Picture(t, r, end - 1).empty())
        end--;
    uint64_t h = kHashStart;
    for (size_t f = 0; f < end; f++) {
        bool picture = !Picture(t, r, f).empty();
        std::string_view bytes = picture ? Picture(t, r, f) : Cell(t, r, f);
        char head[1 + sizeof(size_t)];
        head[0] = picture ? 'P' : 'C';
        size_t n = bytes.size();
        memcpy(head + 1, &n, sizeof n);
        h = Hash(Hash(h, head, sizeof head), bytes.data(), n);
    }
    return h;
}

std::string Changes(const DecodedTable& a, const DecodedTable& b, size_t i, size_t j)
{
    std::string lines;
    for (size_t f = 0; f < std::max(a.titles.size(), b.titles.size()); f++) {
        if (SameCell(a, b, i, j, f))
            continue;
        const std::string& title = f < b.titles.size() ? b.titles[f] : a.titles[f];
        lines.append("    ").append(OneLine(title)).append(": ").append(OneLine(std::string(Cell(a, i, f))));
        lines.append(" \u2192 ").append(OneLine(std::string(Cell(b, j, f)))).append("\n");
    }
    return lines.empty() ? "" : "~ " + Label(b, j) + "\n" + lines;
}

std::string Join(const std::vector<std::string>& titles)
{
    std::string s;
    for (size_t i = 0; i < titles.size(); i++)
        s += (i ? ", " : "") + OneLine(titles[i]);
    return s;
}

}   // namespace

void MatchRecords(const DecodedTable& a, const DecodedTable& b, std::vector<size_t>* ofB, bool idsLost)
{
    ofB->resize(b.records, kNone);
    std::vector<bool> usedA(a.records, false);
    for (size_t i : *ofB)
        if (i != kNone)
            usedA[i] = true;
    auto syncKey = [](const DecodedTable& t) {
        return [&t](size_t r, uint64_t* key) {
            *key = HashOf(SyncIdOf(t, r));
            return !SyncIdOf(t, r).empty();
        };
    };
    auto recordKey = [](const DecodedTable& t) {
        return [&t](size_t r, uint64_t* key) {
            *key = RecordKey(t, r);
            return true;
        };
    };
    auto firstCellKey = [](const DecodedTable& t, bool any) {
        return [&t, any](size_t r, uint64_t* key) {
            *key = HashOf(FirstCell(t, r));
            return any || SyncIdOf(t, r).empty();
        };
    };
    if (!idsLost)
        MatchBy(a, b, ofB, &usedA, syncKey(a), syncKey(b), [&](size_t i, size_t j) {
            return !SyncIdOf(a, i).empty() && SyncIdOf(a, i) == SyncIdOf(b, j);
        });
    MatchBy(a, b, ofB, &usedA, recordKey(a), recordKey(b),
            [&](size_t i, size_t j) { return SameRecord(a, b, i, j); });
    MatchBy(a, b, ofB, &usedA, firstCellKey(a, idsLost), firstCellKey(b, idsLost), [&](size_t i, size_t j) {
        return (idsLost || (SyncIdOf(a, i).empty() && SyncIdOf(b, j).empty())) &&
               FirstCell(a, i) == FirstCell(b, j);
    });
}

bool SameRecordAt(const DecodedTable& a, size_t i, const DecodedTable& b, size_t j)
{
    return SameRecord(a, b, i, j);
}

bool SameField(const DecodedTable& a, size_t i, const DecodedTable& b, size_t j, size_t f)
{
    return SameCell(a, b, i, j, f);
}

namespace {

// b's records matched to a's: ofB gives each its record of a or kNone,
// usedA each of a's whether one of b's took it.
void MatchBoth(const DecodedTable& a, const DecodedTable& b, std::vector<size_t>* ofB,
               std::vector<bool>* usedA)
{
    MatchRecords(a, b, ofB, false);
    usedA->assign(a.records, false);
    for (size_t i : *ofB)
        if (i != kNone)
            (*usedA)[i] = true;
}

}   // namespace

std::string TableDiff(const DecodedTable& a, const DecodedTable& b)
{
    std::vector<size_t> ofB;
    std::vector<bool> usedA;
    MatchBoth(a, b, &ofB, &usedA);
    std::string out;
    if (a.titles != b.titles)
        out += "fields: " + Join(a.titles) + " \u2192 " + Join(b.titles) + "\n";
    for (size_t i = 0; i < a.records; i++)
        if (!usedA[i])
            out += "- " + Label(a, i) + "\n";
    for (size_t j = 0; j < b.records; j++)
        out += ofB[j] == kNone ? "+ " + Label(b, j) + "\n" : Changes(a, b, ofB[j], j);
    return out;
}

bool SameRecordOrder(const DecodedTable& a, const DecodedTable& b)
{
    if (a.records != b.records)
        return false;
    for (size_t r = 0; r < a.records; r++)
        if (!SameRecord(a, b, r, r))
            return false;
    return true;
}

RecordCounts CountRecordChanges(const DecodedTable& a, const DecodedTable& b)
{
    std::vector<size_t> ofB;
    std::vector<bool> usedA;
    MatchBoth(a, b, &ofB, &usedA);
    RecordCounts counts;
    counts.titles = a.titles != b.titles;
    counts.removed = (size_t)std::count(usedA.begin(), usedA.end(), false);
    for (size_t j = 0; j < b.records; j++) {
        if (ofB[j] == kNone)
            counts.added++;
        else if (!SameRecord(a, b, ofB[j], j))
            counts.changed++;
    }
    return counts;
}
