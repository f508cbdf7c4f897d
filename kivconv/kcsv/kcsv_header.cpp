// The header records of a received Kcsv file: "I" lists the fields, "M" names
// the box, "P" carries the table description, "T" the titles, after which the
// layout file is written. Other tags are passed over.
#include <cstring>
#include "kcsv/field_codecs.h"
#include "kcsv/kcsv_reader.h"
#include "kcsv/photo_album.h"
#include "kcsv/table_description.h"

namespace {

const int kBoxKindSlot = 4;   // "M" record
const int kBoxNameSlot = 6;
const char* const kBoxKind = "_PIO";
const int kDescriptionSlot = 2;   // "P" record
// A title beyond this many bytes is cut before it is converted; 33 are used.
const size_t kTitleMax = 255;

bool IsTag(const CsvRecord* record, const char* tag)
{
    return record->fields[0] && strcmp(record->fields[0], tag) == 0;
}

bool ReadBox(const CsvRecord* record, KcsvReader* reader)
{
    const char* kind = record->fields[kBoxKindSlot];
    if (!kind || strcmp(kind, kBoxKind) != 0)
        return false;
    const char* name = record->fields[kBoxNameSlot];
    if (name && strcmp(name, ALBUM_BOX_NAME) == 0) {
        reader->box = BOX_ALBUM;
        InstallAlbumLayout(&reader->layout);
    } else {
        reader->box = BOX_TABLE;
    }
    return true;
}

// Decodes the description into memory, keeps a copy in "<path>.tab" beside
// the input, and applies it to the layout.
bool ReadDescription(const CsvRecord* record, KcsvReader* reader)
{
    char name[KCSV_PATH_MAX];
    if (!NameFromPath(name, reader->path, ".tab"))
        return false;
    const char* text = record->fields[kDescriptionSlot] ? record->fields[kDescriptionSlot] : "";
    size_t capacity = strlen(text) / 4 * 3 + 3;
    unsigned char* bytes = (unsigned char*)MemAlloc(capacity);
    if (!bytes)
        return false;
    size_t size = Decode3to4Bytes(text, bytes, capacity);

    ByteFile* file = FileOpen(name, BF_CREATE);
    bool ok = file != nullptr;
    if (file) {
        ok = FileWrite(file, bytes, size);
        ok = FileClose(file) && ok;
    }
    if (ok)
        ApplyTableDescription(bytes, size, &reader->layout);
    MemFree(bytes);
    return ok;
}

int FieldAtColumn(const TableLayout* layout, int column)
{
    for (int i = 0; i < layout->fieldCount; i++)
        if (layout->fields[i].column == column)
            return i;
    return -1;
}

bool HasOutputColumn(const TableField& f) { return f.kind != FK_NONE && f.kind != FK_IMAGE_AUX; }

// A picture group has one column, counted at its first field.
int CountOutputColumns(const TableLayout* layout)
{
    int count = 0, lastGroup = -1;
    for (int i = 0; i < layout->fieldCount; i++) {
        const TableField& f = layout->fields[i];
        if (!HasOutputColumn(f) || (f.kind == FK_IMAGE && f.subKind == lastGroup))
            continue;
        if (IsPictureGroup(f))
            lastGroup = f.subKind;
        count++;
    }
    return count;
}

bool WriteTitleLine(TextStream* out, const char* slot, const TableField& f, int subKind)
{
    char raw[kTitleMax + 1];
    size_t n = strlen(slot);
    if (n > kTitleMax)
        n = kTitleMax;
    memcpy(raw, slot, n);
    raw[n] = '\0';
    Sjis1Text converted = TakeSjis1Text(Sjis1Decode(raw), raw);
    bool ok = WriteLayoutLine(out, converted.text, f.kind, subKind);
    ReleaseSjis1Text(&converted);
    return ok;
}

// One line per titled slot that carries an output field, in slot order; the
// titles end at the first empty slot.
bool WriteLayoutFile(const CsvRecord* titles, const KcsvReader* reader)
{
    char name[KCSV_PATH_MAX];
    if (!NameFromPath(name, reader->path, ".table"))
        return false;
    TextStream* out = TextOpenWrite(name);
    if (!out)
        return false;
    const TableLayout* layout = &reader->layout;
    bool ok = WriteLayoutHeader(out, layout->name, CountOutputColumns(layout));
    int lastListed = -1;
    for (int k = 0; k < CSV_MAX_FIELDS && titles->fields[k]; k++) {
        int i = FieldAtColumn(layout, k);
        if (i < 0 || !HasOutputColumn(layout->fields[i]))
            continue;
        const TableField& f = layout->fields[i];
        int subKind = f.subKind;
        if (IsPictureGroup(f)) {
            if (f.subKind == lastListed)
                continue;
            lastListed = f.subKind;
            subKind = PICTURE_GROUP_LISTED;
        }
        const char* title = titles->fields[k];
        if (reader->box == BOX_ALBUM && k == ALBUM_PICTURE_SLOT)
            title = ALBUM_PICTURE_TITLE;
        ok = WriteTitleLine(out, title, f, subKind) && ok;
    }
    return TextClose(out) && ok;
}

// False when the conversion has to stop.
bool HandleHeaderRecord(const CsvRecord* record, KcsvReader* reader)
{
    if (IsTag(record, "I")) {
        ReadFieldList(record, &reader->layout);
    } else if (IsTag(record, "M")) {
        return ReadBox(record, reader);
    } else if (IsTag(record, "P")) {
        return ReadDescription(record, reader);
    } else if (IsTag(record, "T")) {
        if (!WriteLayoutFile(record, reader))
            return false;
        reader->layoutWritten = true;
    }
    return true;
}

}   // namespace

void ReadFieldList(const CsvRecord* record, TableLayout* layout)
{
    int slot = 1;
    while (slot < CSV_MAX_FIELDS && record->fields[slot] && IsSystemColumnId(record->fields[slot]))
        slot++;
    layout->firstColumn = (int16_t)slot;
    int count = 0;
    for (; slot < CSV_MAX_FIELDS && record->fields[slot] && count < TABLE_MAX_FIELDS; slot++) {
        TableField& f = layout->fields[count++];
        // The first four bytes name the field; a shorter name is zero-filled.
        const char* text = record->fields[slot];
        size_t n = 0;
        while (n < FIELD_ID_SIZE - 1 && text[n])
            n++;
        memset(f.id, 0, sizeof f.id);
        memcpy(f.id, text, n);
        f.column = (int16_t)slot;
    }
    layout->fieldCount = (int16_t)count;
}

bool NameFromPath(char* out, const char* path, const char* suffix)
{
    int n = snprintf(out, KCSV_PATH_MAX, "%s%s", path, suffix);
    return n >= 0 && (size_t)n < KCSV_PATH_MAX;
}

bool ReadKcsvHeader(TextStream* input, KcsvReader* reader)
{
    CsvRecord record;
    while (!reader->layoutWritten) {
        if (ReadCsvRecord(input, &record) == 0)
            return false;
        bool ok = HandleHeaderRecord(&record, reader);
        FreeCsvRecord(&record);
        if (!ok)
            return false;
    }
    return true;
}
