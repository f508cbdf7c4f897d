// The schema file: what the table CSV cannot say, one statement a line
// (docs/formats.md). Written by pull and to-csv, read back with the CSV.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include "kcsv_slots.h"
#include "table_model.h"

namespace {

const char kFirstLine[] = "kiv-table-schema 1";

struct Name {
    int value;
    const char* name;
};
const Name kKinds[] = {{FK_TEXT, "text"}, {FK_NUMBER, "number"}, {FK_TIME, "time"}, {FK_IMAGE, "picture"}};
const Name kFormats[] = {{IMG_JPEG, "jpeg"}, {IMG_GIF, "gif"}, {IMG_PNG, "png"}, {0, "none"}};

template <size_t N>
const char* NameOf(const Name (&names)[N], int value)
{
    for (const Name& n : names)
        if (n.value == value)
            return n.name;
    return names[N - 1].name;
}

template <size_t N>
bool ValueOf(const Name (&names)[N], const std::string& name, int* value)
{
    for (const Name& n : names)
        if (name == n.name) {
            *value = n.value;
            return true;
        }
    return false;
}

std::string FieldLine(const ModelField& f, size_t index)
{
    std::string line = "field " + std::to_string(index + 1) + " kind=" + NameOf(kKinds, f.kind) +
                       " sub=" + std::to_string(f.subKind) + " id=" + (f.id.empty() ? "-" : f.id) +
                       " column=" + std::to_string(f.column);
    if (f.kind == FK_IMAGE && f.group.empty())
        line += " format-column=" + (f.formatColumn < 0 ? std::string("-") : std::to_string(f.formatColumn));
    for (size_t i = 0; i < f.group.size(); i++)
        line += std::string(i ? "," : " group=") + std::to_string(f.group[i].column) + ":" +
                NameOf(kFormats, f.group[i].format);
    return line + " title=" + f.title + "\n";
}

}   // namespace

std::string SchemaHead(const TableModel& model)
{
    std::string text = std::string(kFirstLine) + "\ntable " + model.name + "\nrows " +
                       std::to_string(model.rows) + "\n";
    if (model.baseVersion > 0)
        text += "base " + std::to_string(model.baseVersion) + " " + model.baseHash + "\n";
    if (model.conflictColumn)
        text += "conflict\n";
    for (size_t i = 0; i < model.fields.size(); i++)
        text += FieldLine(model.fields[i], i);
    for (const std::string& record : model.header)
        text += "header " + EscapeRaw(record) + "\n";
    return text;
}

std::string SchemaRowLine(const ModelRow& row)
{
    if (!row.keptNeeded)
        return std::string();
    char head[64], cell[16];
    snprintf(head, sizeof head, "row %ld %016" PRIx64 ":", row.number, RowFingerprint(row.cells));
    std::string line = head;
    for (const std::string& c : row.cells) {
        snprintf(cell, sizeof cell, "%08" PRIx32, CellFingerprint(c));
        line += cell;
    }
    std::vector<std::string> slots;
    for (const KeptSlot& s : row.kept)
        slots.push_back(s.fromCell ? "*" : EscapeRaw(s.raw));
    return line + " " + JoinSlots(slots) + "\n";
}

// ---- reading ------------------------------------------------------------------------

