// The one reader of a Kcsv table, for every command that reads one (pull,
// to-csv, show, export, diff, the archive): a single pass over the input, a
// piece at a time, in which each record is checked once (table_check.h) and,
// from the titles on, decoded once into its row (table_from_kcsv.h). The
// check goes on to the table's end even when the caller has stopped taking
// rows, so that a fault found late still refuses the table, as when the
// check ran over the whole table first. The cost per record is flat: the
// window drops the records behind the pass.
#pragma once
#include <string>
#include "kcsv_window.h"
#include "table_check.h"
#include "table_from_kcsv.h"

struct KcsvPass {
    KcsvWindow* in = nullptr;
    std::string shown;   // names the input in messages
    std::string base;    // the picture folder's name, for the table once opened
    TableCheckPass check;
    KcsvTable table;   // once opened: the header as the core reads it
    TableModel model;
    ModelRow row;   // the row last handed out
    bool opened = false;
    // No more rows: the record reader stopped before the check did, or the
    // caller, which wants none after a failure of its own, set it.
    bool ended = false;
    int openRc = 0;   // KIV_EXIT_CONVERT when the header could not be read
    std::string openError;
};

enum PassStep {
    PASS_TITLES,   // the header is read: model and table are ready
    PASS_ROW,      // the next data record is in row
    PASS_END,      // nothing more; KcsvPassResult says whether the table stands
};

// base names the picture folder of the rows' picture cells.
void StartKcsvPass(KcsvPass* pass, KcsvWindow* in, const std::string& base, const std::string& shown);
PassStep NextKcsvPass(KcsvPass* pass);
// After PASS_END: KIV_EXIT_OK, or what refuses the table with *error: a read
// error of the input, else the table's first fault, else a header the core
// cannot read. The input is closed.
int KcsvPassResult(KcsvPass* pass, std::string* error);
