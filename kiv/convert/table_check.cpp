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
#include "plain_record.h"
#include "table_cells.h"
#include "kcsv_window.h"
#include <algorithm>
#include <cstring>
#include <string_view>
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
static_assert(sizeof TableCheckPass().seen == HDR_COUNT, "one flag per header record");

const int kBoxKindSlot = 4;   // "M" record
const int kBoxNameSlot = 6;
const char* const kBoxKind = "_PIO";
const int kDescriptionSlot = 2;   // "P" record

typedef TableCheckPass TableCheck;

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
    // A table of the alphabet, as every number and picture of a table is tested.
    static const struct Alphabet {
        bool in[256] = {};
        Alphabet()
        {
            for (const char* c = ALPHABET_3TO4; *c; c++)
                in[(unsigned char)*c] = true;
        }
    } alphabet;
    size_t n = 0;
    while (alphabet.in[(unsigned char)text[n]])
        n++;
    return text[n] == '\0' && n % 4 != 1;
}

bool IsNumberValue(const char* text)
{
    char number[DEC_TEXT_MAX];
    return strlen(text) == (size_t)NUMBER_FIELD_CHARS && Is3to4Text(text) && DecodedNumber(text, number);
}

// An ordinary table's "T" record has the columns of its "I" record, and a
// data record at least those: a shorter one shifts or drops values, while
// slots past the last field are passed over, as the conversion does.
bool CheckWidth(TableCheck* c, int columns, bool data)
{
    if (c->album || !c->seen[HDR_I] || columns == c->width || (data && columns > c->width))
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
bool ReadConversions(TableCheck* c, const CsvRecord* r)
{
    c->textOnly = c->seen[HDR_I];
    for (int i = 0; i < c->layout.fieldCount; i++) {
        const char* conversion = SlotText(r, c->layout.fields[i].column);
        if (!conversion || strcmp(conversion, FieldConversion(FK_TEXT)) != 0)
            c->textOnly = false;
    }
    return true;
}

// At the titles: the records the conversion needs came before them.
bool EndHeader(TableCheck* c, int columns)
{
    if (!CheckWidth(c, columns, false))
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
    // The conversion reads nothing of "S" and only the fields' slots of "C",
    // so their width does not matter.
    case HDR_C: return ReadConversions(c, r);
    case HDR_T: return EndHeader(c, columns);
    default: return true;
    }
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
    // A format column's value the conversion does not know gives no file.
    default: return nullptr;
    }
}

bool CheckDataRecord(TableCheck* c, const CsvRecord* r, int columns)
{
    // Every record after the titles is a row, whatever its tag says.
    if (!CheckWidth(c, columns, true))
        return false;
    for (int i = 0; i < c->layout.fieldCount; i++)
        if (const char* fault = ValueFault(c->layout, i, r))
            return Fault(c, ColumnName(c->layout.fields[i].column, c->layout.fields[i].id) + ": " + fault);
    return true;
}

// The line at offset, counting on from the last one asked.
size_t LineAt(std::string_view text, TableCheck* c, size_t offset)
{
    // From one line end to the next: a record is mostly one line.
    const char* end = text.data() + offset;
    for (const char* p = text.data() + c->lineOffset;
         p < end && (p = (const char*)memchr(p, '\n', (size_t)(end - p))) != nullptr; p++)
        c->line++;
    c->lineOffset = offset;
    return c->line;
}

// The record's columns from the one starting at offset, as the reader counts
// them (n) and one more when the line ends with a comma: the reader does not
// count an empty last column, which a row without its picture has. The line
// ends at lineEnd (its LF, or the text's end).
int Columns(std::string_view text, size_t offset, size_t lineEnd, int n)
{
    size_t end = lineEnd;
    if (end > offset && text[end - 1] == '\r')
        end--;
    return end > offset && text[end - 1] == ',' && n < CSV_MAX_FIELDS ? n + 1 : n;
}

// The reader stopped at start: at the end of the records when only blanks
// and line ends follow.
CheckStep Stopped(TableCheck* c, std::string_view text, bool ended, size_t start)
{
    size_t first = text.find_first_not_of(" \t\r\n", start);
    if (first == std::string_view::npos && !ended)
        return CHECK_MORE;
    if (first == std::string_view::npos) {
        if (!c->inData) {
            Fault(c, "the table ends before its titles (\"T\" record)");
            c->faultLine = LineAt(text, c, text.size());
        }
    } else if (CsvRecordMemoryShort()) {
        // Memory ran out, not the input: nothing is known to be lost.
    } else if (!c->inData) {
        Fault(c, "an empty line or a record that cannot be read, before the titles");
        c->faultLine = c->line;
    } else {
        c->lostLine = LineAt(text, c, first);
    }
    return CHECK_DONE;
}

