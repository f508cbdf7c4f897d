// The header goes through the core's own header reader (in memory files), so
// the fields, kinds and pictures are exactly those the DLL's conversion sees;
// the raw records are split here, byte for byte, for what the cells cannot
// carry.
#include "table_from_kcsv.h"
#include <cstring>
#include "kcsv/field_codecs.h"
#include "kcsv/photo_album.h"
#include "kcsv_slots.h"
#include "kiv_convert.h"
#include "memfiles.h"
#include "table_cells.h"

namespace {

const char kCorePath[] = "table";

bool IsTag(const std::vector<std::string>& slots, const char* tag)
{
    return !slots.empty() && SlotValue(slots[0]) == tag;
}

// The raw header records up to and including "T"; *end after its line end.
bool SplitHeader(const std::string& kcsv, std::vector<std::string>* header, size_t* end)
{
    size_t pos = 0;
    std::vector<std::string> slots;
    while (SplitKcsvRecord(kcsv, &pos, false, &slots)) {
        header->push_back(JoinSlots(slots));
        if (IsTag(slots, "T")) {
            *end = pos;
            return true;
        }
    }
    return false;
}

bool ReadLayout(const std::string& kcsv, size_t end, KcsvTable* table)
{
    KcsvReader reader;
    memset(&reader, 0, sizeof reader);
    reader.path = kCorePath;
    UseMemoryFiles(true);
    TextStream* in = TextOpenMemory(kcsv.data(), end);
    bool ok = in && ReadKcsvHeader(in, &reader);
    if (in)
        TextClose(in);
    ClearMemoryFiles();
    UseMemoryFiles(false);
    table->layout = reader.layout;
    return ok;
}

int PictureFormat(int aux)
{
    static const int formats[] = {IMG_JPEG, IMG_GIF, IMG_PNG};
    return aux >= 0 && aux <= 2 ? formats[aux] : 0;
}

// A field with a column in the CSV: text, number, time, a picture beside its
// format column, and the first member of a picture group.
bool IsVisible(const TableLayout& layout, int i)
{
    const TableField& f = layout.fields[i];
    if (f.kind == FK_TEXT || f.kind == FK_NUMBER || f.kind == FK_TIME)
        return true;
    if (f.kind != FK_IMAGE)
        return false;
    if (f.subKind == PICTURE_BY_FORMAT_FIELD)
        return true;
    if (!IsPictureGroup(f))
        return false;
    for (int j = 0; j < i; j++)
        if (layout.fields[j].kind == FK_IMAGE && layout.fields[j].subKind == f.subKind)
            return false;
    return true;
}

ModelField MakeField(const TableLayout& layout, int i, const std::vector<std::string>& titles, bool album)
{
    const TableField& f = layout.fields[i];
    ModelField m{"", f.kind, f.subKind, std::string(f.id, strnlen(f.id, 4)), f.column, -1, {}};
    std::string title = f.column < (int)titles.size() ? SlotValue(titles[f.column]) : "";
    if (album && f.column == ALBUM_PICTURE_SLOT && !title.empty())
        title = ALBUM_PICTURE_TITLE;
    m.title = TextCell(title);
    if (f.kind == FK_IMAGE && f.subKind == PICTURE_BY_FORMAT_FIELD && f.aux1 >= 0 &&
        f.aux1 < layout.fieldCount)
        m.formatColumn = layout.fields[f.aux1].column;
    for (int j = i; IsPictureGroup(f) && j < layout.fieldCount; j++)
        if (layout.fields[j].kind == FK_IMAGE && layout.fields[j].subKind == f.subKind)
            m.group.push_back({layout.fields[j].column, PictureFormat(layout.fields[j].aux1)});
    return m;
}

std::vector<std::string> RecordSlots(const std::vector<std::string>& header, const char* tag)
{
    for (const std::string& line : header) {
        size_t pos = 0;
        std::vector<std::string> slots;
        if (SplitKcsvRecord(line, &pos, false, &slots) && IsTag(slots, tag))
            return slots;
    }
    return {};
}

std::string TrimBlanks(const char* name)
{
    std::string s = name;
    size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

void BuildModel(KcsvTable* table, TableModel* model)
{
    const TableLayout& layout = table->layout;
    std::vector<std::string> titles = RecordSlots(model->header, "T");
    std::vector<std::string> ids = RecordSlots(model->header, "I");
    bool album = false;
    std::vector<std::string> box = RecordSlots(model->header, "M");
    if (box.size() > 6 && SlotValue(box[6]) == ALBUM_BOX_NAME)
        album = true;
    model->name = Cp932ToUtf8Lenient(TrimBlanks(layout.name));
    int maxColumn = 0;
    for (int i = 0; i < layout.fieldCount; i++) {
        maxColumn = std::max(maxColumn, (int)layout.fields[i].column);
        if (IsVisible(layout, i))
            model->fields.push_back(MakeField(layout, i, titles, album));
    }
    model->systemColumns = layout.firstColumn > 0 ? layout.firstColumn - 1 : 0;
    for (int k = 1; k <= model->systemColumns; k++)
        table->systemIds.push_back(k < (int)ids.size() ? SlotValue(ids[k]) : "");
    table->recordSlots = ids.empty() ? (size_t)maxColumn + 1 : ids.size();
}

}   // namespace

int OpenKcsvTable(const std::string& kcsv, const std::string& base, const std::string& shown,
                  KcsvTable* table, TableModel* model, std::string* error)
{
    *model = TableModel();
    *table = KcsvTable();
    table->text = &kcsv;
    table->base = base;
    size_t end = 0;
    if (!SplitHeader(kcsv, &model->header, &end) || !ReadLayout(kcsv, end, table)) {
        *error = shown + ": not a table the handheld writes, or it breaks off before its data";
        return KIV_EXIT_CONVERT;
    }
    table->next = end;
    BuildModel(table, model);
    return KIV_EXIT_OK;
}
