// Three versions of a table merged record by record: the base (the version
// the CSV was made from), the handheld's (a later pull) and the PC's (the
// CSV as from-csv builds it). No I/O: bytes in, the merged table's bytes
// out. docs/formats.md "Merging" gives the rules.
#pragma once
#include <string>
#include <vector>
#include "archive.h"

// One version: its Kcsv bytes and the same decoded.
struct MergeSide {
    const std::string* kcsv = nullptr;
    const DecodedTable* table = nullptr;
};

enum MergeTake { TAKE_NEITHER, TAKE_PC, TAKE_HANDHELD };

// A merged record that needs a person: both sides changed it apart.
struct MergeConflict {
    size_t row;                       // the merged record, from 0
    std::string mark;                 // the conflict column's text
    std::vector<std::string> cells;   // the record's cells
};

struct TableMerge {
    std::string kcsv;                 // the merged table, ending with 0x1A
    std::vector<std::string> marks;   // one per merged record, "" for most
    std::vector<MergeConflict> conflicts;
    size_t records = 0;
};

// pcKept gives, for each PC record, the number (from 1) of the base record
// its kept record came from, 0 for none. False with *error when the sides
// cannot be merged (their fields differ apart from titles, or a side is no
// table).
bool MergeTables(const MergeSide& base, const MergeSide& handheld, const MergeSide& pc,
                 const std::vector<long>& pcKept, MergeTake take, TableMerge* out, std::string* error);
