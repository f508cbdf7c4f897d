#include "data_records.h"
#include <cstdio>
#include "cell_values.h"
#include "header_renew.h"

namespace {

// A slot one field's cell fills (column -1 is none), in the context's
// reused room.
void AddSlot(RowContext* c, int column, const std::string& value)
{
    if (c->cellSlotsUsed == c->cellSlots.size())
        c->cellSlots.emplace_back();
    c->cellSlots[c->cellSlotsUsed].first = column;
    c->cellSlots[c->cellSlotsUsed++].second.assign(value);
}

// What each time sub-kind's digits usually are: date-based ones by their
// least count, a time of day laid along hhmmss when it is short.
bool TimeFitsSubKind(const std::string& digits, bool clockOnly, int subKind)
{
    size_t n = digits.size();
    switch (subKind) {
    case 1: return !clockOnly && n >= 8;
    case 2: return !clockOnly && n >= 6;
    case 3: return clockOnly ? n == 6 : n >= 14;
    case 4: return clockOnly ? n >= 4 : n >= 12;
    default: return !clockOnly && n >= 12;
    }
}

const char* const kSubKindNames[] = {"date and time", "date", "year and month", "time with seconds",
                                     "hours and minutes"};

// The forms people type are checked for a date that exists; a cell in none
// of them may still be the writer's form of digits stored as typed
// (2026-12-30T4 for 2026/1/2 3:04), which comes back as it stands.
bool EncodeTime(const ModelField& f, const std::string& cell, std::string* slot, std::string* what,
                std::string* warning)
{
    std::string digits;
    TimeForm form;
    bool clockOnly, formed = ParseTimeCell(cell, &digits, &form, what);
    if (formed)
        clockOnly = form == TIME_SECONDS || form == TIME_MINUTES;
    else if (what->empty() && TimeDigitsFromCell(cell, &digits))
        clockOnly = cell.find('-') == std::string::npos && (f.subKind == 3 || f.subKind == 4);
    else {
        if (what->empty())
            *what = "\"" + cell +
                    "\" is no date or time (2001-01-05, 2001-01-05T23:59, 23:59:58, 2001-01, "
                    "23:59 or 2001/1/5 23:59)";
        return false;
    }
    int sub = f.subKind >= 0 && f.subKind <= 4 ? f.subKind : 0;
    if (!TimeFitsSubKind(digits, clockOnly, sub))
        *warning = "\"" + cell + "\" in a field of " + kSubKindNames[sub] + "; the handheld may not show it";
    *slot = QuoteSlot(digits);
    return true;
}

// The group member for a picture of format, or -1.
int GroupMember(const ModelField& f, int format)
{
    for (const PictureSlot& member : f.group)
        if (member.format == format)
            return member.column;
    return -1;
}

bool EncodePicture(RowContext* c, const ModelField& f, const std::string& cell, std::string* what,
                   std::string* warning)
{
    std::string& data = c->value;
    int format;
    if (!ParsePictureCell(cell, c->folder, &data, &format, what, warning))
        return false;
    if (f.group.empty()) {
        QuoteSlotInto(data, &c->slot);
        AddSlot(c, f.column, c->slot);
        // By hand: a format call per record cost more than the empty cell.
        char code[] = {'"', (char)('0' + format / 10 % 10), (char)('0' + format % 10), '"', 0};
        AddSlot(c, f.formatColumn, format ? std::string(code) : std::string());
        return true;
    }
    int member = format ? GroupMember(f, format) : -1;
    if (format && member < 0) {
        *what = "the picture's format is not one this field holds";
        return false;
    }
    QuoteSlotInto(data, &c->slot);
    for (const PictureSlot& m : f.group)
        AddSlot(c, m.column, m.column == member ? c->slot : std::string());
    return true;
}

// Blanks around a number or a time are a spreadsheet's layout, not the
// value's.
void Trim(const std::string& cell, std::string* value)
{
    size_t from = cell.find_first_not_of(" \t"), to = cell.find_last_not_of(" \t");
    if (from == std::string::npos)
        value->clear();
    else
        value->assign(cell, from, to - from + 1);
}

// One cell's slots; false with *what when the cell is refused.
bool EncodeCell(RowContext* c, const ModelField& f, const std::string& cell, std::string* what,
                std::string* warning)
{
    c->cellSlotsUsed = 0;
    if (f.kind == FK_IMAGE)
        return EncodePicture(c, f, cell, what, warning);
    std::string &slot = c->slot, &value = c->value;
    bool ok = true;
    slot.clear();
    if (f.kind == FK_TEXT) {
        value.clear();
        ok = ParseTextCell(cell, &value, what, warning);
        QuoteSlotInto(value, &slot);
    } else if (f.kind == FK_NUMBER || f.kind == FK_TIME) {
        Trim(cell, &value);
        if (!value.empty() && f.kind == FK_NUMBER) {
            std::string number;
            ok = ParseNumberCell(value, c->decimalComma, &number, what, warning);
            QuoteSlotInto(number, &slot);
        } else if (!value.empty()) {
            ok = EncodeTime(f, value, &slot, what, warning);
        }
    }
    AddSlot(c, f.column, slot);
    return ok;
}

// Whether a row tied to schema row k by its place alone kept one of its
// cells. A schema written before the cells' fingerprints were kept cannot
// tell: its ties by place hold as they did.
bool KeptACell(const SchemaRow& k, const std::vector<std::string>& cells)
{
    if (k.cells.empty())
        return true;
    return TieByPlaceHolds(cells.size(), [&](size_t f) {
        return f < k.cells.size() && k.cells[f] == CellFingerprint(cells[f]);
    });
}

// The schema row this CSV row takes, or -1: its own when unchanged, the
// first unused one with its cells when moved, its own by number when the
// table kept its length and the row one of its cells (edited in place;
// *inPlace).
int FindKept(RowContext* c, const std::vector<SchemaRow>& kept, long number,
             const std::vector<std::string>& cells, bool* inPlace)
{
    uint64_t fingerprint = RowFingerprint(cells);
    *inPlace = false;
    auto byNumber = c->byNumber.find(number);
    int own = byNumber != c->byNumber.end() && !c->used[byNumber->second] ? (int)byNumber->second : -1;
    if (own >= 0 && kept[(size_t)own].fingerprint == fingerprint)
        return own;
    auto same = c->byFingerprint.find(fingerprint);
    while (same != c->byFingerprint.end() && !same->second.empty() && c->used[same->second.front()])
        same->second.pop_front();
    if (same != c->byFingerprint.end() && !same->second.empty())
        return (int)same->second.front();
    *inPlace = own >= 0 && c->sameRowCount && KeptACell(kept[(size_t)own], cells);
    return *inPlace ? own : -1;
}

// A new record as the desktop writer makes it: tag, attribute, stamp, the
// other system slots empty.
std::vector<std::string> NewRecord(const RowContext& c)
{
    size_t width = (size_t)c.model->systemColumns + 1;
    for (const ModelField& f : c.model->fields) {
        width = std::max(width, (size_t)f.column + 1);
        width = std::max(width, (size_t)f.formatColumn + 1);
        for (const PictureSlot& m : f.group)
            width = std::max(width, (size_t)m.column + 1);
    }
    std::vector<std::string> slots(width);
    slots[0] = QuoteSlot("D");
    if (c.model->systemColumns > 1)
        slots[1] = QuoteSlot(" ");
    if (c.stampSlot > 0 && (size_t)c.stampSlot < width)
        slots[(size_t)c.stampSlot] = QuoteSlot(c.stamp);
    return slots;
}

// A kept record's slots; a 14-digit modification stamp is renewed, any other
// value kept.
std::vector<std::string> KeptRecordSlots(const RowContext& c, const KeptRecord& kept,
                                         std::vector<bool>* fromCell)
{
    std::vector<std::string> slots;
    for (const KeptSlot& s : kept) {
        slots.push_back(s.raw);
        fromCell->push_back(s.fromCell);
    }
    size_t k = (size_t)c.stampSlot;
    std::string value = k < slots.size() ? SlotValue(slots[k]) : "";
    if (value.size() == TIMESTAMP_SIZE - 1 && value.find_first_not_of("0123456789") == std::string::npos)
        slots[k] = QuoteSlot(c.stamp);
    return slots;
}

bool FieldFromCell(const ModelField& f, const std::vector<bool>& fromCell)
{
    auto cellSlot = [&](int k) { return k >= 0 && (size_t)k < fromCell.size() && fromCell[(size_t)k]; };
    if (cellSlot(f.column) || cellSlot(f.formatColumn))
        return true;
    for (const PictureSlot& m : f.group)
        if (cellSlot(m.column))
            return true;
    return false;
}

const std::vector<std::string>& Cells(RowContext* c, const CsvRow& row)
{
    c->cells.resize(row.cells.size());
    for (size_t i = 0; i < row.cells.size(); i++)
        c->cells[i].assign(row.cells[i].text);
    return c->cells;
}

}   // namespace

