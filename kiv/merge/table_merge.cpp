// The merge works on records as received, never on cells written anew: a
// record taken from one side is that side's record byte for byte (its sync
// ID, stamps and hidden slots with it), and a record both sides changed in
// different fields is the handheld's with the PC's changed fields' slots
// copied in. That needs the three versions to lay their fields out alike,
// which titles aside they do unless the handheld's table was redefined.
//
// Every step is a pass over the records or a hash lookup (the matching is
// diff's), so a merge costs the same per record at any length.
#include "table_merge.h"
#include <string_view>
#include "header_renew.h"
#include "kcsv/kcsv_format.h"
#include "kcsv_slots.h"
#include "kiv_convert.h"
#include "table_from_kcsv.h"

namespace {

const size_t kNone = (size_t)-1;

// A side opened: its model (fields, header) and where each record starts.
struct Side {
    const std::string* kcsv;
    const DecodedTable* table;
    TableModel model;
    std::vector<size_t> starts;   // of each data record, and one past the last
    size_t syncSlot = 0;          // the sync ID's slot, 0 for none
};

bool OpenSide(const MergeSide& in, const char* shown, Side* side, std::string* error)
{
    side->kcsv = in.kcsv;
    side->table = in.table;
    KcsvTable table;
    if (OpenKcsvTable(*in.kcsv, "", shown, &table, &side->model, error) != KIV_EXIT_OK)
        return false;
    for (size_t k = 0; k < table.systemIds.size(); k++)
        side->syncSlot = table.systemIds[k] == "tPID" ? k + 1 : side->syncSlot;
    std::vector<std::string_view> slots;
    size_t pos = table.next;
    side->starts.push_back(pos);
    while (SplitKcsvRecordViews(*in.kcsv, &pos, false, &slots))
        side->starts.push_back(pos);
    if (side->starts.size() - 1 != in.table->records) {
        *error = std::string(shown) + ": its records could not be told apart";
        return false;
    }
    return true;
}

// The record's slots, its line end cut.
std::vector<std::string> Slots(const Side& s, size_t r)
{
    std::vector<std::string> slots;
    size_t pos = s.starts[r];
    SplitKcsvRecord(*s.kcsv, &pos, false, &slots);
    return slots;
}

// The record's bytes as received, its line end cut.
std::string Line(const Side& s, size_t r)
{
    std::string line = s.kcsv->substr(s.starts[r], s.starts[r + 1] - s.starts[r]);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// The slots that hold field f's value: its own, a picture's format code, a
// group's members.
std::vector<int> FieldSlots(const ModelField& f)
{
    std::vector<int> slots = {f.column};
    if (f.formatColumn >= 0)
        slots.push_back(f.formatColumn);
    for (const PictureSlot& m : f.group)
        if (m.column != f.column)
            slots.push_back(m.column);
    return slots;
}

bool SameLayout(const TableModel& a, const TableModel& b)
{
    if (a.fields.size() != b.fields.size() || a.systemColumns != b.systemColumns)
        return false;
    for (size_t f = 0; f < a.fields.size(); f++) {
        const ModelField &x = a.fields[f], &y = b.fields[f];
        if (x.kind != y.kind || x.subKind != y.subKind || FieldSlots(x) != FieldSlots(y))
            return false;
    }
    return true;
}

void CopySlots(const std::vector<std::string>& from, const ModelField& f, std::vector<std::string>* to)
{
    for (int k : FieldSlots(f)) {
        if (k < 0)
            continue;
        if ((size_t)k >= to->size())
            to->resize((size_t)k + 1);
        (*to)[(size_t)k] = (size_t)k < from.size() ? from[(size_t)k] : "";
    }
}

// One merged record: a side's record, or the handheld's with the PC's
// fields in taken copied in.
struct Out {
    const Side* side;
    size_t record;
    std::vector<size_t> taken;   // PC fields into a handheld record
    const Side* pc;
    size_t pcRecord;
    std::string mark;
    bool newId = false;   // a row added on the PC: any sync ID it holds came from a tie not taken
};

struct Work {
    Side base, hh, pc;
    std::vector<size_t> hOfBase, pOfBase;   // each base record's match, or kNone
    MergeTake take;
};

bool Changed(const Side& base, size_t i, const Side& s, size_t r)
{
    for (size_t f = 0; f < base.model.fields.size(); f++)
        if (!SameField(*base.table, i, *s.table, r, f))
            return true;
    return false;
}

// The reader holds a tie by place only when the row kept a cell of its
// record; a schema older than the cells' fingerprints cannot tell, so the
// tie is judged again here, by the base's own record.
bool SharesAField(const Side& base, size_t i, const Side& s, size_t r)
{
    return TieByPlaceHolds(base.model.fields.size(),
                           [&](size_t f) { return SameField(*base.table, i, *s.table, r, f); });
}

// The records that base record i becomes, when both sides kept it.
void BothKept(const Work& w, size_t i, std::vector<Out>* outs)
{
    size_t h = w.hOfBase[i], p = w.pOfBase[i];
    std::vector<size_t> pcOnly, apart;
    for (size_t f = 0; f < w.base.model.fields.size(); f++) {
        bool hc = !SameField(*w.base.table, i, *w.hh.table, h, f);
        bool pc = !SameField(*w.base.table, i, *w.pc.table, p, f);
        if (pc && !hc)
            pcOnly.push_back(f);
        else if (pc && hc && !SameField(*w.hh.table, h, *w.pc.table, p, f))
            apart.push_back(f);
    }
    if (!apart.empty() && w.take == TAKE_NEITHER) {
        outs->push_back({&w.hh, h, {}, nullptr, 0, "handheld"});
        outs->push_back({&w.pc, p, {}, nullptr, 0, "pc"});
        return;
    }
    if (w.take == TAKE_PC)
        pcOnly.insert(pcOnly.end(), apart.begin(), apart.end());
    outs->push_back({&w.hh, h, pcOnly, &w.pc, p, ""});
}

std::string Record(const Out& o)
{
    size_t id = o.side->syncSlot;
    if (o.taken.empty() && !(o.newId && id > 0))
        return Line(*o.side, o.record);
    std::vector<std::string> slots = Slots(*o.side, o.record), from;
    if (!o.taken.empty())
        from = Slots(*o.pc, o.pcRecord);
    for (size_t f : o.taken)
        CopySlots(from, o.side->model.fields[f], &slots);
    if (o.newId && id > 0 && id < slots.size())
        slots[id].clear();
    return JoinSlots(slots);
}

// The handheld's header, with a title the PC renamed (the "T" record's slot
// of that field) and the counts and stamps renewed for rows records.
bool Header(const Work& w, size_t rows, std::vector<std::string>* header)
{
    *header = w.hh.model.header;
    std::vector<std::string> pcTitles;
    for (const std::string& record : w.pc.model.header)
        if (SplitSlots(record).size() > 0 && SlotValue(SplitSlots(record)[0]) == "T")
            pcTitles = SplitSlots(record);
    for (std::string& record : *header) {
        std::vector<std::string> slots = SplitSlots(record);
        if (slots.empty() || SlotValue(slots[0]) != "T")
            continue;
        for (size_t f = 0; f < w.base.table->titles.size(); f++) {
            size_t k = (size_t)w.hh.model.fields[f].column;
            if (w.pc.table->titles[f] != w.base.table->titles[f] && k < pcTitles.size()) {
                if (k >= slots.size())
                    slots.resize(k + 1);
                slots[k] = pcTitles[k];
            }
        }
        record = JoinSlots(slots);
    }
    char stamp[TIMESTAMP_SIZE];
    FormatTimestamp(stamp);
    return RenewHeader(header, (long)rows, stamp, PackedStampNow(), "");
}

std::vector<std::string> Cells(const Side& s, size_t r)
{
    std::vector<std::string> cells;
    for (size_t f = 0; f < s.table->titles.size(); f++)
        cells.emplace_back(CellOf(*s.table, r, f));
    return cells;
}

}   // namespace

bool MergeTables(const MergeSide& base, const MergeSide& handheld, const MergeSide& pc,
                 const std::vector<long>& pcKept, MergeTake take, TableMerge* out, std::string* error)
{
    Work w;
    w.take = take;
    if (!OpenSide(base, "the base", &w.base, error) ||
        !OpenSide(handheld, "the handheld's version", &w.hh, error) || !OpenSide(pc, "the CSV", &w.pc, error))
        return false;
    if (!SameLayout(w.base.model, w.hh.model) || !SameLayout(w.base.model, w.pc.model)) {
        *error = "the table's fields were redefined since the base (other fields, kinds or slots); merge "
                 "it by hand";
        return false;
    }
    std::vector<size_t> hOf, pOf(w.pc.table->records, kNone);
    MatchRecords(*w.base.table, *w.hh.table, &hOf, false);
    for (size_t q = 0; q < pOf.size() && q < pcKept.size(); q++)
        if (pcKept[q] > 0 && (size_t)pcKept[q] <= w.base.table->records &&
            SharesAField(w.base, (size_t)pcKept[q] - 1, w.pc, q))
            pOf[q] = (size_t)pcKept[q] - 1;
    MatchRecords(*w.base.table, *w.pc.table, &pOf, true);
    w.hOfBase.assign(w.base.table->records, kNone);
    w.pOfBase.assign(w.base.table->records, kNone);
    for (size_t j = 0; j < hOf.size(); j++)
        if (hOf[j] != kNone)
            w.hOfBase[hOf[j]] = j;
    for (size_t q = 0; q < pOf.size(); q++)
        if (pOf[q] != kNone)
            w.pOfBase[pOf[q]] = q;

    // The PC's rows that have no handheld record to stand at (added on the
    // PC, or a conflict with the handheld's delete) follow the PC row before
    // them that has one; before all, when none has.
    const size_t kStart = w.hh.table->records;
    std::vector<std::vector<Out>> after(kStart + 1);
    size_t anchor = kStart;
    for (size_t q = 0; q < pOf.size(); q++) {
        size_t i = pOf[q];
        if (i != kNone && w.hOfBase[i] != kNone) {
            anchor = w.hOfBase[i];
            continue;
        }
        bool added = i == kNone;
        if (added)
            after[anchor].push_back({&w.pc, q, {}, nullptr, 0, "", true});
        else if (Changed(w.base, i, w.pc, q) && take != TAKE_HANDHELD)
            after[anchor].push_back(
                {&w.pc, q, {}, nullptr, 0, take == TAKE_PC ? "" : "pc (deleted on the handheld)"});
    }
    std::vector<Out> outs(after[kStart]);
    for (size_t j = 0; j < hOf.size(); j++) {
        size_t i = hOf[j];
        if (i == kNone)
            outs.push_back({&w.hh, j, {}, nullptr, 0, ""});
        else if (w.pOfBase[i] != kNone)
            BothKept(w, i, &outs);
        else if (Changed(w.base, i, w.hh, j) && take != TAKE_PC)
            outs.push_back(
                {&w.hh, j, {}, nullptr, 0, take == TAKE_HANDHELD ? "" : "handheld (deleted on the PC)"});
        outs.insert(outs.end(), after[j].begin(), after[j].end());
    }

    std::vector<std::string> header;
    if (!Header(w, outs.size(), &header)) {
        *error = "the handheld's version holds no table description to renew";
        return false;
    }
    out->kcsv.clear();
    for (const std::string& record : header)
        out->kcsv += record + "\r\n";
    out->marks.clear();
    out->conflicts.clear();
    for (size_t r = 0; r < outs.size(); r++) {
        out->kcsv += Record(outs[r]) + "\r\n";
        out->marks.push_back(outs[r].mark);
        if (!outs[r].mark.empty())
            out->conflicts.push_back({r, outs[r].mark, Cells(*outs[r].side, outs[r].record)});
    }
    out->kcsv += "\x1A";
    out->records = outs.size();
    return true;
}
