// The data records of a table read back from its CSV: each row's cells
// checked and encoded for the handheld, and joined to the record the schema
// kept for it, so that what the CSV cannot carry comes back as it was.
#pragma once
#include <deque>
#include <map>
#include <string>
#include <vector>
#include "problems.h"
#include "table_csv_input.h"
#include "table_model.h"

struct RowContext {
    const TableModel* model = nullptr;
    std::string folder;                // the CSV's; picture paths are relative to it
    const char* stamp = nullptr;       // the modification stamp of every record written now
    int stampSlot = 0;                 // the slot of that stamp in a data record
    bool sameRowCount = false;         // the CSV has as many rows as the schema says
    std::vector<std::string> titles;   // the CSV's first row, for the problem report
    std::vector<bool> used;            // schema rows already taken, by their index
    // The schema rows by number and, in schema order, by fingerprint.
    std::map<long, size_t> byNumber;
    std::map<uint64_t, std::deque<size_t>> byFingerprint;
    bool decimalComma = false;               // number cells take ',' as their decimal separator
    std::vector<long>* keptRows = nullptr;   // when set: each record's row line number, 0 for none
    // Room reused from record to record, so that a record allocates nothing
    // once the first few have made it.
    std::vector<std::string> newRecord;   // a new record's slots, made once
    std::vector<std::string> slots;
    std::vector<bool> fromCell;
    std::vector<std::string> cells;
    std::vector<std::pair<int, std::string>> cellSlots;   // one cell's slots, the first cellSlotsUsed
    size_t cellSlotsUsed = 0;
    std::string slot, value, what, warning;
};

// Makes the context ready for the schema's rows.
void IndexKeptRows(RowContext* c, const std::vector<SchemaRow>& kept);

// The slot of the modification stamp: the "I" record's "mDTM", else the
// desktop writer's slot 3.
int StampSlot(const TableModel& model);

// The record for row (number from 1), or problems for its cells; the schema
// rows it may take are kept.
bool BuildDataRecord(RowContext* context, const std::vector<SchemaRow>& kept, const CsvRow& row, long number,
                     Problems* problems, std::string* record);
