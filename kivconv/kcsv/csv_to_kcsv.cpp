// CSV to Kcsv: the layout file names the table and types the CSV columns; the
// Kcsv file gets the header records, the chunk file embedded in "P", one "D"
// record per CSV row and the end byte.
#include "kcsv/csv_to_kcsv.h"
#include <climits>
#include <cstdio>
#include <cstring>
#include "csv/csv_record.h"
#include "kcsv/chunk_file.h"
#include "kcsv/field_codecs.h"
#include "kcsv/kcsv_format.h"

int ImageFormatOfPath(const char* path)
{
    static const struct {
        const char* ext;
        int format;
    } kFormats[] = {{".gif", IMG_GIF}, {".jpg", IMG_JPEG}, {".jpeg", IMG_JPEG}, {".png", IMG_PNG}};
    size_t n = strlen(path);
    if (n <= 5)
        return 0;
    for (const auto& f : kFormats) {
        size_t e = strlen(f.ext);
        if (strcmp(path + n - e, f.ext) == 0)
            return f.format;
    }
    return 0;
}

namespace {

const char kLayoutExt[] = "table";
const char kKcsvExt[] = "csv";
const char kChunkExt[] = "cnk";
const int kEndOfFile = 0x1A;
// The layout's first line: the 33-byte name and its line end.
const int kLayoutHeadChars = LAYOUT_NAME_WIDTH + 1;
const char kQuote = '"';

// Length of the base: the path up to the last '.' of its file name. The scan
// goes back from the last byte to the second, byte by byte; a separator met
// first keeps the whole path. '/' separates as well as '\': Windows takes
// both, and other systems only '/'.
size_t BaseLength(const char* path, size_t n)
{
    for (size_t i = n; i-- > 1;) {
        if (path[i] == '.')
            return i;
        if (path[i] == '\\' || path[i] == '/')
            break;
    }
    return n;
}

// Case-insensitive, trailing blanks of ext ignored: Windows opens "a.CSV"
// and "a.csv " as "a.csv".
bool IsExtension(const char* ext, size_t n, const char* wanted)
{
    while (n > 0 && ext[n - 1] == ' ')
        n--;
    if (n != strlen(wanted))
        return false;
    for (size_t i = 0; i < n; i++) {
        char c = ext[i];
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        if (c != wanted[i])
            return false;
    }
    return true;
}

// The base (the input path without its extension) followed by "." and ext,
// into name (KCSV_PATH_MAX bytes). False when it does not fit.
bool NameFromBase(char* name, const char* path, size_t baseLength, const char* ext)
{
    if (baseLength > INT_MAX)
        return false;
    int n = snprintf(name, KCSV_PATH_MAX, "%.*s.%s", (int)baseLength, path, ext);
    return n >= 0 && (size_t)n < KCSV_PATH_MAX;
}

// Rows up to the first one ReadCsvRecord rejects (an empty line too). The
// "D" records stop at the same row, so the count always matches them. False
// when the input cannot be opened or memory runs out.
bool CountRows(const char* path, unsigned long* count)
{
    TextStream* in = TextOpenRead(path);
    if (!in)
        return false;
    unsigned long n = 0;
    CsvRecord record;
    while (ReadCsvRecord(in, &record) > 0) {
        FreeCsvRecord(&record);
        n++;
    }
    bool ok = !CsvRecordMemoryShort();
    TextClose(in);
    *count = n;
    return ok;
}

// ,"a","b",... for the five system columns.
bool WriteSystemColumns(TextStream* out, const char* const* texts)
{
    for (int i = 0; i < KCSV_SYSTEM_COLUMNS; i++)
        if (!TextPutc(out, ',') || !WriteKcsvQuoted(out, texts[i]))
            return false;
    return true;
}

bool WriteHeaderRecord(TextStream* out, unsigned long rows)
{
    char stamp[TIMESTAMP_SIZE];
    FormatTimestamp(stamp);
    return TextPrintf(out, "\"H\",\"04\",\"RVC2\",\"%s\",\"0001\",\"%08lX\"\n", stamp, rows);
}

bool WriteBoxRecord(TextStream* out, unsigned long rows)
{
    char stamp[TIMESTAMP_SIZE];
    FormatTimestamp(stamp);
    return TextPrintf(out,
                      "\"M\",\"04\",\"RVC2\",\"%04lX\",\"_PIO\",\"BOXFILE\",\"KPIN9999.BOX\","
                      "\"1.1\",\"20\",\"%s\"\n",
                      rows, stamp);
}

// "I": identifiers. An image field has a second column for its format code.
bool WriteIdRecord(TextStream* out, const TableLayout& table)
{
    if (!TextPuts(out, "\"I\"") || !WriteSystemColumns(out, KCSV_SYSTEM_IDS))
        return false;
    int images = 0;
    for (int i = 0; i < table.fieldCount; i++) {
        if (!TextPutc(out, ',') || !WriteKcsvQuoted(out, table.fields[i].id))
            return false;
        if (table.fields[i].kind == FK_IMAGE) {
            char formatId[FIELD_ID_SIZE];
            FormatImageFormatId(formatId, ++images);
            if (!TextPutc(out, ',') || !WriteKcsvQuoted(out, formatId))
                return false;
        }
    }
    return TextPutc(out, '\n');
}

// "S" (types) or "C" (conversions).
bool WriteTypeRecord(TextStream* out, const TableLayout& table, bool conversions)
{
    if (!TextPuts(out, conversions ? "\"C\"" : "\"S\"") ||
        !WriteSystemColumns(out, conversions ? KCSV_SYSTEM_CONVERSIONS : KCSV_SYSTEM_TYPES))
        return false;
    for (int i = 0; i < table.fieldCount; i++) {
        FieldKind kind = table.fields[i].kind;
        if (!TextPutc(out, ',') ||
            !WriteKcsvQuoted(out, conversions ? FieldConversion(kind) : FieldStorageType(kind)))
            return false;
        if (kind == FK_IMAGE &&
            (!TextPutc(out, ',') ||
             !WriteKcsvQuoted(out, conversions ? IMAGE_FORMAT_CONVERSION : IMAGE_FORMAT_TYPE)))
            return false;
    }
    return TextPutc(out, '\n');
}

// "P": the chunk file, read back and written as one 3TO4 field.
bool WritePackedRecord(TextStream* out, const char* chunkPath)
{
    ByteFile* chunk = FileOpen(chunkPath, BF_READ);
    if (!chunk)
        return false;
    bool ok = TextPuts(out, "\"P\",\"10\",\"") && Encode3to4Stream(chunk, out) && TextPutc(out, kQuote) &&
              TextPutc(out, '\n');
    FileClose(chunk);
    return ok;
}

// "T": the titles, read again from the layout file. Its widths count a CR LF
// as one character, so the lines are skipped through the text stream; a byte
// offset would fall between CR and LF and shift every title.
bool WriteTitleRecord(TextStream* out, const TableLayout& table, const char* layoutPath)
{
    TextStream* in = TextOpenRead(layoutPath);
    if (!in)
        return false;
    char skipped[kLayoutHeadChars + 1];
    ReadLayoutText(in, skipped, kLayoutHeadChars);
    bool ok = TextPuts(out, "\"T\"") && WriteSystemColumns(out, KCSV_SYSTEM_TITLES);
    int images = 0;
    for (int i = 0; ok && i < table.fieldCount; i++) {
        char raw[LAYOUT_TITLE_WIDTH + 1];
        if (ReadLayoutText(in, raw, LAYOUT_TITLE_WIDTH) == 0 || raw[0] == '\n')
            break;
        // The converted text is never longer than the 21 bytes read, but the
        // copy is bounded all the same.
        char title[LAYOUT_TITLE_WIDTH + 1];
        Sjis1Text converted = TakeSjis1Text(Sjis1Encode(raw), raw);
        snprintf(title, sizeof title, "%s", converted.text);
        ReleaseSjis1Text(&converted);
        for (size_t n = strlen(title); n > 1 && title[n - 1] == ' '; n--)
            title[n - 1] = '\0';
        ok = TextPutc(out, ',') && WriteKcsvQuoted(out, title);
        if (ok && table.fields[i].kind == FK_IMAGE)
            ok = TextPutc(out, ',') && WriteKcsvQuoted(out, ImageFormatTitle(++images));
        char codes[LAYOUT_CODE_CHARS + 1];
        ReadLayoutText(in, codes, LAYOUT_CODE_CHARS);
    }
    TextClose(in);
    return ok && TextPutc(out, '\n');
}

bool WriteTextValue(TextStream* out, const char* value)
{
    auto write = [](const char* text, void* stream) { return WriteKcsvQuoted((TextStream*)stream, text); };
    return WithSjis1Text(value, false, write, out);
}

// The handheld takes a time from the fixed positions of a 14-digit stamp, so
// only the digits count (splitting at blanks, '/' and ':' first gives the
// same digits) and digits past the 14th can mean nothing to it: they are
// cut. The value is still written rather than refused, so the date and time
// it begins with are kept.
bool WriteTimeValue(TextStream* out, const char* value)
{
    char digits[TIMESTAMP_SIZE];
    size_t n = 0;
    for (const char* p = value; *p && n < TIMESTAMP_SIZE - 1; p++)
        if (*p >= '0' && *p <= '9')
            digits[n++] = *p;
    digits[n] = '\0';
    return WriteKcsvQuoted(out, digits);
}

// Both image columns: the file's bytes streamed through 3TO4 and the format
// code, or two empty columns when there is no image to embed. False when
// writing (or reading the image) failed.
bool WriteImageValue(TextStream* out, const char* path)
{
    int format = ImageFormatOfPath(path);
    ByteFile* image = format ? FileOpen(path, BF_READ) : nullptr;
    if (!image)
        return TextPutc(out, ',');
    bool ok = TextPutc(out, kQuote) && Encode3to4Stream(image, out) && TextPutc(out, kQuote) &&
              TextPrintf(out, ",\"%02d\"", format);
    FileClose(image);
    return ok;
}

// One field's column(s), after the comma before it.
bool WriteFieldColumns(TextStream* out, const TableField& field, const char* value)
{
    if (!value)
        return field.kind == FK_IMAGE ? TextPutc(out, ',') : true;
    switch (field.kind) {
    case FK_TEXT: return WriteTextValue(out, value);
    case FK_NUMBER: return TextPutc(out, kQuote) && EncodeNumberField(value, out) && TextPutc(out, kQuote);
    case FK_TIME: return WriteTimeValue(out, value);
    case FK_IMAGE: return WriteImageValue(out, value);
    default: return true;   // FK_BINARY, FK_CODE: the column stays empty
    }
}

// One "D" record per CSV row, field k from slot k. False when the input
// cannot be opened, memory runs out or a write fails.
bool WriteDataRecords(TextStream* out, const TableLayout& table, const char* csvPath)
{
    TextStream* in = TextOpenRead(csvPath);
    if (!in)
        return false;
    bool ok = true;
    CsvRecord record;
    StampClock clock = {};
    while (ok && ReadCsvRecord(in, &record) > 0) {
        ok = TextPuts(out, "\"D\",\" \",,\"") && TextPuts(out, StampClockNow(&clock)) &&
             TextPuts(out, "\",,");
        for (int i = 0; ok && i < table.fieldCount; i++)
            ok = TextPutc(out, ',') && WriteFieldColumns(out, table.fields[i], record.fields[i]);
        FreeCsvRecord(&record);
        ok = ok && TextPutc(out, '\n');
    }
    ok = ok && !CsvRecordMemoryShort();
    TextClose(in);
    return ok;
}

// Everything after the output was created. False when a step stops.
bool WriteKcsv(TextStream* out, const char* path, bool layoutRead, const TableLayout& table,
               const char* layoutPath, const char* chunkPath)
{
    unsigned long rows = 0;
    if (!CountRows(path, &rows) || !layoutRead)
        return false;
    if (!WriteHeaderRecord(out, rows) || !WriteIdRecord(out, table) || !WriteBoxRecord(out, rows))
        return false;
    if (!WriteTableChunkFile(chunkPath, &table, nullptr) || !WritePackedRecord(out, chunkPath))
        return false;
    if (!WriteTypeRecord(out, table, false) || !WriteTypeRecord(out, table, true) ||
        !WriteTitleRecord(out, table, layoutPath))
        return false;
    // The end byte follows the header even when the rows cannot be read.
    bool rowsWritten = WriteDataRecords(out, table, path);
    return TextPutc(out, kEndOfFile) && rowsWritten;
}

}   // namespace