// The text as a text-mode stream reads it ends at its first 0x1A byte.
std::string_view TextOf(const std::string& kcsv)
{
    return std::string_view(kcsv).substr(0, std::min(kcsv.size(), kcsv.find('\x1A')));
}

}   // namespace

void StartTableCheck(TableCheckPass* pass)
{
    *pass = TableCheckPass();
    pass->lastHeader = -1;
    pass->line = 1;
}

CheckStep CheckNextRecord(TableCheckPass* c, std::string_view text, bool ended)
{
    size_t start = c->next;
    size_t lineEnd = std::min(text.find('\n', start), text.size());
    if (lineEnd == text.size() && !ended)
        return CHECK_MORE;
    CsvRecord record;
    size_t read = 0;
    int n = 0;
    c->slots.clear();
    if (c->inData && lineEnd < text.size())
        n = ReadPlainRecord(text.substr(start, lineEnd - start), &c->values, &record, &c->slots);
    if (n == 0)
        c->slots.clear();
    if (n > 0) {
        read = lineEnd + 1 - start;
    } else {
        const char* data = text.data() + start;
        TextStream* ts = TextOpenMemory(data, text.size() - start);
        if (!ts)
            return CHECK_MORE;
        n = ReadCsvRecord(ts, &record);
        read = (size_t)(reinterpret_cast<TextReadWindow*>(ts)->next - (const unsigned char*)data);
        TextClose(ts);
    }
    // The reader may have looked at the window's last byte for a CR's LF.
    if (!ended && start + read >= text.size()) {
        FreeCsvRecord(&record);
        return CHECK_MORE;
    }
    LineAt(text, c, start);
    if (n == 0)
        return Stopped(c, text, ended, start);
    int columns = Columns(text, start, lineEnd, n);
    bool ok = c->inData ? CheckDataRecord(c, &record, columns) : CheckHeaderRecord(c, &record, columns);
    c->inData = c->seen[HDR_T];
    FreeCsvRecord(&record);
    c->start = start;
    c->next = start + read;
    if (ok)
        return CHECK_RECORD;
    c->faultLine = c->line;
    return CHECK_DONE;
}

int TableCheckResult(const TableCheckPass& c, const std::string& shown, std::string* error)
{
    size_t line = c.faultLine ? c.faultLine : c.lostLine;
    if (!line)
        return KIV_EXIT_OK;
    std::string fault = c.faultLine ? c.reason : "a damaged record; the records from there on would be lost";
    *error = shown + ": line " + std::to_string(line) + ": " + fault;
    return KIV_EXIT_CONVERT;
}

void TableCheckDropped(TableCheckPass* c, size_t n)
{
    c->next -= n;
    c->lineOffset -= n;
    c->start = c->start > n ? c->start - n : 0;
    c->slots.clear();   // their bytes have moved
}

size_t FirstTableFault(const std::string& kcsv, std::string* reason)
{
    TableCheckPass c;
    StartTableCheck(&c);
    // The end is found once: searched for at each record, it cost a pass
    // over the rest of the table per record.
    std::string_view text = TextOf(kcsv);
    while (CheckNextRecord(&c, text, true) == CHECK_RECORD) {
    }
    if (c.faultLine)
        *reason = c.reason;
    return c.faultLine;
}

int RefuseDamagedTable(const std::string& kcsv, const std::string& shown, std::string* error)
{
    TableCheckPass c;
    StartTableCheck(&c);
    std::string_view text = TextOf(kcsv);
    while (CheckNextRecord(&c, text, true) == CHECK_RECORD) {
    }
    return TableCheckResult(c, shown, error);
}

int CheckTableFile(const std::string& path, const std::string& shown, std::string* fault, std::string* error)
{
    KcsvWindow in;
    int rc = OpenKcsvWindowFile(path, &in, error);
    if (rc != KIV_EXIT_OK)
        return rc;
    TableCheckPass c;
    StartTableCheck(&c);
    for (;;) {
        CheckStep step = CheckNextRecord(&c, in.text, in.ended);
        if (step == CHECK_MORE && !in.ended) {
            ReadMoreKcsv(&in);
            continue;
        }
        if (step != CHECK_RECORD)
            break;
        TableCheckDropped(&c, DropKcsvBefore(&in, std::min(c.lineOffset, c.next)));
    }
    rc = CloseKcsvWindow(&in, error);
    fault->clear();
    if (rc == KIV_EXIT_OK && TableCheckResult(c, shown, fault) == KIV_EXIT_OK)
        fault->clear();
    return rc;
}
