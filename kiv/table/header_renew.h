// Kcsv records kept as received, taken apart and put together again without
// touching the bytes of the slots that stay, and the header records brought
// up to date for the table written now.
#pragma once
#include <string>
#include <vector>
#include "kcsv/kcsv_format.h"
#include "kcsv_slots.h"

// The slots of a kept record (one line): the bytes between its commas,
// quotes and all.
std::vector<std::string> SplitSlots(const std::string& record);

// What the format renews in the kept header records (tag first, no line
// ends) for a table of rows records written now: the stamps of "H" and "M"
// and their record counts; in the "P" record's description, the packed stamp
// of a description the desktop writer made and the table's name when name
// (code page 932) is not empty and differs. False when the description is
// not one this can change.
bool RenewHeader(std::vector<std::string>* header, long rows, const char* stamp, const PackedStamp& packed,
                 const std::string& name);
