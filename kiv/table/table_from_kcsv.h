// A Kcsv table read into the table model: the header at once, the data
// records one at a time, each as its cells, its pictures and the slots the
// cells do not rebuild.
#pragma once
#include <string>
#include <string_view>
#include <vector>
#include "kcsv/kcsv_reader.h"
#include "table_model.h"

struct KcsvTable {
    const std::string* text = nullptr;    // the Kcsv bytes, or a window of them (kcsv_window.h); the caller
                                          // keeps them and moves next when the window drops bytes
    size_t next = 0;                      // where the next data record starts in text
    TableLayout layout;                   // as the core reads the header
    std::vector<std::string> systemIds;   // the leading system slots' identifiers ("" when unknown)
    std::vector<char> writerSlots;        // what the desktop writer puts into each, once known
    size_t recordSlots = 0;               // slots of a record as the desktop writer writes it
    std::string base;                     // pictures go to "<base>-pictures/"
    long rows = 0;
    // Room reused from record to record: the record's slots (views into
    // text, while a row is read), a slot's value, a text in code page 932.
    std::vector<std::string_view> slots;
    std::string value, text932;
};

// Reads the header records of kcsv into *model. base names the picture
// folder. KIV_EXIT_CONVERT with *error (shown names the input) when kcsv is
// no table the handheld writes or breaks off before its data.
int OpenKcsvTable(const std::string& kcsv, const std::string& base, const std::string& shown,
                  KcsvTable* table, TableModel* model, std::string* error);
// The next data record as a row; false after the last (the core's reader
// stops at the same record).
bool NextKcsvRow(KcsvTable* table, const TableModel& model, ModelRow* row);
// The same for the data record at table->next when a reader has split it
// already: slots as SplitKcsvRecordViews gives them, and end after its line
// end.
void KcsvRowOfSlots(KcsvTable* table, const TableModel& model, const std::vector<std::string_view>& slots,
                    size_t end, ModelRow* row);
