// Values between a Kcsv slot (the handheld's bytes) and a table CSV cell
// (UTF-8 text), by field kind. Each pair is exact both ways for a value that
// the desktop writer stores; a value it would not store (a character the
// handheld's set maps two ways, a number at 10-digit precision) shows as
// near as the cell can say, and the rebuild from that cell differs.
#pragma once
#include <string>
#include <string_view>

// Code page 932 to UTF-8; a character with no UTF-8 form becomes U+FFFD.
std::string Cp932ToUtf8Lenient(const std::string& cp932);

// FK_TEXT: the handheld's text (a slot's value) and back to a quoted slot.
std::string TextCell(const std::string& value);
// False when the cell holds a character with no code page 932 form.
bool TextSlot(const std::string& cell, std::string* slot);
// Both at once for a slot: *cell = TextCell(value), and whether TextSlot
// of that cell gives slot back, mostly without converting the cell back.
// *cp932 is room for the value in code page 932, reused from call to call.
bool TextCellRebuilds(const std::string& value, std::string_view slot, std::string* cell, std::string* cp932);

// FK_NUMBER: the plain decimal of a 20-character key; empty when the value
// is no key. Back: the key of the number the cell reads as, quoted.
std::string NumberCell(const std::string& value);
// DecodeNumberField into *text (DEC_TEXT_MAX bytes). The table check and the
// row decode each number one right after the other, so the last answer is
// kept and given again for the same value.
bool DecodedNumber(const char* value, char* text);
std::string NumberSlot(const std::string& cell);
// slot == NumberSlot(cell), without making the slot.
bool IsNumberSlotOf(std::string_view slot, const std::string& cell);
