// Reader for the strict quoted CSV that Kcsv files and the desktop
// application's CSV exports share: every non-empty field in double quotes,
// fields separated by commas, one record per line.
#pragma once
#include "textstream.h"

const int CSV_MAX_FIELDS = 100;

// The fields of one record. A slot is null (an empty field) or owns a
// malloc'ed NUL-terminated string (a quoted field, possibly ""), bytes as read.
struct CsvRecord {
    char* fields[CSV_MAX_FIELDS];
    int used;   // the slots from here on are empty; FreeCsvRecord looks no further
};

// Reads the next record into the 100 slots, which it first sets empty (free an
// earlier record with FreeCsvRecord before). Returns the number of fields, at
// most CSV_MAX_FIELDS: fields beyond the 100th are checked and dropped.
// Returns 0, with all slots empty, for a missing stream or record, a stream
// already at its end, an empty line, an unquoted value, an end of input inside
// quotes, or a failed allocation.
int ReadCsvRecord(TextStream* stream, CsvRecord* record);

// Frees every slot's string and sets the slot empty.
void FreeCsvRecord(CsvRecord* record);

// True when the last ReadCsvRecord gave 0 because memory ran out rather than
// because of the input: callers that take 0 as the end of the input ask, so
// that a shortage of memory is not mistaken for the end of the data.
bool CsvRecordMemoryShort(void);
