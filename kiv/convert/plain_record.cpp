#include "plain_record.h"
#include <cstring>

namespace {

// Appends the quoted field at line[*i] (its opening quote) and a NUL; false
// when the field does not end plainly before the line does.
bool TakeQuoted(std::string_view line, size_t* i, std::string* values)
{
    size_t k = *i + 1;
    for (;;) {
        size_t run = k;
        while (k < line.size() && line[k] != '"' && line[k] != '\r' && line[k] != '\0')
            k++;
        values->append(line.data() + run, k - run);
        if (k >= line.size() || line[k] != '"')
            return false;
        if (k + 1 < line.size() && line[k + 1] == '"') {
            values->push_back('"');   // a doubled quote stands for one
            k += 2;
            continue;
        }
        values->push_back('\0');
        *i = k + 1;
        return *i == line.size() || line[*i] == ',';
    }
}

}   // namespace

int ReadPlainRecord(std::string_view line, std::string* values, CsvRecord* record)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.empty())
        return 0;
    values->clear();
    size_t offsets[CSV_MAX_FIELDS];
    bool quoted[CSV_MAX_FIELDS];
    int index = 0;
    bool lastQuoted = false;
    for (size_t i = 0;;) {
        size_t from = values->size();
        lastQuoted = i < line.size() && line[i] == '"';
        if (lastQuoted && !TakeQuoted(line, &i, values))
            return 0;
        if (!lastQuoted && i < line.size() && line[i] != ',')
            return 0;   // an unquoted value
        if (index < CSV_MAX_FIELDS) {
            offsets[index] = from;
            quoted[index] = lastQuoted;
        }
        if (i == line.size())
            break;
        i++;   // the comma
        index++;
    }
    // The reader counts a last field only when it is quoted.
    int n = lastQuoted ? index + 1 : index;
    n = n < CSV_MAX_FIELDS ? n : CSV_MAX_FIELDS;
    memset(record->fields, 0, sizeof record->fields);
    for (int k = 0; k < n; k++)
        record->fields[k] = quoted[k] ? &(*values)[offsets[k]] : nullptr;
    record->used = 0;
    return n;
}
