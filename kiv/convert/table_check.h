// The conversion takes a damaged table as it comes: without its "P" record
// every field is text and a number shows its stored form, a data record
// before the titles is passed over, a value that no longer decodes comes out
// empty or garbled, a damaged record ends the rows; and it reports success.
// kiv refuses such a table, naming the line, as it would lose records or
// values without a word. What the conversion passes over and loses nothing
// by passes here too: unknown tags before the titles, "S" and "C" records of
// any width, records after the titles whatever their tag, slots past the
// last field, a format code the conversion does not know (no picture file).
#pragma once
#include <string>
#include <string_view>
#include <vector>
#include "kcsv/kcsv_format.h"

// 0 when the Kcsv text (code page 932, read as the conversion reads it) has
// the records, in their order, and the values the conversion relies on;
// otherwise the line, from 1, of the first fault, and *reason says what is
// wrong. The check ends with the first data record that cannot be read, as
// the conversion does (RefuseDamagedTable names that one).
size_t FirstTableFault(const std::string& kcsv, std::string* reason);
// Both checks a table gets before it is converted: this one, then the first
// data record the conversion could not read. KIV_EXIT_CONVERT with *error
// "<shown>: line N: <what is wrong>", or KIV_EXIT_OK.
int RefuseDamagedTable(const std::string& kcsv, const std::string& shown, std::string* error);

// RefuseDamagedTable over a file read a piece at a time: KIV_EXIT_READ with
// *error when it cannot be read; otherwise KIV_EXIT_OK, with *fault what
// RefuseDamagedTable would say of it ("" for a sound table).
int CheckTableFile(const std::string& path, const std::string& shown, std::string* fault, std::string* error);

// The same check a record at a time, for a table read in pieces
// (kcsv_window.h). Offsets are into the text handed to each step.
struct TableCheckPass {
    TableLayout layout;   // as the conversion builds it
    bool seen[7];         // each header record, in the order "HIMPSCT"
    int lastHeader;       // the last header record read, -1 before the first
    int width;            // columns of the "I" record
    bool album;
    bool textOnly;       // the "C" record converts every field with SJIS1
    bool inData;         // the titles have been read
    size_t next;         // where the next record starts
    size_t lineOffset;   // the line count below holds up to here
    size_t line;         // of the record last read, from 1
    size_t faultLine;    // of the first fault, 0 while there is none
    size_t lostLine;     // of the first data record the conversion could not read
    std::string reason;
    std::string values;   // a plain record's fields, one after the other
    size_t start;         // where the record last read starts
    // That record's slots (kcsv_slots.h) when it was one plain line, views
    // into the text handed to the step; empty for any other record.
    std::vector<std::string_view> slots;
};

enum CheckStep {
    CHECK_MORE,     // the record at next is not all in the text yet
    CHECK_RECORD,   // one record checked and sound; next is past it
    CHECK_DONE,     // the table has ended, or its first fault is found
};

void StartTableCheck(TableCheckPass* pass);
// Checks the record at pass->next of text, which ends where a text-mode read
// ends (at the first 0x1A byte, if any); ended says that it is the input's end.
CheckStep CheckNextRecord(TableCheckPass* pass, std::string_view text, bool ended);
// Once CHECK_DONE: what RefuseDamagedTable says of the whole table.
int TableCheckResult(const TableCheckPass& pass, const std::string& shown, std::string* error);
// The text lost its first n bytes: the offsets move with it.
void TableCheckDropped(TableCheckPass* pass, size_t n);
