// The application's CSV is checked before the core converts it, cell by
// cell as the table CSV is: the core's number parser passes over commas (0,25
// would be stored as 25) and its character conversion replaces some
// characters by others, both without a word. A number that is not in the form
// of a number cell is refused; a character that would come back as another
// is a warning. A picture the core would drop (a file it cannot read, a name
// it takes for none) is refused, or on request a warning.
#pragma once
#include <string>
#include "problems.h"

// layout and *csv are code page 932, as the core reads them; given is the CSV
// as the user wrote it when that was UTF-8 (--utf8), else empty. With
// checks.decimalComma a number's ',' is its decimal separator, and *csv is written
// again with '.' in its place for the core.
struct ClassicChecks {
    bool decimalComma = false;
    bool missingPicturesEmpty = false;   // such a picture's cell stays empty, with a warning
};
void CheckClassicCells(const std::string& layout, std::string* csv, const std::string& given,
                       const ClassicChecks& checks, Problems* problems);
