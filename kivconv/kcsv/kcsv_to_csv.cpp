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
    return TextPutDecimal(out->lengths, CountChars(value)) && TextPuts(out->records, value);
}

// The text of an FK_TEXT field: converted, or as it came when the conversion
// gives nothing. An empty field writes nothing; a quoted empty one its length 0.
bool WriteTextValue(DataFiles* out, const char* slot)
{
    auto write = [](const char* text, void* files) { return WriteValueAndLength((DataFiles*)files, text); };
    return !slot || WithSjis1Text(slot, true, write, out);
}

// Before every output column: ',' to the record file, and to the length file
// unless the column is field 0's.
bool WriteSeparators(DataFiles* out, int i)
{
    bool ok = i == 0 || TextPutc(out->lengths, ',');
    return TextPutc(out->records, ',') && ok;
}

// The value of a number or time field into value; empty for a number that
// decodes to no key and for kinds that carry nothing the desktop can use
// (FK_BINARY, FK_CODE).
void FormatPlainValue(const TableField& f, const char* slot, char* value, size_t size)
{
    value[0] = '\0';
    if (f.kind == FK_NUMBER && slot)
        DecodeNumberField(slot, value, size);
    else if (f.kind == FK_TIME)
        FormatTimeValue(slot, f.subKind, value);
}

// A picture becomes an image file whose name is the value; no picture, or one
// whose file cannot be written, gives an empty value. The image counter moves
// on either way.
void WritePictureValue(KcsvReader* reader, const char* text, int format, char* value, size_t size)
{
    value[0] = '\0';
    if (format)
        WritePictureFile(reader->path, reader->imageCounter, format, text, value, size);
    reader->imageCounter++;
}

// Field i's column: separators, then its value and length. The further
// members of a picture group have no column and write nothing.
bool WriteField(const CsvRecord* record, int i, int* lastGroup, KcsvReader* reader, DataFiles* out)
{
    const TableField& f = reader->layout.fields[i];
    const char* pictureText = nullptr;
    int format = 0;
    if (f.kind == FK_IMAGE && !ChoosePicture(&reader->layout, record, i, lastGroup, &pictureText, &format))
        return true;
    bool ok = WriteSeparators(out, i);
    const char* slot = SlotText(record, f.column);
    if (f.kind == FK_TEXT)
        return WriteTextValue(out, slot) && ok;
    char value[KCSV_PATH_MAX];   // a number, a time or an image file's name
    if (f.kind == FK_IMAGE)
        WritePictureValue(reader, pictureText, format, value, sizeof value);
    else
        FormatPlainValue(f, slot, value, sizeof value);
    return (!value[0] || WriteValueAndLength(out, value)) && ok;
}

// One line of the record file and one of the length file; FK_NONE and
// FK_IMAGE_AUX fields have no column.
bool WriteDataLine(const CsvRecord* record, KcsvReader* reader, DataFiles* out)
{
    bool ok = true;
    int lastGroup = -1;   // picture groups are counted per record
    for (int i = 0; i < reader->layout.fieldCount; i++) {
        FieldKind kind = reader->layout.fields[i].kind;
        if (kind != FK_NONE && kind != FK_IMAGE_AUX)
            ok = WriteField(record, i, &lastGroup, reader, out) && ok;
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

}   // namespace

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
