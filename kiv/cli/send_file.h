// The file `kiv send` sends, as the block it becomes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Reads the file at path into *block: the exit status, with *error one line
// for the user when it is not 0. Nothing is read from a file too large for
// one block.
int ReadSendFile(const std::string& path, std::vector<uint8_t>* block, std::string* error);
