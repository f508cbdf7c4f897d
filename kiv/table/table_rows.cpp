// A data record into its row: each visible field's cell (and picture), and
// for every slot whether the cell rebuilds it exactly ("*" in the schema) or
// it is kept as received. The row needs a schema line only when it holds
// more than the desktop writer puts in.
#include <cstdlib>
#include "kcsv/field_codecs.h"
#include "cell_values.h"
#include "kcsv_slots.h"
#include "table_cells.h"
#include "table_from_kcsv.h"

namespace {

// Whether the cell laid out from a time's digits reads back into them. The
// handheld keeps the digits as typed, so a day or an hour that does not
// exist can be stored; its slot is then kept in the schema, as the reader
// refuses such a cell. Only a value the quick look doubts is parsed.
bool TimeCellReadsBack(const std::string& digits, const std::string& cell, bool clock)
{
    auto group = [&](size_t at) {
        return at + 2 <= digits.size() ? (digits[at] - '0') * 10 + digits[at + 1] - '0' : -1;
    };
    bool plausible = true;
    if (clock) {
        plausible = group(0) <= 23 && group(2) <= 59 && group(4) <= 59;
    } else if (digits.size() >= 4) {
        static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        int year = group(0) * 100 + group(2), month = group(4), day = group(6);
        bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
        plausible = year >= 1 && digits.size() != 5 && digits.size() != 7 && month != 0 && month <= 12 &&
                    day != 0 && (month < 1 || day <= (month == 2 && !leap ? 28 : days[month - 1])) &&
                    group(8) <= 23 && group(10) <= 59 && group(12) <= 59;
    }
    if (plausible)
        return true;
    std::string back, what;
    TimeForm form;
    return ParseTimeCell(cell, &back, &form, &what) && back == digits;
}

std::string Decode3to4(const std::string& text)
{
    std::string bytes(text.size() / 4 * 3 + 3, '\0');
    bytes.resize(Decode3to4Bytes(text.c_str(), (unsigned char*)&bytes[0], bytes.size()));
    return bytes;
}

std::string Encoded3to4Slot(const std::string& bytes)
{
    if (bytes.empty())
        return bytes;
    std::string text(Encoded3to4Length(bytes.size()), '\0');
    Encode3to4Bytes(bytes.data(), bytes.size(), &text[0]);
    return "\"" + text + "\"";
}

struct RowWork {
    ModelRow* row;
    const std::vector<std::string_view>* slots;
    std::string* value;   // scratch for a slot's value
    std::string* text;    // and for a text in code page 932
    std::string_view Raw(int column) const
    {
        return column >= 0 && column < (int)slots->size() ? (*slots)[column] : std::string_view();
    }
    // A slot the cell rebuilds as canonical is marked so.
    void Rebuilds(int column, const std::string& canonical)
    {
        if (column >= 0 && column < (int)row->kept.size() && (*slots)[column] == canonical)
            row->kept[column].fromCell = true;
    }
    // The same for a slot that is value quoted.
    void RebuildsQuoted(int column, const std::string& value)
    {
        if (column >= 0 && column < (int)row->kept.size() && IsQuotedSlotOf((*slots)[column], value))
            row->kept[column].fromCell = true;
    }
};

void PictureCell(RowWork* w, const KcsvTable& table, size_t c, const std::string& bytes, int stored)
{
    int format = PictureFormatOfBytes(bytes);
    w->row->pictures[c] = bytes;
    if (!bytes.empty())
        w->row->cells[c] = PicturePath(table.base, w->row->number, (int)c + 1, format ? format : stored);
}

// Whether the conversion makes a file of a picture whose format column holds
// code: an empty one is decided by the bytes, a code it does not know gives
// no file.
bool KnownFormatCode(const std::string& code)
{
    if (code.empty())
        return true;
    long n = strtol(code.c_str(), nullptr, 10);
    return n == IMG_JPEG || n == IMG_GIF || n == IMG_PNG;
}

// A picture beside its format column: the format follows from the bytes.
// One whose code gives no file has an empty cell; its slots are kept.
void FormatColumnPicture(RowWork* w, const KcsvTable& table, const ModelField& f, size_t c)
{
    std::string code = SlotValue(w->Raw(f.formatColumn));
    if (!KnownFormatCode(code)) {
        w->row->cells[c].clear();
        w->row->pictures[c].clear();
        return;
    }
    std::string bytes = Decode3to4(SlotValue(w->Raw(f.column)));
    int stored = atoi(code.c_str());
    PictureCell(w, table, c, bytes, stored);
    int format = PictureFormatOfBytes(bytes);
    w->Rebuilds(f.column, Encoded3to4Slot(bytes));
    char canonical[8] = "";
    if (!bytes.empty() && format)
        snprintf(canonical, sizeof canonical, "\"%02d\"", format);
    w->Rebuilds(f.formatColumn, canonical);
}

// A group: the picture of its first member of a known format with one; the
// rebuild puts it into the first member of the format of its bytes.
void GroupPicture(RowWork* w, const KcsvTable& table, const ModelField& f, size_t c)
{
    std::string bytes;
    int stored = 0;
    for (const PictureSlot& m : f.group) {
        if (m.format && !w->Raw(m.column).empty()) {
            bytes = Decode3to4(SlotValue(w->Raw(m.column)));
            stored = m.format;
            break;
        }
    }
    PictureCell(w, table, c, bytes, stored);
    int format = PictureFormatOfBytes(bytes);
    bool placed = false;
    for (const PictureSlot& m : f.group) {
        bool here = !placed && !bytes.empty() && format && m.format == format;
        placed = placed || here;
        w->Rebuilds(m.column, here ? Encoded3to4Slot(bytes) : std::string());
    }
}

void FieldCell(RowWork* w, const KcsvTable& table, const ModelField& f, size_t c)
{
    std::string_view raw = w->Raw(f.column);
    std::string& value = *w->value;
    SlotValueInto(raw, &value);
    std::string canonical;
    std::string& cell = w->row->cells[c];
    switch (f.kind) {
    case FK_TEXT:
        if (raw.empty()) {
            cell.clear();
            w->Rebuilds(f.column, "");
        } else if (TextCellRebuilds(value, raw, &cell, w->text) && f.column < (int)w->row->kept.size()) {
            w->row->kept[f.column].fromCell = true;
        }
        break;
    case FK_NUMBER:
        cell = raw.empty() ? "" : NumberCell(value);
        if (f.column >= 0 && f.column < (int)w->row->kept.size() && IsNumberSlotOf(w->Raw(f.column), cell))
            w->row->kept[f.column].fromCell = true;
        break;
    case FK_TIME:
        if (!TimeCellFromDigits(value, f.subKind, &cell))
            cell = Cp932ToUtf8Lenient(value);
        else if (TimeCellReadsBack(value, cell, TimeIsClock(value, f.subKind)))
            w->RebuildsQuoted(f.column, value);
        break;
    default:
        if (f.group.empty())
            FormatColumnPicture(w, table, f, c);
        else
            GroupPicture(w, table, f, c);
    }
}

// A quoted stamp of digits only, as the writer makes it.
bool IsStamp(std::string_view slot)
{
    if (slot.size() != TIMESTAMP_SIZE + 1 || slot.front() != '"' || slot.back() != '"')
        return false;
    for (size_t i = 1; i + 1 < slot.size(); i++)
        if (slot[i] < '0' || slot[i] > '9')
            return false;
    return true;
}

// What the desktop writer puts into a leading system slot, by its identifier.
enum WriterSlot : char { WRITES_NOTHING, WRITES_BLANK, WRITES_STAMP };

WriterSlot WriterSlotOf(const std::string& id)
{
    return id == "SCRT" ? WRITES_BLANK : id == "mDTM" ? WRITES_STAMP : WRITES_NOTHING;
}

// What the desktop writer puts into slot k of a record.
bool IsWritersSlot(const KcsvTable& table, size_t k, const std::string& slot)
{
    if (k == 0)
        return slot == "\"D\"";
    switch (k <= table.writerSlots.size() ? table.writerSlots[k - 1] : (char)WRITES_NOTHING) {
    case WRITES_BLANK: return slot == "\" \"";
    case WRITES_STAMP: return IsStamp(slot);
    default: return slot.empty();
    }
}

bool NeedsKeeping(const KcsvTable& table, const ModelRow& row)
{
    if (row.kept.size() != table.recordSlots)
        return true;
    for (size_t k = 0; k < row.kept.size(); k++)
        if (!row.kept[k].fromCell && !IsWritersSlot(table, k, row.kept[k].raw))
            return true;
    return false;
}

}   // namespace

