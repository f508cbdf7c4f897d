// The help's wrapping and its exit tables. The statuses of each command are
// listed here, next to their meanings, so that a command's help and the
// manual page name only those it can give.
#include "help_text.h"
#include <map>
#include <vector>

namespace {

const size_t kHelpWidth = 80;
const size_t kNameColumn = 30;   // where an option's description starts

struct ExitRow {
    int status;
    const char* meaning;
};

const ExitRow kExitRows[] = {
    {0, "success"},
    {1, "time-out: the handheld did not answer in time"},
    {2, "retries failed: the handheld did not take a block"},
    {3, "line error: damaged or unexpected bytes on the line, or the line was lost"},
    {4, "no memory for the block"},
    {5, "port unavailable (missing, busy, no permission, not a serial device)"},
    {6, "the table could not be converted"},
    {7, "an input file could not be read"},
    {8, "an output could not be written, or exists and --force was not given"},
    {64, "bad command line"},
    {130, "cancelled by Ctrl-C (143 by SIGTERM, 129 by a hang-up)"},
    {255, "the handheld called the transfer off"},
};

// A transfer can end in any of the link's results; a command that writes
// files can be cancelled while it writes them (its staged files go).
const std::vector<int> kTransfer = {0, 1, 2, 3, 4, 5, 7, 8, 64, 130, 255};

struct CommandExits {
    const char* command;
    std::vector<int> statuses;
    std::map<int, std::string> ownMeanings;
};

const CommandExits kCommandExits[] = {
    {"pull", {0, 1, 2, 3, 4, 5, 6, 7, 8, 64, 130, 255}, {}},
    {"push",
     {0, 1, 2, 3, 4, 5, 6, 7, 8, 64, 130, 255},
     {{8, "the handheld's table changed since the CSV's base, or the push removes more than half of the "
          "base's records (--force pushes all the same); or the trace file exists"}}},
    {"receive", kTransfer, {}},
    {"send", kTransfer, {{4, "no memory for the block, or the file is 4 GiB or more"}}},
    {"to-csv", {0, 6, 7, 8, 64, 130}, {}},
    {"from-csv", {0, 6, 7, 8, 64, 130}, {}},
    {"ports", {0, 64}, {}},
    {"history", {0, 7, 64}, {{0, "success, also when there are no pulls yet"}}},
    {"archive", {0, 6, 7, 8, 64}, {{6, "a file is no table"}, {8, "the archive could not be written"}}},
    {"diff",
     {0, 1, 7, 64},
     {{0, "the versions are the same"},
      {1, "they differ (also when only the records' order does)"},
      {7, "the archive, the table or a version could not be read"}}},
    {"export", {0, 6, 7, 8, 64, 130}, {{7, "the archive or the version could not be read"}}},
    {"merge",
     {0, 1, 6, 7, 8, 64, 130},
     {{0, "merged, no conflicts"},
      {1, "merged with conflicts: the marked rows need a person"},
      {6, "the CSV has problems (a conflict mark left, say), names no base, or its table was redefined"},
      {7, "the CSV, its schema, the archive or a version could not be read"},
      {8, "the merged files could not be written"}}},
    {"sync",
     {0, 1, 2, 3, 4, 5, 6, 7, 8, 64, 130, 255},
     {{0, "pulled, merged without conflicts, pushed and recorded"},
      {1, "the merge has conflicts: nothing was sent, the marked rows need a person; also a time-out"},
      {6, "the CSV has problems or names no base, or the merge could not be made"},
      {7, "the CSV, its schema, the archive or a version could not be read"},
      {8, "the archive or the merged files could not be written, or the push's guard refused"},
      {64, "bad command line, or the input ended before Enter (--yes runs without asking)"}}},
    {"show", {0, 6, 7, 8, 64, 130}, {}},
    {"doctor", {0, 5, 64}, {{0, "no check failed"}, {5, "a check failed"}}},
};

std::string ExitTable(const std::vector<int>& statuses, const std::map<int, std::string>& own)
{
    std::string text = "Exit status:\n";
    for (const ExitRow& row : kExitRows) {
        bool listed = false;
        for (int s : statuses)
            listed = listed || s == row.status;
        if (!listed)
            continue;
        auto it = own.find(row.status);
        std::string status = std::to_string(row.status);
        text += "  " + status + std::string(5 - status.size(), ' ') +
                WrapText(it == own.end() ? row.meaning : it->second, kHelpWidth - 7, 7) + "\n";
    }
    return text;
}

size_t Columns(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

// Option and command descriptions start at the name column; a name as
// wide as it puts its description on the next line. format_help indents
// the lines after a line break to that column itself.
class Wrapping : public CLI::Formatter {
public:
    Wrapping() { column_width(kNameColumn); }
    std::string make_option_desc(const CLI::Option* opt) const override
    {
        return WrapText(opt->get_description(), kHelpWidth - kNameColumn, 0);
    }
    std::string make_description(const CLI::App* app) const override
    {
        std::string desc = app->get_description();
        return desc.empty() ? "" : WrapText(desc, kHelpWidth, 0) + "\n";
    }
    std::string make_subcommand(const CLI::App* sub) const override
    {
        std::stringstream out;
        CLI::detail::format_help(out, sub->get_display_name(true),
                                 WrapText(sub->get_description(), kHelpWidth - kNameColumn, 0), kNameColumn);
        return out.str();
    }
};

}

std::string WrapText(const std::string& text, size_t width, size_t indent)
{
    std::string out, line;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && Columns(line) + 1 + Columns(word) > width) {
            out += line + "\n" + std::string(indent, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line;
}

std::shared_ptr<CLI::Formatter> WrappingFormatter(void) { return std::make_shared<Wrapping>(); }

std::string AllExitStatuses(void)
{
    std::vector<int> all;
    for (const ExitRow& row : kExitRows)
        all.push_back(row.status);
    return ExitTable(all, {}) +
           WrapText("Each command's --help lists the statuses it gives; diff exits 0 when "
                    "the versions are the same and 1 when they differ.",
                    kHelpWidth, 0) +
           "\n";
}

void SetExitFooters(CLI::App* app)
{
    for (CLI::App* cmd : app->get_subcommands([](CLI::App*) { return true; })) {
        for (const CommandExits& c : kCommandExits) {
            if (cmd->get_name() != c.command)
                continue;
            std::string table = ExitTable(c.statuses, c.ownMeanings);
            cmd->footer(table);
            for (CLI::App* sub : cmd->get_subcommands([](CLI::App*) { return true; }))
                sub->footer(table);
        }
    }
}
