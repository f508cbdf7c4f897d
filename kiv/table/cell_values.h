// The cells of a table CSV checked and turned into what a Kcsv data record
// carries: time stamps as their digits, numbers as their packed decimal
// key's 3TO4 text, text in the handheld's character set. Each parser answers
// false with *what saying what is wrong (UTF-8, for the problem report); a
// value that is accepted but will change on its way to the handheld gets a
// *warning instead.
#pragma once
#include <string>

// The forms a time cell may take, numbered as the time sub-kinds are, and
// the two that no sub-kind shows.
enum TimeForm {
    TIME_DATE_MINUTE = 0,    // 2001-01-05T23:59, 2001/1/5 23:59
    TIME_DATE = 1,           // 2001-01-05, 2001/1/5
    TIME_YEAR_MONTH = 2,     // 2001-01, 2001/1
    TIME_SECONDS = 3,        // 23:59:58
    TIME_MINUTES = 4,        // 23:59, 9:05
    TIME_DATE_SECONDS = 5,   // 2001-01-05T23:59:58, 2001/1/5 23:59:58
};

// ISO 8601 (a blank may stand for the T) or the Japanese forms with '/' and
// unpadded numbers, for a date that exists and a time of day; *digits
// receives the stamp's digits of exactly the parts the text gives, each
// padded (2001/1/5 gives 20010105). *what stays empty when the text is in
// none of these forms, and says what is wrong when it names no moment.
bool ParseTimeCell(const std::string& text, std::string* digits, TimeForm* form, std::string* what);

// A decimal number within the packed decimal's range, in the form of
// TakeNumberText: *field receives the 20 characters of its key. More than 20
// significant digits are rounded, with a warning.
bool ParseNumberCell(const std::string& text, bool decimalComma, std::string* field, std::string* what,
                     std::string* warning);

// The characters of a text that reading the table back would not give, as
// one warning naming each ("㌔ becomes 　"); empty when none. cp932 is the
// text as it goes to the handheld's conversion, given the same as the user
// wrote it (UTF-8, a code point for each character of cp932). The table is
// read back by the reader's own decoding (TextCell), so the two cannot
// disagree.
std::string ChangedCharacters(const std::string& given, const std::string& cp932);

// UTF-8 text into code page 932 after the handheld's conversion (SJIS1),
// quotes not yet doubled. A line break, or a character with no code page 932
// form, is refused; a character the handheld's set replaces by another is a
// warning naming both.
bool ParseTextCell(const std::string& text, std::string* field, std::string* what, std::string* warning);

// A picture cell: the path of a picture file, relative ones taken from
// folder (the CSV's own). *field receives the file's bytes as 3TO4 text and
// *format its format code, found from the file's first bytes, or, for bytes
// of none of JPEG, GIF and PNG (a damaged photo, as to-csv writes it back),
// from the name's extension with *warning. An empty cell is no picture:
// *format 0.
bool ParsePictureCell(const std::string& text, const std::string& folder, std::string* field, int* format,
                      std::string* what, std::string* warning);