bool ConvertCsvToKcsv(const char* path)
{
    if (!path || !*path)
        return false;
    size_t pathLength = strlen(path);
    size_t baseLength = BaseLength(path, pathLength);
    if (baseLength < pathLength) {
        const char* ext = path + baseLength + 1;
        size_t extLength = pathLength - baseLength - 1;
        if (IsExtension(ext, extLength, kKcsvExt) || IsExtension(ext, extLength, kChunkExt))
            return false;   // the output would replace the input before it is read
    }
    char layoutPath[KCSV_PATH_MAX], kcsvPath[KCSV_PATH_MAX], chunkPath[KCSV_PATH_MAX];
    if (!NameFromBase(layoutPath, path, baseLength, kLayoutExt) ||
        !NameFromBase(kcsvPath, path, baseLength, kKcsvExt) ||
        !NameFromBase(chunkPath, path, baseLength, kChunkExt))
        return false;

    // The layout is read before anything is created, so that a table the
    // format cannot hold leaves an earlier output alone. A layout that
    // cannot be opened still gets the empty output the caller knows.
    LayoutFile layout = {};
    TableLayout table = {};
    bool layoutRead = ReadLayoutFile(layoutPath, &layout);
    if (layoutRead && (layout.truncated || !BuildTableLayout(&layout, &table)))
        return false;

    TextStream* out = TextOpenWrite(kcsvPath);
    if (!out)
        return false;
    bool ok = WriteKcsv(out, path, layoutRead, table, layoutPath, chunkPath);
    return TextClose(out) && ok;
}
