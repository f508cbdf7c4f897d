// Kcsv to the desktop application's files: the header records build the table
// layout (kcsv_header.cpp), then every further record becomes one line of the
// record file and one of the length file.
#include "kcsv/kcsv_to_csv.h"
#include <cstring>
#include <initializer_list>
#include "kcsv/field_codecs.h"
#include "kcsv/kcsv_reader.h"
#include "kcsv/leadbyte.h"
#include "kcsv/photo_album.h"

namespace {

// Time values by sub-kind. A hexadecimal digit stands for that position of
// the 14-character stamp YYYYMMDDhhmmss; other characters are copied.
const char* const kTimeForms[] = {
    "0123/45/67 89:ab",   // 0: date and time to the minute
    "0123/45/67",         // 1: date
    "0123/45",            // 2: year and month
    "89:ab:cd",           // 3: time with seconds
    "89:ab",              // 4: hours and minutes
};
const size_t kStampLength = TIMESTAMP_SIZE - 1;
const size_t kTimeValueMax = 16;   // the longest form

int StampPosition(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A stamp shorter than its form needs gives an empty value; nothing past the
// stamp's end is read.
void FormatTimeValue(const char* stamp, int subKind, char out[kTimeValueMax + 1])
{
    out[0] = '\0';
    if (!stamp)
        return;
    size_t length = 0;
    while (length < kStampLength && stamp[length])
        length++;
    const char* form = kTimeForms[(subKind >= 1 && subKind <= 4) ? subKind : 0];
    size_t n = 0;
    for (const char* p = form; *p; p++) {
        int pos = StampPosition(*p);
        if (pos >= (int)length) {
            out[0] = '\0';
            return;
        }
        out[n++] = pos < 0 ? *p : stamp[pos];
    }
    out[n] = '\0';
}

// Characters of code page 932 text, a double-byte character counting one.
size_t CountChars(const char* text)
{
    size_t count = 0;
    for (const unsigned char* p = (const unsigned char*)text; *p; count++)
        p += (IsLeadByte932(*p) && p[1]) ? 2 : 1;
    return count;
}

struct DataFiles {
    TextStream* records;
    TextStream* lengths;
};

// The value to the record file, its length in characters to the length file.
bool WriteValueAndLength(DataFiles* out, const char* value)
{
    return TextPrintf(out->lengths, "%u", (unsigned)CountChars(value)) && TextPuts(out->records, value);
}

// The text of an FK_TEXT field: converted, or as it came when the conversion
// gives nothing. An empty field writes nothing; a quoted empty one its length 0.
bool WriteTextValue(DataFiles* out, const char* slot)
{
    if (!slot)
        return true;
    Sjis1Text converted = TakeSjis1Text(Sjis1Decode(slot), slot);
    bool ok = WriteValueAndLength(out, converted.text);
    ReleaseSjis1Text(&converted);
    return ok;
}

bool WriteDataLine(const CsvRecord* record, KcsvReader* reader, DataFiles* out)
{
    const TableLayout* layout = &reader->layout;
    bool ok = true;
    int lastGroup = -1;
    for (int i = 0; i < layout->fieldCount; i++) {
        const TableField& f = layout->fields[i];
        if (f.kind == FK_NONE || f.kind == FK_IMAGE_AUX)
            continue;
        const char* pictureText = nullptr;
        int format = 0;
        if (f.kind == FK_IMAGE && !ChoosePicture(layout, record, i, &lastGroup, &pictureText, &format))
            continue;   // one column per picture group

        if (i != 0)
            ok = TextPutc(out->lengths, ',') && ok;
        ok = TextPutc(out->records, ',') && ok;

        const char* slot = SlotText(record, f.column);
        char value[KCSV_PATH_MAX];   // a number, a time or an image file's name
        value[0] = '\0';
        switch (f.kind) {
        case FK_TEXT:
            ok = WriteTextValue(out, slot) && ok;
            continue;
        case FK_NUMBER:
            if (slot)
                DecodeNumberField(slot, value, sizeof value);   // no key: stays empty
            break;
        case FK_TIME:
            FormatTimeValue(slot, f.subKind, value);
            break;
        case FK_IMAGE:
            if (format)
                WritePictureFile(reader->path, reader->imageCounter, format, pictureText, value,
                                 sizeof value);
            reader->imageCounter++;
            break;
        default:
            break;   // FK_BINARY and FK_CODE carry nothing the desktop can use
        }
        if (value[0])
            ok = WriteValueAndLength(out, value) && ok;
    }
    ok = TextPutc(out->records, '\n') && ok;
    return TextPutc(out->lengths, '\n') && ok;
}

// Every record up to the end of the input or its first malformed record;
// false when a file cannot be written or memory runs out.
bool ConvertDataRecords(TextStream* input, KcsvReader* reader)
{
    char recordName[KCSV_PATH_MAX], lengthName[KCSV_PATH_MAX];
    if (!NameFromPath(recordName, reader->path, ".rec") || !NameFromPath(lengthName, reader->path, ".num"))
        return false;
    DataFiles out = {TextOpenWrite(recordName), nullptr};
    if (!out.records)
        return false;
    out.lengths = TextOpenWrite(lengthName);
    if (!out.lengths) {
        TextClose(out.records);
        return false;
    }
    bool ok = true;
    CsvRecord record;
    while (!TextEof(input) && ReadCsvRecord(input, &record) > 0) {
        ok = WriteDataLine(&record, reader, &out) && ok;
        FreeCsvRecord(&record);
    }
    ok = !CsvRecordMemoryShort() && ok;
    ok = TextClose(out.records) && ok;
    return TextClose(out.lengths) && ok;
}

// Checked before anything is read or written. Image names are longer still;
// one that does not fit gives an empty value like any picture not written.
bool OutputNamesFit(const char* path)
{
    char name[KCSV_PATH_MAX];
    for (const char* suffix : {".table", ".rec", ".num", ".tab"})
        if (!NameFromPath(name, path, suffix))
            return false;
    return true;
}

} // namespace

bool ConvertKcsvStream(TextStream* input, const char* path)
{
    if (!input || !path || !OutputNamesFit(path))
        return false;
    KcsvReader reader;
    memset(&reader, 0, sizeof reader);
    reader.path = path;
    if (!ReadKcsvHeader(input, &reader))
        return false;
    return ConvertDataRecords(input, &reader);
}

bool ConvertKcsvToCsv(const char* path)
{
    if (!path || !OutputNamesFit(path))
        return false;
    TextStream* input = TextOpenRead(path);
    if (!input)
        return false;
    bool ok = ConvertKcsvStream(input, path);
    TextClose(input);
    return ok;
}
