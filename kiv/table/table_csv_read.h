// from-csv and push of the table CSV: NAME.csv with NAME.schema beside it
// back into the Kcsv table, every value checked before anything is written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "table_csv_input.h"

struct TableReadOptions {
    TextEncoding encoding = ENCODING_DETECT;
    bool strict = false;         // warnings refuse the table too
    bool force = false;          // replace the output when it exists
    bool decimalComma = false;   // number cells as spreadsheets of such locales save them: 0,25
    // When set, gets for each data record the number of the schema's row
    // line it was rebuilt from, 0 for none (merge ties a row to its base so).
    std::vector<long>* keptRows = nullptr;
};

// Both return a KivExit value. KIV_EXIT_CONVERT when the CSV has problems:
// *report then holds them, one line each (the first PROBLEMS_SHOWN and a
// count); when there are only warnings, *report holds those and the table
// is written. Other failures leave one line in *error.
int TableCsvToKcsvFile(const std::string& csvPath, const std::string& outPath,
                       const TableReadOptions& options, std::vector<std::string>* report, std::string* error);
// The archived version a schema names as its CSV's base; 0 and "" for none.
struct TableCsvBase {
    long version = 0;
    std::string hash;
};
// The table into memory, the block to send (ending with the end byte 0x1A);
// *base, when given, gets the schema's base.
int TableCsvToKcsvBlock(const std::string& csvPath, const TableReadOptions& options,
                        std::vector<uint8_t>* block, std::vector<std::string>* report, std::string* error,
                        TableCsvBase* base = nullptr);
