// A pulled table read through the conversion library, for the archive's
// rows and for diff: the same cells the table CSV shows, and the stamps
// masked the way header_renew renews them, so that a table pulled again
// unchanged is known as such.
#include <cstdint>
#include <cstring>
#include <ctime>
#include "archive.h"
#include "header_renew.h"
#include "data_records.h"
#include "kiv_convert.h"
#include "kcsv_pass.h"
#include "table_from_kcsv.h"

namespace {

// The slot of the handheld's sync ID in a data record; 0 when the table
// has none.
size_t SyncSlot(const KcsvTable& table)
{
    for (size_t k = 0; k < table.systemIds.size(); k++)
        if (table.systemIds[k] == "tPID")
            return k + 1;
    return 0;
}

// The table's records with every renewed stamp set to one value.
bool Masked(const std::string& kcsv, std::vector<std::string>* records)
{
    KcsvTable table;
    TableModel model;
    std::string ignored;
    if (OpenKcsvTable(kcsv, "", "", &table, &model, &ignored) != KIV_EXIT_OK)
        return false;
    *records = model.header;
    if (!RenewHeader(records, 0, "", PackedStamp(), ""))
        return false;
    size_t stamp = (size_t)StampSlot(model);
    std::vector<std::string> slots;
    size_t pos = table.next;
    while (SplitKcsvRecord(kcsv, &pos, false, &slots)) {
        if (stamp < slots.size())
            slots[stamp].clear();
        records->push_back(JoinSlots(slots));
    }
    records->push_back(kcsv.substr(pos));
    return true;
}

}   // namespace

std::string ArchivePath(const std::string& given)
{
    if (!given.empty())
        return given;
    const char* named = getenv("KIV_ARCHIVE");
    if (named && named[0])
        return named;
    const char* data = getenv("XDG_DATA_HOME");
    if (data && data[0] == '/')
        return std::string(data) + "/kiv/archive.sqlite";
    const char* home = getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/kiv/archive.sqlite";
}

std::string ArchiveNow(void) { return ArchiveTime(time(nullptr)); }

std::string ArchiveTime(time_t when)
{
    struct tm t;
    gmtime_r(&when, &t);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &t);
    return text;
}

namespace {

bool Append(DecodedTable* t, std::string_view value)
{
    if (t->values.size() + value.size() > UINT32_MAX)
        return false;
    t->values.append(value);
    t->ends.push_back((uint32_t)t->values.size());
    return true;
}

// A picture cell names its file under base, the folder a pull without -n
// writes; the pass may have named it under another (passBase).
bool AppendRecord(DecodedTable* t, const ModelRow& row, std::string_view syncId, const std::string& base,
                  const std::string& passBase, std::string* room)
{
    bool ok = true;
    for (size_t c = 0; c < row.cells.size(); c++) {
        const std::string& cell = row.cells[c];
        if (base == passBase || row.pictures[c].empty() || cell.compare(0, passBase.size(), passBase) != 0) {
            ok = ok && Append(t, cell);
            continue;
        }
        room->assign(base).append(cell, passBase.size(), std::string::npos);
        ok = ok && Append(t, *room);
    }
    for (const std::string& picture : row.pictures)
        ok = ok && Append(t, picture);
    t->records++;
    return ok && Append(t, syncId);
}

std::string_view Value(const DecodedTable& t, size_t record, size_t k)
{
    size_t at = record * (2 * t.titles.size() + 1) + k;
    size_t start = at == 0 ? 0 : t.ends[at - 1];
    return std::string_view(t.values).substr(start, t.ends[at] - start);
}

}   // namespace

std::string_view CellOf(const DecodedTable& t, size_t record, size_t field)
{
    return Value(t, record, field);
}

std::string_view PictureOf(const DecodedTable& t, size_t record, size_t field)
{
    return Value(t, record, t.titles.size() + field);
}

std::string_view SyncIdOf(const DecodedTable& t, size_t record)
{
    return Value(t, record, 2 * t.titles.size());
}

