// A pulled table read through the conversion library, for the archive's
// rows and for diff: the same cells the table CSV shows, and the stamps
// masked the way header_renew renews them, so that a table pulled again
// unchanged is known as such.
#include <cstring>
#include <ctime>
#include "archive.h"
#include "header_renew.h"
#include "data_records.h"
#include "kiv_convert.h"
#include "table_check.h"
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

std::string ArchiveNow(void)
{
    time_t now = time(nullptr);
    struct tm t;
    gmtime_r(&now, &t);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &t);
    return text;
}

bool DecodeTable(const std::string& kcsv, DecodedTable* out, std::string* error)
{
    KcsvTable table;
    TableModel model;
    const char shown[] = "the table";
    if (RefuseDamagedTable(kcsv, shown, error) != KIV_EXIT_OK ||
        OpenKcsvTable(kcsv, "", shown, &table, &model, error) != KIV_EXIT_OK)
        return false;
    *out = DecodedTable();
    out->name = model.name;
    for (const ModelField& f : model.fields)
        out->titles.push_back(f.title);
    // Picture cells name the files as a pull without -n writes them.
    table.base = SafeFileName(model.name) ? model.name : "table";
    size_t sync = SyncSlot(table);
    ModelRow row;
    while (NextKcsvRow(&table, model, &row)) {
        out->rows.push_back(row.cells);
        out->pictures.push_back(row.pictures);
        bool kept = sync > 0 && sync < row.kept.size() && !row.kept[sync].fromCell;
        out->syncIds.push_back(kept ? SlotValue(row.kept[sync].raw) : "");
    }
    return true;
}

bool SameApartFromStamps(const std::string& a, const std::string& b)
{
    std::vector<std::string> ma, mb;
    return Masked(a, &ma) && Masked(b, &mb) && ma == mb;
}