void IndexKeptRows(RowContext* c, const std::vector<SchemaRow>& kept)
{
    c->used.assign(kept.size(), false);
    for (size_t i = 0; i < kept.size(); i++) {
        c->byNumber.emplace(kept[i].number, i);
        c->byFingerprint[kept[i].fingerprint].push_back(i);
    }
}

int StampSlot(const TableModel& model)
{
    for (const std::string& record : model.header) {
        std::vector<std::string> slots = SplitSlots(record);
        if (SlotValue(slots[0]) != "I")
            continue;
        for (size_t k = 1; k < slots.size(); k++)
            if (SlotValue(slots[k]) == "mDTM")
                return (int)k;
    }
    return 3;
}

bool BuildDataRecord(RowContext* c, const std::vector<SchemaRow>& kept, const CsvRow& row, long number,
                     Problems* problems, std::string* record)
{
    const std::vector<ModelField>& fields = c->model->fields;
    // A merge's conflict column, taken off already, still counts in the CSV's columns.
    size_t column = c->model->conflictColumn ? 2 : 1;
    if (row.cells.size() != fields.size()) {
        AddError(problems, row.line, 0, "",
                 "the row has " + std::to_string(row.cells.size()) + " cells, the header " +
                     std::to_string(fields.size()));
        return false;
    }
    // A table made on the desktop keeps no records: no fingerprint to find.
    bool inPlace = false;
    int k = kept.empty() ? -1 : FindKept(c, kept, number, Cells(c, row), &inPlace);
    c->fromCell.clear();
    if (k < 0) {
        if (c->newRecord.empty())
            c->newRecord = NewRecord(*c);
        c->slots = c->newRecord;
    } else {
        c->slots = KeptRecordSlots(*c, kept[(size_t)k].kept, &c->fromCell);
        c->used[(size_t)k] = true;
    }
    std::vector<std::string>& slots = c->slots;
    if (c->keptRows)
        c->keptRows->push_back(k >= 0 ? kept[(size_t)k].number : 0);
    bool ok = true;
    for (size_t i = 0; i < fields.size(); i++) {
        const ModelField& f = fields[i];
        if (k >= 0 && !inPlace && !FieldFromCell(f, c->fromCell))
            continue;
        std::string &what = c->what, &warning = c->warning;
        what.clear();
        warning.clear();
        const CsvCell& cell = row.cells[i];
        if (!EncodeCell(c, f, cell.text, &what, &warning)) {
            AddError(problems, cell.line, i + column, c->titles[i], what);
            ok = false;
        } else if (!warning.empty()) {
            AddWarning(problems, cell.line, i + column, c->titles[i], warning);
        }
        for (size_t v = 0; v < c->cellSlotsUsed; v++) {
            const auto& slot = c->cellSlots[v];
            if (slot.first >= 0 && (size_t)slot.first < slots.size())
                slots[(size_t)slot.first] = slot.second;
        }
    }
    JoinSlotsInto(slots, record);
    return ok;
}
