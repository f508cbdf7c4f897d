// The records are read with the conversion's own reader, and the layout is
// built as the conversion builds it (the "I" record's fields, the album's
// fixed layout, the "P" record's description), so that each data value is
// checked against the kind the conversion will give it. What is checked is
// what a table from the handheld or the DLL always has: the header records
// once each and in their order before the data, the records the conversion
// needs, an ordinary table's records as wide as its "I" record, and values
// that decode for their kind. Empty values are sound for every kind.
#include "table_check.h"
#include "kiv_convert.h"
#include "lost_rows.h"
#include <algorithm>
#include <cstring>
#include <vector>
#include "csv/csv_record.h"
#include "kcsv/chunk_file.h"
#include "kcsv/field_codecs.h"
#include "kcsv/kcsv_reader.h"
#include "kcsv/photo_album.h"
#include "kcsv/table_description.h"
#include "number/packed_decimal.h"
#include "textstream.h"

namespace {

// The header records in the order they come; the titles end the header.
const char kHeaderTags[] = "HIMPSCT";
enum HeaderRecord { HDR_H, HDR_I, HDR_M, HDR_P, HDR_S, HDR_C, HDR_T, HDR_COUNT };

const int kBoxKindSlot = 4;   // "M" record
const int kBoxNameSlot = 6;
const char* const kBoxKind = "_PIO";
const int kDescriptionSlot = 2;   // "P" record
const size_t kFormatDigits = 2;   // an image format code ("1BHEX2")
const size_t kTagShown = 8;       // of a stray record's tag in a message

struct TableCheck {
    TableLayout layout;   // as the conversion builds it
    bool seen[HDR_COUNT];
    int lastHeader;   // the last header record read, -1 before the first
    int width;        // columns of the "I" record
    bool album;
    bool textOnly;   // the "C" record converts every field with SJIS1
    std::string reason;
};

bool Fault(TableCheck* c, const std::string& reason)
{
    c->reason = reason;
    return false;
}

std::string Record(char tag) { return std::string("\"") + tag + "\" record"; }

// "column 8 (KD02)": the column as a spreadsheet counts it, and the field's
// identifier when it has one.
std::string ColumnName(int slot, const char* id)
{
    std::string name = "column " + std::to_string(slot + 1);
    return id && id[0] ? name + " (" + id + ")" : name;
}

bool IsDigits(const char* text, size_t min, size_t max)
{
    size_t n = strspn(text, "0123456789");
    return text[n] == '\0' && n >= min && n <= max;
}

// Characters of the 3TO4 alphabet in groups that decode whole: a single
// character left over carries no byte.
bool Is3to4Text(const char* text)
{
    size_t n = strlen(text);
    return strspn(text, ALPHABET_3TO4) == n && n % 4 != 1;
}

bool IsNumberValue(const char* text)
{
    char number[DEC_TEXT_MAX];
    return strlen(text) == (size_t)NUMBER_FIELD_CHARS && Is3to4Text(text) &&
           DecodeNumberField(text, number, sizeof number);
}

// An ordinary table's "S", "C", "T" and data records have the columns of its
// "I" record; a shorter one shifts or drops values.
bool CheckWidth(TableCheck* c, int columns)
{
    if (c->album || !c->seen[HDR_I] || columns == c->width)
        return true;
    return Fault(c,
                 std::to_string(columns) + " columns where the \"I\" record has " + std::to_string(c->width));
}

bool CheckOrder(TableCheck* c, int header)
{
    if (header == c->lastHeader)
        return Fault(c, "a second " + Record(kHeaderTags[header]));
    if (header < c->lastHeader)
        return Fault(c, "the " + Record(kHeaderTags[header]) + " after the " +
                            Record(kHeaderTags[c->lastHeader]));
    c->lastHeader = header;
    c->seen[header] = true;
    return true;
}

// The conversion takes the fields up to the first empty identifier.
bool ReadFields(TableCheck* c, const CsvRecord* r, int columns)
{
    ReadFieldList(r, &c->layout);
    c->width = columns;
    int end = c->layout.firstColumn + c->layout.fieldCount;
    if (end < columns)
        return Fault(c, ColumnName(end, nullptr) + ": an empty field identifier in the \"I\" record");
    return true;
}

bool ReadBox(TableCheck* c, const CsvRecord* r)
{
    const char* kind = SlotText(r, kBoxKindSlot);
    if (!kind || strcmp(kind, kBoxKind) != 0)
        return Fault(c, "the \"M\" record names no box of the handheld's");
    const char* name = SlotText(r, kBoxNameSlot);
    c->album = name && strcmp(name, ALBUM_BOX_NAME) == 0;
    if (c->album)
        InstallAlbumLayout(&c->layout);
    return true;
}

// The description must hold all the bytes its length counts.
bool ReadDescription(TableCheck* c, const CsvRecord* r)
{
    const char* text = SlotText(r, kDescriptionSlot) ? SlotText(r, kDescriptionSlot) : "";
    if (!Is3to4Text(text))
        return Fault(c, "the table description is not 3TO4 text");
    std::vector<unsigned char> bytes(strlen(text) / 4 * 3 + 3);
    size_t size = Decode3to4Bytes(text, bytes.data(), bytes.size());
    if (size < CHUNK_HEADER_SIZE || GetLe32(bytes.data() + CHUNK_LENGTH_OFFSET) > size)
        return Fault(c, "the table description is cut short");
    ApplyTableDescription(bytes.data(), size, &c->layout);
    return true;
}

// Without the "P" record every field is text: sound only when the "C" record
// says so.
bool ReadConversions(TableCheck* c, const CsvRecord* r, int columns)
{
    c->textOnly = c->seen[HDR_I];
    for (int i = 0; i < c->layout.fieldCount; i++) {
        const char* conversion = SlotText(r, c->layout.fields[i].column);
        if (!conversion || strcmp(conversion, FieldConversion(FK_TEXT)) != 0)
            c->textOnly = false;
    }
    return CheckWidth(c, columns);
}

// At the titles: the records the conversion needs came before them.
bool EndHeader(TableCheck* c, int columns)
{
    if (!CheckWidth(c, columns))
        return false;
    if (!c->seen[HDR_M])
        return Fault(c, "no \"M\" record before the titles: the kind of table is unknown");
    if (c->album)
        return true;
    if (!c->seen[HDR_I])
        return Fault(c, "no \"I\" record before the titles: the table's fields are unknown");
    if (!c->seen[HDR_P] && !c->textOnly)
        return Fault(c, "no \"P\" record before the titles: the kinds of the fields are unknown");
    return true;
}

int HeaderOf(const char* tag)
{
    if (!tag || strlen(tag) != 1 || !strchr(kHeaderTags, tag[0]))
        return -1;
    return (int)(strchr(kHeaderTags, tag[0]) - kHeaderTags);
}

// Tags the format does not know are passed over, as the conversion does.
bool CheckHeaderRecord(TableCheck* c, const CsvRecord* r, int columns)
{
    const char* tag = r->fields[0];
    if (tag && strcmp(tag, "D") == 0)
        return Fault(c, "a data record before the titles (\"T\" record)");
    int header = HeaderOf(tag);
    if (header < 0)
        return true;
    if (!CheckOrder(c, header))
        return false;
    switch (header) {
    case HDR_I: return ReadFields(c, r, columns);
    case HDR_M: return ReadBox(c, r);
    case HDR_P: return ReadDescription(c, r);
    case HDR_S: return CheckWidth(c, columns);
    case HDR_C: return ReadConversions(c, r, columns);
    case HDR_T: return EndHeader(c, columns);
    default: return true;
    }
}

// Field i holds the format code of a picture whose format another field gives.
bool IsFormatField(const TableLayout& layout, int i)
{
    for (int k = 0; k < layout.fieldCount; k++)
        if (layout.fields[k].kind == FK_IMAGE && layout.fields[k].subKind == PICTURE_BY_FORMAT_FIELD &&
            layout.fields[k].aux1 == i)
            return true;
    return false;
}

// What is wrong with field i's value in the record, or null.
const char* ValueFault(const TableLayout& layout, int i, const CsvRecord* r)
{
    const TableField& f = layout.fields[i];
    const char* value = SlotText(r, f.column);
    if (!value || !value[0])
        return nullptr;
    switch (f.kind) {
    case FK_NUMBER: return IsNumberValue(value) ? nullptr : "a number that does not decode";
    // The desktop writer keeps every digit it is given, so a time may run
    // past the 14 the reader looks at.
    case FK_TIME: return IsDigits(value, 1, SIZE_MAX) ? nullptr : "a time that is not digits only";
    case FK_IMAGE: return Is3to4Text(value) ? nullptr : "a picture that is not whole 3TO4 text";
    case FK_IMAGE_AUX:
        if (IsFormatField(layout, i) && !IsDigits(value, kFormatDigits, kFormatDigits))
            return "an image format that is not two digits";
        return nullptr;
    default: return nullptr;
    }
}

bool CheckDataRecord(TableCheck* c, const CsvRecord* r, int columns)
{
    const char* tag = r->fields[0] ? r->fields[0] : "";
    if (strcmp(tag, "D") != 0)
        return Fault(c, "a record tagged \"" + std::string(tag).substr(0, kTagShown) +
                            "\" among the data records (\"D\")");
    if (!CheckWidth(c, columns))
        return false;
    for (int i = 0; i < c->layout.fieldCount; i++)
        if (const char* fault = ValueFault(c->layout, i, r))
            return Fault(c, ColumnName(c->layout.fields[i].column, c->layout.fields[i].id) + ": " + fault);
    return true;
}

// Where a stream over memory stands: it reads the bytes where they lie.
size_t Offset(TextStream* ts, const std::string& text)
{
    return (size_t)(reinterpret_cast<TextReadWindow*>(ts)->next - (const unsigned char*)text.data());
}

// The line at offset, counting on from the last one asked.
struct LineCount {
    size_t offset;
    size_t line;
};
size_t LineAt(const std::string& text, LineCount* at, size_t offset)
{
    at->line += (size_t)std::count(text.begin() + (long)at->offset, text.begin() + (long)offset, '\n');
    at->offset = offset;
    return at->line;
}

// The text as a text-mode stream reads it ends at its first 0x1A byte.
size_t TextEnd(const std::string& text) { return std::min(text.size(), text.find('\x1A')); }

// Only blanks and line ends from offset on: the records have ended.
bool AtEnd(const std::string& text, size_t offset)
{
    size_t next = text.find_first_not_of(" \t\r\n", offset);
    return next == std::string::npos || next >= TextEnd(text);
}

// The record's columns from the one starting at offset, as the reader counts
// them (n) and one more when the line ends with a comma: the reader does not
// count an empty last column, which a row without its picture has.
int Columns(const std::string& text, size_t offset, int n)
{
    // Looked for on the record's line only: a search to the text's end per
    // record would cost time square in the table's length.
    size_t end = std::min(text.find('\n', offset), text.size());
    end = (size_t)(std::find(text.begin() + (long)offset, text.begin() + (long)end, '\x1A') - text.begin());
    if (end > offset && text[end - 1] == '\r')
        end--;
    return end > offset && text[end - 1] == ',' && n < CSV_MAX_FIELDS ? n + 1 : n;
}

size_t LineAfterEnd(const std::string& text)
{
    return 1 + (size_t)std::count(text.begin(), text.begin() + (long)TextEnd(text), '\n');
}

}   // namespace