namespace {

bool DecodeWindow(KcsvWindow* in, DecodedTable* out, std::string* error)
{
    PassDecoding decoding;
    StartPassDecoding(&decoding, out);
    KcsvPass pass;
    StartKcsvPass(&pass, in, "", "the table");
    for (PassStep step; (step = NextKcsvPass(&pass)) != PASS_END;) {
        DecodePassStep(&decoding, pass, step == PASS_TITLES);
        if (step == PASS_TITLES)
            pass.table.base = decoding.base;
        pass.ended = pass.ended || !decoding.fits;
    }
    EndPassDecoding(&decoding);
    if (KcsvPassResult(&pass, error) != KIV_EXIT_OK)
        return false;
    if (!decoding.fits)
        *error = "the table is too large to decode (more than 4 GiB of values)";
    return decoding.fits;
}

}   // namespace

void StartPassDecoding(PassDecoding* d, DecodedTable* table)
{
    *d = PassDecoding();
    d->table = table;
    *table = DecodedTable();
}

void DecodePassStep(PassDecoding* d, const KcsvPass& pass, bool titles)
{
    DecodedTable* out = d->table;
    if (titles) {
        out->name = pass.model.name;
        for (const ModelField& f : pass.model.fields)
            out->titles.push_back(f.title);
        // Picture cells name the files as a pull without -n writes them.
        d->base = SafeFileName(pass.model.name) ? pass.model.name : "table";
        d->sync = SyncSlot(pass.table);
        return;
    }
    if (!d->fits)
        return;
    const ModelRow& row = pass.row;
    bool kept = d->sync > 0 && d->sync < row.kept.size() && !row.kept[d->sync].fromCell;
    d->syncId.clear();
    if (kept)
        SlotValueInto(row.kept[d->sync].raw, &d->syncId);
    d->fits = AppendRecord(out, row, d->syncId, d->base, pass.table.base, &d->room);
}

void EndPassDecoding(PassDecoding* d)
{
    // The room grown for the records goes: diff holds two tables at once.
    d->table->values.shrink_to_fit();
    d->table->ends.shrink_to_fit();
}

bool DecodeTable(std::string kcsv, DecodedTable* out, std::string* error)
{
    KcsvWindow in;
    OpenKcsvWindow(std::move(kcsv), &in);
    return DecodeWindow(&in, out, error);
}

bool DecodeTableStream(FILE* bytes, const std::string& shown, DecodedTable* out, std::string* error)
{
    KcsvWindow in;
    OpenKcsvWindowStream(bytes, shown, &in);
    return DecodeWindow(&in, out, error);
}

bool SameApartFromStamps(const std::string& a, const std::string& b)
{
    std::vector<std::string> ma, mb;
    return Masked(a, &ma) && Masked(b, &mb) && ma == mb;
}

void RenumberPictures(DecodedTable* t, const std::vector<size_t>& places)
{
    size_t fields = t->titles.size();
    std::string values;
    std::vector<uint32_t> ends;
    for (size_t r = 0; r < t->records && r < places.size(); r++)
        for (size_t k = 0; k < 2 * fields + 1; k++) {
            std::string_view value = Value(*t, r, k);
            // "NAME-pictures/R-C.EXT": R, the record's place from 1.
            size_t dir = value.rfind("-pictures/"), dash = value.find('-', dir + 10);
            if (k < fields && !PictureOf(*t, r, k).empty() && dir != std::string_view::npos &&
                dash != std::string_view::npos) {
                values.append(value.substr(0, dir + 10)).append(std::to_string(places[r] + 1));
                values.append(value.substr(dash));
            } else {
                values.append(value);
            }
            ends.push_back((uint32_t)values.size());
        }
    t->values = std::move(values);
    t->ends = std::move(ends);
}

bool SameHeaderApartFromStamps(const std::string& a, const std::string& b)
{
    std::vector<std::string> lines[2];
    const std::string* bytes[2] = {&a, &b};
    for (int k = 0; k < 2; k++) {
        for (size_t at = 0; at < bytes[k]->size();) {
            size_t end = bytes[k]->find('\n', at);
            end = end == std::string::npos ? bytes[k]->size() : end + 1;
            std::string line = bytes[k]->substr(at, end - at);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            // The titles decide nothing of how a record decodes.
            if (line.compare(0, 4, "\"T\",") != 0)
                lines[k].push_back(line);
            at = end;
        }
        RenewHeader(&lines[k], 0, "", PackedStamp(), "");
    }
    return lines[0] == lines[1];
}
