#include "problems.h"

namespace {

void Add(Problems* p, size_t line, size_t column, const std::string& title, const std::string& what,
         bool warning)
{
    warning = warning && !p->strict;
    // Only the lines shown are kept: a table of a million rows may have a
    // warning in every one.
    size_t& count = warning ? p->warnings : p->errors;
    if (count < PROBLEMS_SHOWN)
        p->list.push_back({line, column, title, what, warning});
    count++;
}

// "<file>: line 3, column 2 (金額): <what>"
std::string Format(const std::string& file, const Problem& q)
{
    std::string s = file;
    if (q.line)
        s += ": line " + std::to_string(q.line);
    if (q.column)
        s += ", column " + std::to_string(q.column);
    if (!q.title.empty())
        s += " (" + q.title + ")";
    return s + (q.warning ? ": warning: " : ": ") + q.what;
}

}   // namespace

void AddError(Problems* p, size_t line, size_t column, const std::string& title, const std::string& what)
{
    Add(p, line, column, title, what, false);
}

void AddWarning(Problems* p, size_t line, size_t column, const std::string& title, const std::string& what)
{
    Add(p, line, column, title, what, true);
}

std::vector<std::string> ProblemLines(const Problems& p)
{
    bool errors = p.errors > 0;
    size_t total = errors ? p.errors : p.warnings;
    std::vector<std::string> lines;
    for (const Problem& q : p.list) {
        if (q.warning == errors)
            continue;
        if (lines.size() == PROBLEMS_SHOWN)
            break;
        lines.push_back(Format(p.file, q));
    }
    if (total > lines.size())
        lines.push_back(p.file + ": " + std::to_string(total - lines.size()) + " more " +
                        (errors ? "problems" : "warnings") + " not shown");
    return lines;
}
