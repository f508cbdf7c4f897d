// Pieces, their keys and the id lists of versions, apart from SQL.
#include "archive_pieces.h"
#include <algorithm>
#include <cstring>
#include <unordered_map>

std::vector<std::string_view> CutPieces(std::string_view bytes)
{
    std::vector<std::string_view> pieces;
    for (size_t at = 0; at < bytes.size();) {
        const void* lf = memchr(bytes.data() + at, '\n', bytes.size() - at);
        size_t end = lf ? (size_t)((const char*)lf - bytes.data()) + 1 : bytes.size();
        pieces.push_back(bytes.substr(at, end - at));
        at = end;
    }
    return pieces;
}

namespace {

// After the third comma of a "D" record: the stamp's opening quote.
size_t AfterThirdComma(std::string_view line)
{
    if (line.substr(0, 4) != "\"D\",")
        return std::string_view::npos;
    size_t at = 3;
    for (int commas = 1; commas < 3; commas++)
        if ((at = line.find(',', at + 1)) == std::string_view::npos)
            return at;
    return at + 1;
}

}   // namespace

size_t StampAt(std::string_view line)
{
    size_t q = AfterThirdComma(line);
    if (q == std::string_view::npos || line.size() < q + kStampSize + 2 || line[q] != '"' ||
        line[q + kStampSize + 1] != '"')
        return std::string_view::npos;
    for (size_t k = 1; k <= kStampSize; k++)
        if (line[q + k] < '0' || line[q + k] > '9')
            return std::string_view::npos;
    return q + 1;
}

size_t StampPlace(std::string_view cut)
{
    size_t q = AfterThirdComma(cut);
    return q == std::string_view::npos || q >= cut.size() ? std::string_view::npos : q + 1;
}

