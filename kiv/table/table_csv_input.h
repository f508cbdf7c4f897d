// A table CSV as people's programs save it: fields quoted or not, CR LF or
// LF line ends, with or without a byte-order mark, in UTF-8 or code page
// 932. Quoted fields may hold commas, quotes and line breaks; the line of
// each cell is kept for the problem report.
#pragma once
#include <cstdio>
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

// The rows of a table CSV file read a window at a time, so that a table of
// any length is read in flat memory: each window ends after a line end (no
// character of either encoding spans one), and a row that runs past its
// window is read again from its start once the window has grown.
struct CsvRowStream {
    FILE* file = nullptr;
    std::string path;
    bool cp932 = false;       // decoded from code page 932; else UTF-8 as it stands
    std::string raw;          // bytes read after the last whole line
    std::string text;         // decoded text from the next row on
    size_t at = 0;            // the next row's start in text
    size_t line = 1;          // its line
    size_t linesBefore = 0;   // line ends decoded before text's last piece, for a decoding error's line
    bool end = false;         // the whole file is in text
    // Found as the rows are read: UTF-8 is taken while each piece is UTF-8.
    bool checking = false;
    TextEncoding encoding = ENCODING_DETECT;
    bool bom = false;
    ~CsvRowStream();
};

// Opens path and finds its encoding as DecodeCsvText does, reading the file
// once for that when it may be UTF-8. KIV_EXIT_READ with *error when it
// cannot be read; a file that is not in the encoding adds a problem and
// leaves the stream with no rows. With asRead the encoding is found by the
// first pass instead: see CSV_AGAIN.
int OpenCsvRows(CsvRowStream* stream, const std::string& path, TextEncoding encoding, Problems* problems,
                std::string* error, bool asRead = false);
// The first row again, for a second pass over the same file; the encoding
// is the one found.
int RewindCsvRows(CsvRowStream* stream, std::string* error);

enum CsvNext { CSV_ROW, CSV_DONE, CSV_FAILED, CSV_AGAIN };
// The next row as SplitCsvRows gives it. CSV_FAILED after a read error
// (*error) or bytes that are no character (a problem); a quote never closed
// gives its row with the problem, and then CSV_DONE. A stream opened asRead
// gives CSV_AGAIN when a piece turns out not to be UTF-8 in a file that may
// be code page 932: the rows given so far are void, and the next is the
// first again, read as code page 932.
CsvNext NextCsvRow(CsvRowStream* stream, CsvRow* row, Problems* problems, std::string* error);
