// The problems found in an input before anything is written: every one of a
// file is collected, so that a person can mend them all from one run. A
// warning marks a value that will change on its way to the handheld; under
// strict checking it counts as an error.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

struct Problem {
    size_t line;         // of the input, from 1; 0 when the problem is the whole file's
    size_t column;       // of the row, from 1; 0 when the problem is the row's
    std::string title;   // the column's title, UTF-8; may be empty
    std::string what;    // what is wrong, UTF-8
    bool warning;
};

struct Problems {
    std::string file;            // named at the start of every line
    bool strict = false;         // warnings count as errors
    std::vector<Problem> list;   // the first PROBLEMS_SHOWN errors and as many warnings
    size_t errors = 0;
    size_t warnings = 0;
};

// Lines shown before the rest is only counted.
const size_t PROBLEMS_SHOWN = 50;

void AddError(Problems* p, size_t line, size_t column, const std::string& title, const std::string& what);
// An error under strict checking.
void AddWarning(Problems* p, size_t line, size_t column, const std::string& title, const std::string& what);
// The lines for the user, without the program's prefix: the errors when
// there are any, else the warnings; the first PROBLEMS_SHOWN of them, then
// one line counting the rest.
std::vector<std::string> ProblemLines(const Problems& p);
