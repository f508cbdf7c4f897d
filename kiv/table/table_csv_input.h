// A table CSV as people's programs save it: fields quoted or not, CR LF or
// LF line ends, with or without a byte-order mark, in UTF-8 or code page
// 932. Quoted fields may hold commas, quotes and line breaks; the line of
// each cell is kept for the problem report.
#pragma once
#include <string>
#include <vector>
#include "problems.h"

enum TextEncoding {
    ENCODING_DETECT,   // UTF-8 when the bytes are UTF-8, else code page 932
    ENCODING_UTF8,
    ENCODING_CP932,
};

struct CsvCell {
    std::string text;   // UTF-8
    size_t line;        // where the cell begins, from 1
};

struct CsvRow {
    size_t line;
    std::vector<CsvCell> cells;
};

// The line of the first byte that is not UTF-8, or 0 when all are.
size_t FirstNonUtf8Line(const std::string& text);

// The file's bytes as UTF-8 text, a byte-order mark dropped. False, with a
// problem added, for bytes that are no character of the encoding.
bool DecodeCsvText(const std::string& bytes, TextEncoding encoding, Problems* problems, std::string* text);

// The rows of text; an empty line is a row of one empty cell, the line end
// after the last row is optional. A quote left open is a problem; a quote
// inside an unquoted field, or text after a closing quote, is taken as it
// stands, as spreadsheets read it.
void SplitCsvRows(const std::string& text, std::vector<CsvRow>* rows, Problems* problems);
