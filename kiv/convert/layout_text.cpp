#include "layout_text.h"
#include "kcsv/kcsv_format.h"

namespace {

std::string TrimEnd(const std::string& s)
{
    size_t end = s.find_last_not_of(" \t\r");
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

bool Fail(const std::string& name, size_t line, const char* what, std::string* error)
{
    *error = name + ": line " + std::to_string(line) + ": " + what;
    return false;
}

}   // namespace

bool AlignLayout(const std::string& cp932, const std::string& name, std::string* out, std::string* error)
{
    // The widths hold a name of 32 bytes and a title of 20 with a blank after.
    const size_t nameMax = LAYOUT_NAME_WIDTH - 1, titleMax = LAYOUT_TITLE_WIDTH - 1;
    std::string aligned;
    size_t line = 0, start = 0;
    while (start < cp932.size()) {
        size_t end = cp932.find('\n', start);
        if (end == std::string::npos)
            end = cp932.size();
        std::string text = TrimEnd(cp932.substr(start, end - start));
        start = end + 1;
        if (++line == 1) {
            if (text.size() > nameMax)
                return Fail(name, line, "the table name is longer than 32 bytes in code page 932", error);
            aligned += text + std::string(LAYOUT_NAME_WIDTH - text.size(), ' ') + "\r\n";
            continue;
        }
        if (text.empty())
            continue;
        size_t codeAt = text.size() < 4 ? 0 : text.size() - 4;
        if (text.size() < 4 || text.find_first_not_of("0123456789", codeAt) != std::string::npos)
            return Fail(name, line, "a field line ends in four digits, its kind and sub-kind", error);
        std::string title = TrimEnd(text.substr(0, codeAt));
        if (title.size() > titleMax)
            return Fail(name, line, "the title is longer than 20 bytes in code page 932", error);
        aligned += title + std::string(LAYOUT_TITLE_WIDTH - title.size(), ' ') + text.substr(codeAt) + "\r\n";
    }
    *out = aligned;
    return true;
}
