// A Kcsv file received from the handheld, turned into the files the desktop
// application imports.
#pragma once
#include "textstream.h"

// path names the Kcsv file (code page 932 bytes). Beside it, each name being
// path with an extension appended:
//   "<path>.table"   layout: the table name and a column count, then one line
//                    per output column (title cut or padded to 33 bytes,
//                    kind and sub-kind as two digits each)
//   "<path>.rec"     one line per data record: ',' and the raw value of every
//                    output column
//   "<path>.num"     one line per data record: the length in characters of
//                    every value, comma-separated, empty for an empty value
//   "<path>.tab"     the table description of the "P" record, decoded
//   "<path>.N.jpg"   (.gif, .png) one file per picture, N counting the picture
//                    fields handled from 0, whether they held a picture or not
//
// True when the data records were converted: the "T" record was reached and
// the layout, record and length files were written; the data ends at the end
// of the file or at its first malformed record. False, with nothing written,
// for a missing path, a derived name past the Windows path limit or an input
// that cannot be opened. False, keeping what was written, for an "M" record
// that is no "_PIO" box, a header that ends or breaks before its "T" record,
// an output file that cannot be created or written, or memory that runs out.
// A picture file that cannot be created or written gives an empty value and
// no file, and the conversion goes on. Holds one record at a time; pictures
// are decoded straight into their files.
bool ConvertKcsvToCsv(const char* path);

// The same over an input stream already open (text mode); the output names
// derive from path, which is not opened. Lets the fuzzer feed memory.
bool ConvertKcsvStream(TextStream* input, const char* path);