bool NextKcsvRow(KcsvTable* table, const TableModel& model, ModelRow* row)
{
    size_t end = table->next;
    if (!SplitKcsvRecordViews(*table->text, &end, false, &table->slots))
        return false;
    KcsvRowOfSlots(table, model, table->slots, end, row);
    return true;
}

void KcsvRowOfSlots(KcsvTable* table, const TableModel& model, const std::vector<std::string_view>& slots,
                    size_t end, ModelRow* row)
{
    table->next = end;
    row->number = ++table->rows;
    // Emptied rather than made anew, so that each keeps its room for the next row.
    row->cells.resize(model.fields.size());
    row->pictures.resize(model.fields.size());
    for (size_t c = 0; c < model.fields.size(); c++) {
        row->cells[c].clear();
        row->pictures[c].clear();
    }
    // Every slot is kept until a cell is found to rebuild it; the slots'
    // bytes move in only after the cells are made from them.
    row->kept.resize(slots.size());
    for (KeptSlot& k : row->kept) {
        k.fromCell = false;
        k.raw.clear();   // keeps its room for the next row
    }
    RowWork work{row, &slots, &table->value, &table->text932};
    for (size_t c = 0; c < model.fields.size(); c++)
        FieldCell(&work, *table, model.fields[c], c);
    for (size_t k = 0; k < slots.size(); k++)
        if (!row->kept[k].fromCell)
            row->kept[k].raw.append(slots[k]);
    if (table->writerSlots.size() != table->systemIds.size())
        for (const std::string& id : table->systemIds)
            table->writerSlots.push_back(WriterSlotOf(id));
    row->keptNeeded = NeedsKeeping(*table, *row);
}