size_t FirstTableFault(const std::string& kcsv, std::string* reason)
{
    TextStream* ts = TextOpenMemory(kcsv.data(), kcsv.size());
    if (!ts)
        return 0;
    TableCheck c = TableCheck();
    c.lastHeader = -1;
    LineCount lines = {0, 1};
    size_t line = 0;
    bool ok = true, inData = false, readAll = true;
    CsvRecord record;
    while (ok && !TextEof(ts)) {
        size_t start = Offset(ts, kcsv);
        line = LineAt(kcsv, &lines, start);
        int n = ReadCsvRecord(ts, &record);
        if (n == 0) {
            readAll = AtEnd(kcsv, start);
            if (!readAll && !inData && !CsvRecordMemoryShort())
                ok = Fault(&c, "an empty line or a record that cannot be read, before the titles");
            break;
        }
        int columns = Columns(kcsv, start, n);
        ok = inData ? CheckDataRecord(&c, &record, columns) : CheckHeaderRecord(&c, &record, columns);
        inData = c.seen[HDR_T];
        FreeCsvRecord(&record);
    }
    TextClose(ts);
    if (ok && readAll && !inData) {
        ok = Fault(&c, "the table ends before its titles (\"T\" record)");
        line = LineAfterEnd(kcsv);
    }
    if (ok)
        return 0;
    *reason = c.reason;
    return line;
}

int RefuseDamagedTable(const std::string& kcsv, const std::string& shown, std::string* error)
{
    std::string fault;
    size_t line = FirstTableFault(kcsv, &fault);
    if (!line && (line = FirstUnreadLine(kcsv, true)))
        fault = "a damaged record; the records from there on would be lost";
    if (!line)
        return KIV_EXIT_OK;
    *error = shown + ": line " + std::to_string(line) + ": " + fault;
    return KIV_EXIT_CONVERT;
}
