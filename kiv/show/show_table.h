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

// The table as aligned lines, each at most width cells wide when the
// columns can be narrowed that far (0: no limit).
std::string TextTable(const ShownTable& table, int width);

// The page, links relative to the page's folder: pictureLinks holds, per
// row and column, the link of a picture file that exists ("" otherwise).
std::string HtmlPage(const ShownTable& table, const std::vector<std::vector<std::string>>& pictureLinks);
