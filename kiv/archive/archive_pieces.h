// How the archive keeps a version's bytes: cut into lines (the pieces),
// each distinct piece stored once under a key of its bytes, and the version
// as the list of its pieces' ids, written as the changes from the version
// before. Joining a version's pieces gives its bytes exactly as received:
// the cut looks at nothing but line ends, so it holds for any bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The pieces of bytes in order: each ends after a LF, the last at the end.
std::vector<std::string_view> CutPieces(std::string_view bytes);
// A data record's modification stamp (14 digits, the fourth field of a "D"
// record) changes whenever the record is written, and a table written at
// once gives every record the same one: it is kept apart from its line, so
// that a line and a stamp are each stored once. Where the stamp of a line
// starts, or npos for a line without one.
size_t StampAt(std::string_view line);
const size_t kStampSize = 14;
// Where a stamp goes back into a line it was cut from.
size_t StampPlace(std::string_view cut);
// What tells pieces (or a record's cells) apart: two 64-bit sums of
// different kinds, shared by two that differ once in about 2^128 pairs.
struct PieceHash {
    uint64_t a, b;
    bool operator==(const PieceHash& o) const { return a == o.a && b == o.b; }
};
struct PieceHashOf {
    size_t operator()(const PieceHash& h) const { return (size_t)h.a; }
};
PieceHash HashPiece(std::string_view bytes);

// A list of ids as the changes from base: runs copied from base, ids given
// and an id repeated, each a varint. Without a base (empty), the whole list.
std::string EncodeIdList(const std::vector<int64_t>& base, const std::vector<int64_t>& list);
// The list back from base and its code; false when the code is damaged.
bool DecodeIdList(const std::vector<int64_t>& base, std::string_view code, std::vector<int64_t>* list);

// A version's id list read in order without holding it, for lists as long
// as the table: the chain from the whole list to the version, each code the
// changes from the list before. The whole list's code is read a window at a
// time through read (bytes at offset into room, how many; 0 at its end);
// the changes are held, each about the size of what it changed. What the
// reader holds is the runs the changes copy and the ids they give, and a
// place in the whole code every few thousand ids.
struct IdListReader;
typedef size_t (*CodeRead)(void* source, uint64_t offset, char* room, size_t n);
IdListReader* OpenIdList(CodeRead read, void* source, const std::vector<std::string>& changes);
// The next id; false at the end, or when a code is damaged (IdListDamaged).
bool NextId(IdListReader* reader, int64_t* id);
bool IdListDamaged(const IdListReader* reader);
void CloseIdList(IdListReader* reader);
