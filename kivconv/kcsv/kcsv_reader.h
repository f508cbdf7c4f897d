// The state of one Kcsv-to-CSV conversion and its two phases: the header
// records, which end with the layout file, and the data records.
#pragma once
#include <cstddef>
#include "csv/csv_record.h"
#include "kcsv/kcsv_format.h"
#include "textstream.h"

enum BoxKind { BOX_UNKNOWN = 0, BOX_TABLE = 1, BOX_ALBUM = 2 };

// Everything one call knows; it starts zeroed, so that nothing of an earlier
// call (or an earlier, broken file) survives into the next.
struct KcsvReader {
    const char* path;   // the input; the outputs' names derive from it
    TableLayout layout;
    BoxKind box;
    bool layoutWritten;   // the "T" record was handled
    int imageCounter;     // numbers the image files
};

// The whole input path with suffix appended ("<path>.rec"), into out
// (KCSV_PATH_MAX bytes); false when it would not fit.
bool NameFromPath(char* out, const char* path, const char* suffix);

// The fields of an "I" record: leading system columns (in any order) are
// passed over; every slot from the first other one up to the first empty slot
// is a field, named by its first four bytes.
void ReadFieldList(const CsvRecord* record, TableLayout* layout);

// Reads and handles header records up to and including the "T" record, which
// writes the layout file. False when the header ends or breaks first, on an
// "M" record of another box kind, or when the description or layout file
// cannot be written.
bool ReadKcsvHeader(TextStream* input, KcsvReader* reader);

// The slot's text, or null for an empty field or a column outside the record.
inline const char* SlotText(const CsvRecord* record, int column)
{
    return (column >= 0 && column < CSV_MAX_FIELDS) ? record->fields[column] : nullptr;
}
