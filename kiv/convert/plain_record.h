// Nearly every data record of a table is one line of quoted or empty fields.
// Such a record is read here into one buffer, where the core's record reader
// would make an allocation per field; the fields are the same.
#pragma once
#include <string>
#include <string_view>
#include <vector>
#include "csv/csv_record.h"

// line is a record's line without its LF. True when it is plain: fields
// quoted or empty, quotes inside a field doubled, no CR but one at the end,
// no NUL. Then *record holds what ReadCsvRecord gives for it, pointing into
// *values (not to be freed with FreeCsvRecord), and the result is the count
// ReadCsvRecord returns. 0 for any other line, which the core's reader reads.
// *slots, when given, then holds each field's bytes in line, quotes and all,
// as SplitKcsvRecordViews (kcsv_slots.h) splits the line: so a reader that
// wants both the values and the bytes splits the line once.
int ReadPlainRecord(std::string_view line, std::string* values, CsvRecord* record,
                    std::vector<std::string_view>* slots = nullptr);
