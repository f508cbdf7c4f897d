// Pieces, their keys and the id lists of versions, apart from SQL.
#include "archive_pieces.h"
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

bool DecodeIdList(const std::vector<int64_t>& base, std::string_view code, std::vector<int64_t>* list)
{
    list->clear();
    size_t at = 0, runEnd = 0;
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
            if (start < 0 || (uint64_t)start > base.size() || n > base.size() - (uint64_t)start)
                return false;
            list->insert(list->end(), base.begin() + start, base.begin() + start + (int64_t)n);
            runEnd = (size_t)start + n;
        } else if (t % 3 == 2) {
            lastId += Unzigzag(v);
            list->insert(list->end(), n, lastId);
        } else {
            for (uint64_t k = 0; k < n; k++) {
                if (k && !GetVarint(code, &at, &v))
                    return false;
                lastId += Unzigzag(v);
                list->push_back(lastId);
            }
        }
    }
    return true;
}
