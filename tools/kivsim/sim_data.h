// Blocks for the handheld to send, made from a seed so that a run can be
// repeated, and the record of a run written to files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "sim_handheld.h"

// "text": printable lines ending CR LF, as a record file would hold;
// "binary": every byte value except 0x00 (which ends a block in memory) and
// 0x1A (which ends a raw transfer). Empty for an unknown pattern.
std::vector<uint8_t> GenerateBlock(const std::string& pattern, uint32_t size, uint32_t seed);

// PREFIX.bin: the bytes the role received; PREFIX.sent: the bytes it sent;
// PREFIX.log: one line per event, "<ms> <event> ...", in milliseconds with
// three decimals on the caller's clock. The log is written last and appears
// whole (renamed into place), so its presence means the record is complete.
bool WriteRecord(const SimHandheld& h, const std::string& prefix);
bool WriteFileWhole(const std::string& path, const std::vector<uint8_t>& bytes);
bool ReadFileWhole(const std::string& path, std::vector<uint8_t>& bytes);