namespace {

bool ToInt(const std::string& text, long* value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    *value = strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

bool ReadGroup(const std::string& text, ModelField* f)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string member = text.substr(start,
                                         comma == std::string::npos ? std::string::npos : comma - start);
        size_t colon = member.find(':');
        long column = 0;
        int format = 0;
        if (colon == std::string::npos || !ToInt(member.substr(0, colon), &column) ||
            !ValueOf(kFormats, member.substr(colon + 1), &format))
            return false;
        f->group.push_back({(int)column, format});
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return true;
}

bool ReadFieldKey(const std::string& key, const std::string& value, ModelField* f)
{
    long n = 0;
    if (key == "kind") {
        int kind = 0;
        bool ok = ValueOf(kKinds, value, &kind);
        f->kind = (FieldKind)kind;
        return ok;
    }
    if (key == "sub" || key == "column") {
        bool ok = ToInt(value, &n);
        (key == "sub" ? f->subKind : f->column) = (int)n;
        return ok;
    }
    if (key == "id") {
        f->id = value == "-" ? "" : value;
        return true;
    }
    if (key == "format-column") {
        f->formatColumn = -1;
        return value == "-" || (ToInt(value, &n) && (f->formatColumn = (int)n) >= 0);
    }
    return key == "group" && ReadGroup(value, f);
}

// "C key=value ... title=TITLE"; the fields come in column order.
bool ReadFieldLine(const std::string& rest, TableModel* model)
{
    ModelField f{"", FK_TEXT, 0, "", -1, -1, {}};
    size_t space = rest.find(' ');
    long index = 0;
    if (space == std::string::npos || !ToInt(rest.substr(0, space), &index) ||
        index != (long)model->fields.size() + 1)
        return false;
    size_t pos = space + 1;
    while (rest.compare(pos, 6, "title=") != 0) {
        size_t end = rest.find(' ', pos);
        std::string token = rest.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        size_t eq = token.find('=');
        if (end == std::string::npos || eq == std::string::npos ||
            !ReadFieldKey(token.substr(0, eq), token.substr(eq + 1), &f))
            return false;
        pos = end + 1;
    }
    f.title = rest.substr(pos + 6);
    model->fields.push_back(f);
    return f.column > 0;
}

bool ReadRowLine(const std::string& rest, std::vector<SchemaRow>* rows)
{
    SchemaRow row;
    size_t a = rest.find(' ');
    size_t b = a == std::string::npos ? a : rest.find(' ', a + 1);
    // The row's fingerprint, then (since the cells' own were kept) ':' and
    // 8 digits for each cell.
    size_t n = b == std::string::npos ? 0 : b - a - 1;
    if (b == std::string::npos || !ToInt(rest.substr(0, a), &row.number) || n < 16 ||
        (n > 16 && (rest[a + 17] != ':' || (n - 17) % 8 != 0)))
        return false;
    std::string hex = rest.substr(a + 1, n);
    if (hex.find_first_not_of("0123456789abcdefABCDEF") != (n > 16 ? 16 : std::string::npos))
        return false;
    row.fingerprint = strtoull(hex.substr(0, 16).c_str(), nullptr, 16);
    for (size_t at = 17; at < n; at += 8) {
        if (hex.find_first_not_of("0123456789abcdefABCDEF", at) < at + 8)
            return false;
        row.cells.push_back((uint32_t)strtoul(hex.substr(at, 8).c_str(), nullptr, 16));
    }
    std::string record = rest.substr(b + 1);
    size_t pos = 0;
    std::vector<std::string> slots;
    if (!SplitKcsvRecord(record, &pos, true, &slots) || pos != record.size())
        return false;
    for (const std::string& s : slots) {
        KeptSlot kept{s == "*", ""};
        if (!kept.fromCell && !UnescapeRaw(s, &kept.raw))
            return false;
        row.kept.push_back(kept);
    }
    rows->push_back(row);
    return true;
}

// "ID HASH": the archived version the CSV was made from.
bool ReadBaseLine(const std::string& rest, TableModel* model)
{
    size_t space = rest.find(' ');
    std::string hash = space == std::string::npos ? "" : rest.substr(space + 1);
    if (!ToInt(rest.substr(0, space), &model->baseVersion) || model->baseVersion <= 0 || hash.size() != 16 ||
        hash.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    model->baseHash = hash;
    return true;
}

bool ReadStatement(const std::string& line, TableModel* model, std::vector<SchemaRow>* rows)
{
    size_t space = line.find(' ');
    std::string word = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "table") {
        model->name = rest;
        return true;
    }
    if (word == "rows")
        return ToInt(rest, &model->rows) && model->rows >= 0;
    if (word == "base")
        return ReadBaseLine(rest, model);
    if (word == "conflict" && rest.empty()) {
        model->conflictColumn = true;
        return true;
    }
    if (word == "field")
        return ReadFieldLine(rest, model);
    if (word == "header") {
        std::string bytes;
        bool ok = UnescapeRaw(rest, &bytes);
        model->header.push_back(bytes);
        return ok;
    }
    return word == "row" && ReadRowLine(rest, rows);
}

}   // namespace

bool ReadSchema(const std::string& text, TableModel* model, std::vector<SchemaRow>* rows, std::string* error)
{
    *model = TableModel();
    rows->clear();
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (long number = 1; pos < text.size(); number++) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        bool ok = number == 1 ? line == kFirstLine
                              : line.empty() || line[0] == '#' || ReadStatement(line, model, rows);
        if (!ok) {
            *error = "line " + std::to_string(number) +
                     (number == 1 ? ": not a kiv table schema (it starts with \"kiv-table-schema 1\")"
                                  : ": cannot be read: " + line.substr(0, 60));
            return false;
        }
    }
    return true;
}
