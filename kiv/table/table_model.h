// A table as both directions of the table CSV see it: the columns a person
// edits (one per visible field) and, beside them, everything the CSV cannot
// say, kept so that the table can be rebuilt byte for byte: the header
// records as received and, per record, the slots no cell rebuilds.
//
// Rows are not held here: the Kcsv side hands them out one at a time
// (table_from_kcsv.h), so a table of any length converts in flat memory.
// Raw Kcsv bytes (header records, kept slots) are code page 932 or the
// handheld's own character set, never converted; cells and titles are UTF-8.
// docs/formats.md describes the table CSV and the schema file built on this.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "kcsv/kcsv_format.h"

// How the value of a picture field's format column, or a picture group's
// member, holds the picture.
struct PictureSlot {
    int column;   // slot in a data record
    int format;   // IMG_JPEG, IMG_GIF, IMG_PNG; 0 for a member that holds no known format
};

// One visible field: one column of the table CSV.
struct ModelField {
    std::string title;   // UTF-8; the CSV's header cell
    FieldKind kind;      // FK_TEXT, FK_NUMBER, FK_TIME or FK_IMAGE
    int subKind;         // time form 0-4; for FK_IMAGE 9 (format column) or a group number 10-20
    std::string id;      // "KD01", "IM01", ...; empty when the table has no "I" record (the album)
    int column;          // slot of the value (of a group: its first member) in a data record
    int formatColumn;    // FK_IMAGE with sub-kind 9: the slot of its format code, or -1
    std::vector<PictureSlot> group;   // FK_IMAGE of a group: every member, in field order
};

// One slot of a kept record: either rebuilt from the row's cells, or kept as
// received, exactly the bytes between its commas (quotes and all).
struct KeptSlot {
    bool fromCell;
    std::string raw;   // empty when fromCell
};

// A data record's slots from slot 0 (the tag) to the last one received.
typedef std::vector<KeptSlot> KeptRecord;

struct TableModel {
    std::string name;                          // UTF-8, trailing blanks cut
    std::vector<ModelField> fields;            // in CSV column order
    std::vector<std::string> header;           // header records up to and including "T", raw bytes without
                                               // their line end; empty for a table made from a CSV alone
    int systemColumns = KCSV_SYSTEM_COLUMNS;   // leading system slots of a data record
    long rows = 0;                             // data records (known after the last row)
    // The archived version the CSV was made from: its pull id and TableHash
    // of its bytes as received. 0 and "" for a CSV made outside the archive.
    long baseVersion = 0;
    std::string baseHash;
    // The CSV's first column is a merge's conflict mark, before the fields:
    // "conflict" in the header row, on each row empty or the side it came
    // from. A table with a mark left cannot be read back.
    bool conflictColumn = false;
};

// A data row on its way between the two forms.
struct ModelRow {
    long number = 0;                     // 1 for the first data row
    std::vector<std::string> cells;      // one per field, UTF-8 as in the CSV
    std::vector<std::string> pictures;   // one per field: the picture's bytes, or empty
    KeptRecord kept;                     // the record as received; empty for a new row
    bool keptNeeded = false;             // kept holds more than the desktop writer puts in
};

// ---- shared rules -------------------------------------------------------------

// Ties a row's kept slots to its cells: FNV-1a (64 bits) over every cell's
// UTF-8 bytes, each followed by the byte 0x1F.
uint64_t RowFingerprint(const std::vector<std::string>& cells);
// Tells one cell of a row from another value: FNV-1a (32 bits) over its
// UTF-8 bytes.
uint32_t CellFingerprint(const std::string& cell);
// A row tied to its record only by its place (the CSV kept its length) may
// be a new row where one was deleted: the tie holds when the row kept at
// least one of that record's cells, sameCell(f) telling for field f. Both
// the reader of the CSV and the merge judge a tie so.
template <class SameCell>
bool TieByPlaceHolds(size_t fields, SameCell sameCell)
{
    for (size_t f = 0; f < fields; f++)
        if (sameCell(f))
            return true;
    return fields == 0;
}
// Names a table's bytes as received in a schema's "base" line: FNV-1a (64
// bits) over the bytes, as 16 lower-case hexadecimal digits.
std::string TableHash(const std::string& bytes);

// Raw bytes in the schema's "header" and "row" lines: printable ASCII stays,
// except '\' which becomes "\\"; every other byte becomes "\xHH" (upper-case).
std::string EscapeRaw(const std::string& bytes);
// The reverse; false for a '\' not followed by '\' or "xHH".
bool UnescapeRaw(const std::string& text, std::string* bytes);

// Whether a time's digits are laid out as a time of day (hh:mm:ss), as below.
bool TimeIsClock(const std::string& digits, int subKind);
// A stored time value (its digits exactly as held) as the cell shows it. The
// digits are laid along YYYYMMDDhhmmss with '-', '-', 'T', ':', ':' before the
// 5th, 7th, 9th, 11th and 13th digit and '.' before the 15th, as far as there
// are digits; except that a value of at most 6 digits in a field of sub-kind
// 3 or 4 (a time of day) is laid along hhmmss: ':' before the 3rd and 5th.
// False (cell untouched) when the value holds anything but digits.
bool TimeCellFromDigits(const std::string& digits, int subKind, std::string* cell);
// The reverse for a cell in exactly that form (either layout): the digits.
// False for any other text, e.g. "2001/1/5", which a reader parses as a date.
bool TimeDigitsFromCell(const std::string& cell, std::string* digits);

// IMG_JPEG, IMG_GIF or IMG_PNG by the file's first bytes; 0 when none fits.
int PictureFormatOfBytes(const std::string& bytes);
// "jpg", "gif", "png" for those formats, "bin" otherwise.
const char* PictureExtension(int format);
// The picture file of row r, CSV column c (both from 1), relative to the
// CSV's folder: "<base>-pictures/<r>-<c>.<ext>".
std::string PicturePath(const std::string& base, long row, int column, int format);

// ---- the schema file ------------------------------------------------------------

// The schema's lines up to its row lines: version, table, rows, fields and
// header records. Written after the last row (it holds the row count).
std::string SchemaHead(const TableModel& model);
// A row line for a row whose kept record is needed; empty otherwise.
std::string SchemaRowLine(const ModelRow& row);

// A row line as read back.
struct SchemaRow {
    long number;
    uint64_t fingerprint;
    std::vector<uint32_t> cells;   // each cell's CellFingerprint as written; none in an older schema
    KeptRecord kept;
};
// Reads a whole schema (LF or CR LF lines, an optional UTF-8 byte-order
// mark). False with *error "line L: what" for a line it cannot read.
bool ReadSchema(const std::string& text, TableModel* model, std::vector<SchemaRow>* rows, std::string* error);
