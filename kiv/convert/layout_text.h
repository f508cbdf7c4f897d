// A layout a person or a script writes in UTF-8 cannot well count its blanks
// in code page 932 bytes. Under --utf8 its lines are taken as they come,
// blanks at their ends aside, and laid out again to the fixed widths the
// conversion reads: the table name in 33 bytes, each title in 21 bytes before
// its four digits of kind and sub-kind. A layout already in those widths
// comes out as it was (with CR LF line ends).
#pragma once
#include <string>

// cp932: the layout after transcoding. False with *error "<name>: line L:
// ..." for a name or title too long for its width, or a field line that does
// not end in four digits.
bool AlignLayout(const std::string& cp932, const std::string& name, std::string* out, std::string* error);