namespace {

uint64_t Mixed(uint64_t x)
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void PutVarint(std::string& out, uint64_t v)
{
    while (v >= 0x80) {
        out.push_back((char)(v | 0x80));
        v >>= 7;
    }
    out.push_back((char)v);
}

bool GetVarint(std::string_view code, size_t* at, uint64_t* v)
{
    *v = 0;
    for (int shift = 0; *at < code.size() && shift < 64; shift += 7) {
        uint8_t b = (uint8_t)code[(*at)++];
        *v |= (uint64_t)(b & 0x7F) << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}

uint64_t Zigzag(int64_t v) { return ((uint64_t)v << 1) ^ (uint64_t)(v >> 63); }
int64_t Unzigzag(uint64_t v) { return (int64_t)(v >> 1) ^ -(int64_t)(v & 1); }

}   // namespace

PieceHash HashPiece(std::string_view bytes)
{
    uint64_t a = 0xCBF29CE484222325ull, b = 0x9E3779B97F4A7C15ull ^ bytes.size();
    for (unsigned char c : bytes) {
        a = (a ^ c) * 0x100000001B3ull;
        b = Mixed(b + c);
    }
    return {Mixed(a), b};
}

// Each step is a varint t: t % 3 == 0, a run of t / 3 ids copied from
// base, its start given as the distance from where the run before ended
// (zigzag); t % 3 == 1, t / 3 ids that follow, each as the distance from
// the id before; t % 3 == 2, one such id that stands t / 3 times.
std::string EncodeIdList(const std::vector<int64_t>& base, const std::vector<int64_t>& list)
{
    std::unordered_map<int64_t, size_t> where;
    where.reserve(base.size());
    for (size_t i = base.size(); i-- > 0;)
        where[base[i]] = i;   // the first place of an id that repeats
    std::string code;
    size_t runEnd = 0;
    int64_t lastId = 0;
    std::vector<int64_t> given;
    auto flushGiven = [&] {
        if (given.empty())
            return;
        PutVarint(code, given.size() * 3 + 1);
        for (int64_t id : given) {
            PutVarint(code, Zigzag(id - lastId));
            lastId = id;
        }
        given.clear();
    };
    for (size_t i = 0; i < list.size();) {
        auto found = where.find(list[i]);
        size_t n = 0;
        if (found == where.end()) {
            while (i + n < list.size() && list[i + n] == list[i])
                n++;
            if (n < 3) {
                given.push_back(list[i++]);
                continue;
            }
            flushGiven();
            PutVarint(code, n * 3 + 2);
            PutVarint(code, Zigzag(list[i] - lastId));
            lastId = list[i];
            i += n;
            continue;
        }
        size_t start = found->second;
        while (i + n < list.size() && start + n < base.size() && base[start + n] == list[i + n])
            n++;
        flushGiven();
        PutVarint(code, n * 3);
        PutVarint(code, Zigzag((int64_t)start - (int64_t)runEnd));
        runEnd = start + n;
        i += n;
    }
    flushGiven();
    return code;
}

namespace {

// The steps of a change's code in order, as EncodeIdList writes them: each
// run copied from base (its start and length), each id standing n times,
// and each id given one by one. False when the code is damaged or a copy
// reaches past base's end.
template <typename Copy, typename Repeat, typename Given>
bool WalkIdCode(std::string_view code, uint64_t baseSize, Copy copy, Repeat repeat, Given given)
{
    size_t at = 0;
    uint64_t runEnd = 0;
    int64_t lastId = 0;
    while (at < code.size()) {
        uint64_t t, v;
        if (!GetVarint(code, &at, &t) || !GetVarint(code, &at, &v))
            return false;
        uint64_t n = t / 3;
        if (n > (1u << 28))   // more lines than any table holds: damaged
            return false;
        if (t % 3 == 0) {
            int64_t start = (int64_t)runEnd + Unzigzag(v);
            if (start < 0 || (uint64_t)start > baseSize || n > baseSize - (uint64_t)start)
                return false;
            copy((uint64_t)start, n);
            runEnd = (uint64_t)start + n;
        } else if (t % 3 == 2) {
            lastId += Unzigzag(v);
            repeat(lastId, n);
        } else {
            for (uint64_t k = 0; k < n; k++) {
                if (k && !GetVarint(code, &at, &v))
                    return false;
                lastId += Unzigzag(v);
                given(lastId);
            }
        }
    }
    return true;
}

}   // namespace

bool DecodeIdList(const std::vector<int64_t>& base, std::string_view code, std::vector<int64_t>* list)
{
    list->clear();
    return WalkIdCode(
        code, base.size(),
        [&](uint64_t start, uint64_t n) {
            list->insert(list->end(), base.begin() + (int64_t)start, base.begin() + (int64_t)(start + n));
        },
        [&](int64_t id, uint64_t n) { list->insert(list->end(), n, id); },
        [&](int64_t id) { list->push_back(id); });
}

namespace {

// The whole list's code read forward a window at a time: where a step of
// the code stands, so that reading can go on from it.
struct WholePlace {
    uint64_t at = 0;     // in the code
    uint64_t done = 0;   // ids read before this place
    uint64_t left = 0;   // ids left in the step
    uint64_t kind = 0;
    int64_t lastId = 0;
};

const uint64_t kPlaceEvery = 4096;

// Ids of the list: n of them from the whole list's place from (kWhole),
// from the given ids at from (kGiven), or the id from n times (kRepeat).
enum { kWhole, kGiven, kRepeat };
struct IdRun {
    uint64_t n;
    int kind;
    int64_t from;
};

}   // namespace

struct IdListReader {
    CodeRead read = nullptr;
    void* source = nullptr;
    std::string window;
    uint64_t windowAt = 0;
    WholePlace whole;
    std::vector<WholePlace> places;   // one every kPlaceEvery ids, once read
    std::vector<int64_t> given;
    std::vector<IdRun> runs;
    size_t run = 0;
    uint64_t inRun = 0;
    bool damaged = false;
};

namespace {

bool WholeByte(IdListReader* r, uint64_t at, uint8_t* b)
{
    if (at < r->windowAt || at >= r->windowAt + r->window.size()) {
        r->window.resize(64 * 1024);
        size_t n = r->read(r->source, at, &r->window[0], r->window.size());
        r->window.resize(n);
        r->windowAt = at;
        if (n == 0)
            return false;
    }
    *b = (uint8_t)r->window[at - r->windowAt];
    return true;
}

bool WholeVarint(IdListReader* r, uint64_t* v)
{
    *v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        uint8_t b;
        if (!WholeByte(r, r->whole.at, &b))
            return false;
        r->whole.at++;
        *v |= (uint64_t)(b & 0x7F) << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}

// The whole list's next id, read as DecodeIdList reads it; false at its
// end (*end) or where it is damaged.
bool NextWholeId(IdListReader* r, int64_t* id, bool* end)
{
    WholePlace& w = r->whole;
    *end = false;
    while (w.left == 0) {
        uint8_t b;
        if (!WholeByte(r, w.at, &b)) {
            *end = true;
            return false;
        }
        uint64_t t, v;
        if (!WholeVarint(r, &t) || !WholeVarint(r, &v) || t % 3 == 0 || t / 3 > (1u << 28))
            return false;
        w.kind = t % 3;
        w.left = t / 3;
        // A step's first id comes with it (none with an empty given run); a
        // given run's others follow.
        if (w.kind == 2 || w.left > 0)
            w.lastId += Unzigzag(v);
        if (w.kind == 1 && w.left > 0) {
            w.left--;
            *id = w.lastId;
            w.kind = 3;   // the given run, its first id read
            w.done++;
            return true;
        }
    }
    if (w.kind == 3 || w.kind == 1) {
        uint64_t v;
        if (!WholeVarint(r, &v))
            return false;
        w.lastId += Unzigzag(v);
    }
    w.left--;
    w.done++;
    *id = w.lastId;
    return true;
}

// To place `to` of the whole list: on from where it is, or from the last
// place kept before it.
bool SeekWhole(IdListReader* r, uint64_t to)
{
    size_t k = (size_t)(to / kPlaceEvery);
    if (to < r->whole.done || (k > r->whole.done / kPlaceEvery && k < r->places.size()))
        r->whole = r->places.at(std::min(k, r->places.size() - 1));
    int64_t id;
    bool end;
    while (r->whole.done < to)
        if (!NextWholeId(r, &id, &end))
            return false;
    return true;
}

// Counts the whole list, keeping a place every kPlaceEvery ids.
bool CountWhole(IdListReader* r, uint64_t* count)
{
    int64_t id;
    bool end = false;
    for (;;) {
        if (r->whole.done % kPlaceEvery == 0 && r->whole.done / kPlaceEvery == r->places.size())
            r->places.push_back(r->whole);
        if (!NextWholeId(r, &id, &end))
            break;
    }
    *count = r->whole.done;
    return end;
}

void AddRun(std::vector<IdRun>* runs, IdRun run)
{
    if (run.n == 0)
        return;
    if (!runs->empty()) {
        IdRun& last = runs->back();
        bool follows = last.kind == run.kind &&
                       (run.kind == kRepeat ? last.from == run.from
                                            : last.from + (int64_t)last.n == run.from);
        if (follows) {
            last.n += run.n;
            return;
        }
    }
    runs->push_back(run);
}

// Places start..start+n of the list base (its runs, with where each
// starts) as runs of the list that copies them.
void CopyRuns(const std::vector<IdRun>& base, const std::vector<uint64_t>& starts, uint64_t start, uint64_t n,
              std::vector<IdRun>* runs)
{
    size_t k = (size_t)(std::upper_bound(starts.begin(), starts.end(), start) - starts.begin()) - 1;
    for (; n > 0; k++) {
        uint64_t skip = start - starts[k], take = std::min(n, base[k].n - skip);
        IdRun part = base[k];
        part.n = take;
        if (part.kind != kRepeat)
            part.from += (int64_t)skip;
        AddRun(runs, part);
        start += take;
        n -= take;
    }
}

// The list that code makes of base, as runs.
bool ChangedRuns(IdListReader* r, const std::vector<IdRun>& base, std::string_view code,
                 std::vector<IdRun>* runs)
{
    std::vector<uint64_t> starts;
    uint64_t size = 0;
    for (const IdRun& run : base) {
        starts.push_back(size);
        size += run.n;
    }
    // Given ids follow one another in r->given, so AddRun joins a step's
    // ids into one run.
    return WalkIdCode(
        code, size,
        [&](uint64_t start, uint64_t n) {
            if (n)
                CopyRuns(base, starts, start, n, runs);
        },
        [&](int64_t id, uint64_t n) {
            AddRun(runs, IdRun{n, kRepeat, id});
        },
        [&](int64_t id) {
            r->given.push_back(id);
            AddRun(runs, IdRun{1, kGiven, (int64_t)(r->given.size() - 1)});
        });
}

}   // namespace

IdListReader* OpenIdList(CodeRead read, void* source, const std::vector<std::string>& changes)
{
    IdListReader* r = new IdListReader;
    r->read = read;
    r->source = source;
    uint64_t count = 0;
    r->damaged = !CountWhole(r, &count);
    std::vector<IdRun> runs;
    AddRun(&runs, IdRun{count, kWhole, 0});
    for (size_t k = 0; k < changes.size() && !r->damaged; k++) {
        std::vector<IdRun> next;
        r->damaged = !ChangedRuns(r, runs, changes[k], &next);
        runs.swap(next);
    }
    r->runs = std::move(runs);
    r->whole = WholePlace();
    return r;
}

bool NextId(IdListReader* r, int64_t* id)
{
    while (!r->damaged && r->run < r->runs.size() && r->inRun == r->runs[r->run].n) {
        r->run++;
        r->inRun = 0;
    }
    if (r->damaged || r->run == r->runs.size())
        return false;
    const IdRun& run = r->runs[r->run];
    uint64_t k = r->inRun++;
    if (run.kind == kRepeat) {
        *id = run.from;
    } else if (run.kind == kGiven) {
        *id = r->given[(size_t)run.from + (size_t)k];
    } else {
        bool end;
        r->damaged = !SeekWhole(r, (uint64_t)run.from + k) || !NextWholeId(r, id, &end);
    }
    return !r->damaged;
}

bool IdListDamaged(const IdListReader* r) { return r->damaged; }

void CloseIdList(IdListReader* r) { delete r; }
