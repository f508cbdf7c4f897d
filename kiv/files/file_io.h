// Whole files in and out: the tables are small, and a conversion needs all
// of an input before it writes anything.
#pragma once
#include <string>

// KIV_EXIT_READ with *error "<path>: <reason>" when the file cannot be read.
int ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);
// Writes a scratch file; KIV_EXIT_WRITE naming shownPath when it fails.
int WriteWholeFile(const std::string& path, const std::string& bytes, const std::string& shownPath,
                   std::string* error);
