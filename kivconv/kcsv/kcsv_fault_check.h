// Every conversion a test runs on disk also runs from memory, once cleanly
// and once per failure point (each allocation, then each write, failing in
// turn). The clean run in memory must leave what the disk run left; a run
// with a fault must end in one of the states a failure may leave.
#pragma once
#include <string>

namespace kcsvtest {

typedef bool (*Conversion)(const char* path);

// Runs convert(path) on disk, the files of folder (and its subfolders) being
// the input, and answers its result; the outputs stay on disk for the test to
// examine. Then, with memory files holding copies of folder (a subfolder as
// a name that cannot be opened; files the current directory reaches by a
// relative name under that name too), checks:
//   - the clean run gives the same result and the same files as the disk run;
//   - a run that fails leaves every file as it was before the run, or as a
//     beginning of what the clean run left; image and chunk files only
//     whole; no file that the clean run did not leave;
//   - a run that succeeds leaves the clean run's files with the same line
//     counts, except pictures, which a failed write may drop (and, under a
//     write fault, must have dropped: no other write may fail unnoticed).
// Stamps show a fixed time throughout.
bool ConvertEverywhere(Conversion convert, const std::string& folder, const std::string& path);

}   // namespace kcsvtest
