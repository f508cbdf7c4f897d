#include "plain_record.h"
#include <cstring>

namespace {

// Unquotes the field at line[*i] (its opening quote) into out, NUL-ended;
// false when it does not end plainly before the line does. The line holds
// no CR or NUL. *i then stands
// after the closing quote, *out after the NUL.
bool TakeQuoted(std::string_view line, size_t* i, char** out)
{
    const char* p = line.data() + *i + 1;
    const char* end = line.data() + line.size();
    char* o = *out;
    for (;;) {
        // A run up to the next quote goes over whole.
        const char* q = (const char*)memchr(p, '"', (size_t)(end - p));
        if (!q)
            return false;
        memcpy(o, p, (size_t)(q - p));
        o += q - p;
        p = q;
        if (p + 1 < end && p[1] == '"') {
            *o++ = '"';   // a doubled quote stands for one
            p += 2;
            continue;
        }
        *o++ = '\0';
        *out = o;
        *i = (size_t)(p + 1 - line.data());
        return *i == line.size() || line[*i] == ',';
    }
}

}   // namespace

int ReadPlainRecord(std::string_view line, std::string* values, CsvRecord* record,
                    std::vector<std::string_view>* slots)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.empty() || memchr(line.data(), '\r', line.size()) || memchr(line.data(), '\0', line.size()))
        return 0;
    // A field's value is never longer than the field, and gains one NUL.
    if (values->size() < line.size() + 1)
        values->resize(line.size() + 1);
    char* base = &(*values)[0];
    char* out = base;
    size_t offsets[CSV_MAX_FIELDS];
    bool quoted[CSV_MAX_FIELDS];
    int index = 0;
    bool lastQuoted = false;
    if (slots)
        slots->clear();
    for (size_t i = 0;;) {
        size_t from = (size_t)(out - base), start = i;
        lastQuoted = i < line.size() && line[i] == '"';
        if (lastQuoted && !TakeQuoted(line, &i, &out))
            return 0;
        if (!lastQuoted && i < line.size() && line[i] != ',')
            return 0;   // an unquoted value
        if (slots)
            slots->push_back(line.substr(start, i - start));
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
        record->fields[k] = quoted[k] ? base + offsets[k] : nullptr;
    record->used = 0;
    return n;
}
