// kiv show: a Kcsv table or a table CSV held whole as the cells a person
// reads, then laid out as aligned text for a terminal or as one web page.
// The tables a handheld holds are small, and both layouts need every cell
// before the first line (the widest cell of a column sets its width).
#pragma once
#include <string>
#include <vector>

struct ShownTable {
    std::string name;                             // the table's name, or the CSV's file name
    std::vector<std::string> titles;              // UTF-8, one per column
    std::vector<bool> numbers;                    // per column: a number field (right-aligned)
    std::vector<bool> times;                      // per column: a date or time field
    std::vector<bool> pictures;                   // per column: a picture field, its cells paths
    std::vector<std::vector<std::string>> rows;   // cells, UTF-8 as the table CSV holds them
    // From a Kcsv table: per row and column the picture's bytes (empty when
    // none, and no columns for a row without any picture); the cell is the
    // path they are to be written at. From a CSV: empty, the pictures being
    // files already.
    std::vector<std::vector<std::string>> bytes;
    std::string folder;   // the folder the picture paths are relative to
};

// Both return a KivExit value with *error one line naming the file.
// A Kcsv table; its picture cells are "<base>-pictures/R-C.EXT" in folder.
int LoadKcsvShown(const std::string& path, const std::string& folder, const std::string& base,
                  ShownTable* table, std::string* error);
// The same from the table's bytes; path names it in errors.
int KcsvShown(const std::string& kcsv, const std::string& path, const std::string& folder,
              const std::string& base, ShownTable* table, std::string* error);
// A table CSV with its schema NAME.schema beside it (without one, every
// column is text).
int LoadCsvShown(const std::string& path, ShownTable* table, std::string* error);

// What the terminal view shows: which columns in what order, how wide a
// line may be, and whether each record is a block of its own.
struct TextView {
    std::vector<size_t> columns;   // the table's columns (from 0) in the order shown
    int width = 0;                 // the widest line in cells, at least kNarrowestView; 0: no limit
    bool vertical = false;         // each record as "title: value" lines
};
const int kNarrowestView = 20;

// The columns a --columns list names, each by its title or by its number
// from 1; false with *error ("has no column ...") naming the first that is
// neither and the table's columns.
bool PickColumns(const ShownTable& table, const std::string& list, std::vector<size_t>* columns,
                 std::string* error);
// The view as lines, none wider than view.width: aligned columns, or each
// record as "title: value" lines when asked or when fewer than two columns
// fit.
std::string TextTable(const ShownTable& table, const TextView& view);
// Each record as a block of "title: value" lines.
std::string VerticalText(const ShownTable& table, const TextView& view);

// The page, links relative to the page's folder: pictureLinks holds, per
// row and column, the link of a picture file that exists ("" otherwise).
std::string HtmlPage(const ShownTable& table, const std::vector<std::vector<std::string>>& pictureLinks);
