// Every record of arbitrary input: no overrun, no leak, slots past the count
// stay empty.
#include "csv/csv_record.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kEmpty[CSV_MAX_FIELDS] = {};

// Slots from first on are all empty; one comparison, not one per slot.
bool EmptyFrom(const CsvRecord& record, int first)
{
    return memcmp(record.fields + first, kEmpty, sizeof(char*) * (size_t)(CSV_MAX_FIELDS - first)) == 0;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TextStream* stream = TextOpenMemory(data, size);
    if (!stream)
        return 0;
    CsvRecord record;
    int count;
    while ((count = ReadCsvRecord(stream, &record)) > 0) {
        if (count > CSV_MAX_FIELDS || !EmptyFrom(record, count))
            abort();
        FreeCsvRecord(&record);
    }
    if (!EmptyFrom(record, 0))
        abort();
    TextClose(stream);
    return 0;
}
