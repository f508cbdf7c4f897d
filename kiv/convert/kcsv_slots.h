// Kcsv records taken apart without losing a byte: each slot as the exact
// bytes between its commas, so that a record can be put together again as
// it came, and its value as the core's record reader would read it.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// The record at *pos in text (which ends at its first 0x1A, as a text-mode
// read does). A quoted field runs to a quote followed by a comma or a line
// end; a line break inside it belongs to its bytes. Slots are split at every
// comma outside a field, so "a", gives two slots, the second empty. With
// unquoted, a bare field is one slot too (the schema's "*"); without, it ends
// the reading as it does the core's. False at the end of the input, at an
// empty line and for a record the core's reader would refuse; *pos then
// stays. Otherwise *pos moves past the record's line end (LF or CR LF).
// *slots holds the slots read, also when false.
bool SplitKcsvRecord(const std::string& text, size_t* pos, bool unquoted, std::vector<std::string>* slots);
// The same with the slots as views into text, for a reader that copies only
// what it keeps.
bool SplitKcsvRecordViews(const std::string& text, size_t* pos, bool unquoted,
                          std::vector<std::string_view>* slots);

// The value of a slot: what the core's reader makes of it (quotes taken off,
// a doubled quote made one, line breaks dropped). Empty for an empty slot.
std::string SlotValue(std::string_view slot);
void SlotValueInto(std::string_view slot, std::string* value);
// slot == QuoteSlot(value), without making the quoted slot.
bool IsQuotedSlotOf(std::string_view slot, const std::string& value);
// A value as a quoted slot (inner quotes doubled); empty stays empty.
std::string QuoteSlot(const std::string& value);
// The same into *slot, whose room is reused.
void QuoteSlotInto(const std::string& value, std::string* slot);
// The slots joined again by commas.
std::string JoinSlots(const std::vector<std::string>& slots);
// The same into *line, whose room is reused from record to record.
void JoinSlotsInto(const std::vector<std::string>& slots, std::string* line);
