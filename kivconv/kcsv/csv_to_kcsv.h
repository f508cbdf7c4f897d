// The desktop application's CSV export of one table, turned into a Kcsv file
// for the handheld.
#pragma once

// path names the CSV input (code page 932 bytes). Beside it the caller has
// placed the table's layout file, "<base>.table", where base is path without
// its extension. Writes "<base>.csv" (header records, one "D" record per CSV
// row, end byte 0x1A) and leaves the table's chunk file "<base>.cnk" beside it.
//
// True when the Kcsv file was written completely. False, creating nothing,
// for a missing or empty path, an input that one of the written files would
// replace (extension ".csv" or ".cnk"), derived names past the Windows path
// limit, or a layout beyond the format's limits (more than 100 fields, 10
// image fields or 99 other fields). Later failures leave what was written:
// an empty output when the CSV input or the layout cannot be read, the "H",
// "I" and "M" records when the chunk file cannot be written or read back,
// every header record and the end byte when the input cannot be read again;
// a write that fails, or memory that runs out, stops the output where it is.
//
// Reads the input twice (the row count comes first in the file) and holds
// one row at a time; images are streamed. Not re-entrant for one base name.
bool ConvertCsvToKcsv(const char* path);

// The format code of an image path by its extension (".jpg", ".jpeg", ".gif",
// ".png"; case counts), or 0: the cell then gives no image. Paths of five
// bytes or fewer name none.
int ImageFormatOfPath(const char* path);
