// A Kcsv table with the stamps the writer renews blanked, one record a line,
// for tests that compare a table with the one read back: "H" field 3, "M"
// field 9, each data record's field 3, and in "P" the characters that carry
// the description's packed stamp (its bytes 34 to 38). What follows the last
// record (the end byte) is kept as it is.
#pragma once
#include <string>

inline std::string MaskStamps(const std::string& kcsv)
{
    std::string out;
    for (size_t at = 0, end; (end = kcsv.find("\r\n", at)) != std::string::npos; at = end + 2) {
        std::string line = kcsv.substr(at, end - at);
        int field = line[1] == 'H' || line[1] == 'D' ? 3 : line[1] == 'M' ? 9 : line[1] == 'P' ? 2 : -1;
        size_t from = 0;
        for (int k = 0; field > 0 && k < field; k++)
            from = line.find(',', from) + 1;
        size_t to = line.find(',', from);
        if (field == 2)
            line.replace(from + 1 + 44, 8, 8, '-');
        else if (field > 0)
            line.replace(from, to == std::string::npos ? std::string::npos : to - from, "-");
        out += line + "\n";
    }
    return out + kcsv.substr(kcsv.rfind("\r\n") + 2);
}
