// Whole files in and out: the tables are small, and a conversion needs all
// of an input before it writes anything.
#pragma once
#include <string>

// KIV_EXIT_READ with *error "<path>: <reason>" when the file cannot be read.
int ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);
// The same for name in the folder open as folder (AT_FDCWD for the working
// one), path being what a message calls it.
int ReadWholeFileAt(int folder, const std::string& name, const std::string& path, std::string* bytes,
                    std::string* error);
// Writes a scratch file; KIV_EXIT_WRITE naming shownPath when it fails.
int WriteWholeFile(const std::string& path, const std::string& bytes, const std::string& shownPath,
                   std::string* error);
