// Every record of arbitrary input: no overrun, no leak, slots past the count
// stay empty.
#include "csv/csv_record.h"
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TextStream* stream = TextOpenMemory(data, size);
    if (!stream)
        return 0;
    CsvRecord record;
    int count;
    while ((count = ReadCsvRecord(stream, &record)) > 0) {
        if (count > CSV_MAX_FIELDS)
            abort();
        for (int i = count; i < CSV_MAX_FIELDS; i++)
            if (record.fields[i])
                abort();
        FreeCsvRecord(&record);
    }
    for (int i = 0; i < CSV_MAX_FIELDS; i++)
        if (record.fields[i])
            abort();
    TextClose(stream);
    return 0;
}
