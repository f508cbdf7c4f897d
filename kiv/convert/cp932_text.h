// The text files a person reads (layout and record files) in UTF-8 on this
// side and in code page 932 in the table's own files, through glibc's iconv.
// Its "CP932" is the Windows code page 932 the handheld's data is written in:
// 0x5C and 0x7E stay the backslash and the tilde, the NEC and IBM extension
// characters (circled digits, Roman numerals, the extra kanji) are known, and
// the punctuation that code page 932 maps to full-width forms (～ ∥ － ￠ ￡ ￢)
// comes back as those forms. Its "SHIFT_JIS" would turn 0x5C into a yen sign
// and refuse the extensions.
#pragma once
#include <string>

// Both answer false with *error "<name>: line L, column C: <what>" (lines and
// columns counted from 1, a column being one character of the input) for a
// character the other side has no form for, or bytes that are no character.
bool Utf8ToCp932(const std::string& in, const std::string& name, std::string* out, std::string* error);
bool Cp932ToUtf8(const std::string& in, const std::string& name, std::string* out, std::string* error);
