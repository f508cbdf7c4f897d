// Strict quoted CSV, one record per call, character by character.
#include "csv/csv_record.h"
#include <cstring>
#include "memblock.h"

namespace {

const size_t kFirstCapacity = 32;

bool EndsRecord(int c) { return c == EOF || c == '\0' || c == '\n' || c == '\r'; }

// Records wider than the table keep their first CSV_MAX_FIELDS fields: the
// conversions never use more, and failing the record would end the reading of
// the whole file there. The surplus is still parsed, so its syntax errors fail
// the record like any other.
int FieldCount(int index) { return index < CSV_MAX_FIELDS ? index : CSV_MAX_FIELDS; }

const int kError = -2;

bool memoryShort;   // set by the last ReadCsvRecord

// Characters a quoted field cannot simply take: the quote and the line end,
// which is dropped (the stream stops runs at CR and 0x1A itself).
const char kFieldStops[] = "\"\n";

// Makes room for n more characters and the NUL, doubling the buffer.
bool Reserve(char** buffer, size_t* capacity, size_t length, size_t n)
{
    size_t grown = *capacity;
    while (grown - length <= n) {
        if (grown * 2 < grown)
            return false;
        grown *= 2;
    }
    if (grown == *capacity)
        return true;
    char* bigger = (char*)MemRealloc(*buffer, grown);
    if (!bigger)
        return false;
    *buffer = bigger;
    *capacity = grown;
    return true;
}

// Reads a quoted field after its opening quote. With keep, the text goes into
// a malloc'ed string stored in *slot when the field ends; without, it is read
// and dropped. Returns the character that ended the field (',' or a record
// end), or kError. The buffer doubles when full, so that long fields (encoded
// photos of several MB) take linear time. It is kept in locals, not in the
// slot, while it grows: stores of chars would otherwise force reloads.

int ReadQuotedField(TextStream* stream, bool keep, char** slot)
{
    char* buffer = nullptr;
    size_t length = 0, capacity = 0;
    if (keep) {
        buffer = (char*)MemAlloc(kFirstCapacity);
        if (!buffer) {
            memoryShort = true;
            return kError;
        }
        capacity = kFirstCapacity;
    }
    for (;;) {
        // Ordinary characters go in as whole runs of the stream's buffer.
        const unsigned char* run;
        size_t n = TextTakeRun(stream, kFieldStops, &run);
        if (n && keep) {
            if (!Reserve(&buffer, &capacity, length, n)) {
                memoryShort = true;
                break;
            }
            memcpy(buffer + length, run, n);
            length += n;
        }
        int c = TextGetcInline(stream);
        if (c == EOF)
            break;
        if (c == '\n' || c == '\r')
            continue;   // a field cannot hold a line break: the lines are joined
        if (c == '"') {
            c = TextGetcInline(stream);
            if (c == ',' || EndsRecord(c)) {
                if (keep) {
                    buffer[length] = '\0';
                    *slot = buffer;
                }
                return c;
            }
            // A doubled quote stands for one quote; a quote before any other
            // character is dropped.
        }
        if (!keep)
            continue;
        if (!Reserve(&buffer, &capacity, length, 1)) {
            memoryShort = true;
            break;
        }
        buffer[length++] = (char)c;
    }
    MemFree(buffer);
    return kError;
}

}   // namespace

int ReadCsvRecord(TextStream* stream, CsvRecord* record)
{
    memoryShort = false;
    if (!record)
        return 0;
    memset(record->fields, 0, sizeof record->fields);
    record->used = 0;
    if (!stream || TextEof(stream))
        return 0;

    int index = 0;
    for (;;) {
        int c = TextGetcInline(stream);
        if (EndsRecord(c))
            return FieldCount(index);   // 0 for an empty line
        if (c == ',') {
            index++;
            continue;
        }
        if (c != '"')
            break;   // unquoted value
        bool keep = index < CSV_MAX_FIELDS;
        int end = ReadQuotedField(stream, keep, keep ? &record->fields[index] : nullptr);
        if (keep && record->fields[index])
            record->used = index + 1;
        if (end == ',') {
            index++;
            continue;
        }
        if (EndsRecord(end))
            return FieldCount(index + 1);
        break;
    }
    FreeCsvRecord(record);
    return 0;
}

void FreeCsvRecord(CsvRecord* record)
{
    if (!record)
        return;
    int used = record->used < CSV_MAX_FIELDS ? record->used : CSV_MAX_FIELDS;
    for (int i = 0; i < used; i++) {
        MemFree(record->fields[i]);
        record->fields[i] = nullptr;
    }
    record->used = 0;
}

bool CsvRecordMemoryShort(void) { return memoryShort; }
