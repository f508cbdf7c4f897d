// The conversion takes a damaged table as it comes: without its "P" record
// every field is text and a number shows its stored form, a data record
// before the titles is passed over, a header record after them becomes a row,
// a value that no longer decodes comes out empty or garbled; and it reports
// success. kiv checks the structure first and refuses such a table, naming
// the line. Tables the handheld and the DLL write pass.
#pragma once
#include <string>

// 0 when the Kcsv text (code page 932, read as the conversion reads it) has
// the records, in their order, and the values the conversion relies on;
// otherwise the line, from 1, of the first fault, and *reason says what is
// wrong. The check ends with the first data record that cannot be read, as
// the conversion does (FirstUnreadLine names that one).
size_t FirstTableFault(const std::string& kcsv, std::string* reason);
// Both checks a table gets before it is converted: this one, then the first
// data record the conversion could not read. KIV_EXIT_CONVERT with *error
// "<shown>: line N: <what is wrong>", or KIV_EXIT_OK.
int RefuseDamagedTable(const std::string& kcsv, const std::string& shown, std::string* error);
