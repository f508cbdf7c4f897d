// The text of a number cell as spreadsheets save it: an optional '-',
// digits, a decimal separator and digits, an exponent as the writer puts it
// (1E+21, 1.5E-3, and 1E+021 as some spreadsheets save it). The packed
// decimal's own parser passes over commas wherever they stand, so 0,25 would
// become 25 without a word: a comma, digit grouping or any other character
// is refused here, with what to do.
#pragma once
#include <string>

// With decimalComma the separator is ',' and a '.' is refused. *plain
// receives the number with '.' as its separator; false with *what.
bool TakeNumberText(const std::string& text, bool decimalComma, std::string* plain, std::string* what);
