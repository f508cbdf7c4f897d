// kiv show: a Kcsv table or a table CSV read in two passes, as the cells a
// person reads, and laid out as aligned text for a terminal or as one web
// page. Both layouts need a column's widest cell before its first line, so
// the first pass keeps only what each column measures and the count of
// records; the second hands out the records again, one at a time, to be
// laid out and written as they come. What is held is the same for a table
// of any length.
#pragma once
#include <functional>
#include <string>
#include <vector>

struct ShownTable {
    std::string name;                  // the table's name, or the CSV's file name
    std::vector<std::string> titles;   // UTF-8, one per column
    std::vector<bool> numbers;         // per column: a number field (right-aligned)
    std::vector<bool> times;           // per column: a date or time field
    std::vector<bool> pictures;        // per column: a picture field, its cells paths
    std::string folder;                // the folder the picture paths are relative to
    // From the first pass:
    size_t records = 0;
    std::vector<int> widest;   // per column: the display width of its widest cell
};

// Where the table comes from: a Kcsv file or a table CSV at path, or Kcsv
// bytes held in memory, which path then names. A Kcsv table's picture cells
// are "<base>-pictures/R-C.EXT" in folder.
struct ShownInput {
    std::string path;
    bool isKcsv = false;
    const std::string* kcsv = nullptr;   // when held in memory
    std::string folder, base;
};

// One record as the second pass hands it out: its cells, UTF-8 as the table
// CSV holds them, and from a Kcsv table per column the picture's bytes
// (empty when none; null for a CSV, whose pictures are files already).
struct ShownRow {
    const std::vector<std::string>* cells;
    const std::vector<std::string>* bytes;
};
// Returns a KivExit value; anything but KIV_EXIT_OK ends the pass with it.
typedef std::function<int(const ShownRow& row, std::string* error)> ShownRowTaker;

// The first pass: the header (name, titles, kinds, folder) and the widths
// and count of the records. A KivExit value with *error one line naming
// the file, which the first pass has seen all of before anything is shown.
int MeasureShown(const ShownInput& input, ShownTable* table, std::string* error);
// The second pass: every record to take, in order.
int EachShownRow(const ShownInput& input, const ShownRowTaker& take, std::string* error);
// One pass of each kind of input: the header into *table (its measures
// left alone), then every record to take.
int KcsvShownPass(const ShownInput& input, ShownTable* table, const ShownRowTaker& take, std::string* error);
int CsvShownPass(const ShownInput& input, ShownTable* table, const ShownRowTaker& take, std::string* error);

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

// One shown column of the aligned view: its place in the table and its widths.
struct TextColumn {
    size_t at;
    int natural;   // its widest cell, title included, capped unless a value needs more
    int floor;     // the narrowest it may become
};
// The view laid out from the measures: no line wider than view.width,
// aligned columns, or each record as "title: value" lines when asked or
// when fewer than two columns fit.
struct TextLayout {
    const ShownTable* table = nullptr;
    TextView view;
    bool vertical = false;
    std::vector<TextColumn> columns;   // aligned: the columns that fit, and their widths
    std::vector<int> widths;
    std::vector<size_t> left;          // the columns left out, named in a last line
    int titleCells = 0;                // vertical: the cells of the titles with their colons
    std::vector<std::string> labels;   // vertical: per shown column
    size_t number = 0;                 // records laid out so far
};
// The lines before the first record.
std::string TextStart(const ShownTable& table, const TextView& view, TextLayout* layout);
// The record's lines, appended to *text.
void TextRecord(TextLayout* layout, const std::vector<std::string>& cells, std::string* text);
// The lines after the last record.
std::string TextEnd(const TextLayout& layout);
// The same for each record as a block of "title: value" lines.
std::string VerticalStart(TextLayout* layout);
void VerticalRecord(const TextLayout* layout, const std::vector<std::string>& cells, std::string* text);

// The page, links relative to the page's folder: the head with the
// table's count of records and the column titles, a row per record (links
// holds per column the link of a picture file that exists, "" otherwise),
// and the end.
std::string HtmlHead(const ShownTable& table);
std::string HtmlRow(const ShownTable& table, const std::vector<std::string>& cells,
                    const std::vector<std::string>& links);
std::string HtmlTail();
