// The whole CSV-to-Kcsv conversion on arbitrary bytes, all in memory. The
// input is split in two: its first two bytes (little-endian) give the length
// of the layout file, the rest after it is the CSV file; three small image
// files lie beside them for image columns to name. A successful conversion
// must have written a Kcsv file that the record reader reads back whole:
// seven header records, as many "D" records as the "H" record counts, then
// the end byte.
//
// This target stays well below 30 000 inputs a second on one core: about
// 12 000 while the inputs are the size of the seeds, about 4 000 once the
// corpus has grown to inputs of one to four kilobytes. Each input is a whole
// conversion, which reads the layout and the CSV file twice each, writes
// seven header records, builds the chunk file, reads it back and encodes it,
// and writes every row, after which the check reads the whole output again.
// Under ASan and UBSan with traced comparisons, about a quarter of that time
// goes to allocations (one per field read, twice over, and per value) and a
// third to traced comparisons.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include "csv/csv_record.h"
#include "kcsv/csv_to_kcsv.h"
#include "kcsv/kcsv_format.h"
#include "memfiles.h"

namespace {

const char kLayout[] = "in.table";
const char kCsv[] = "in.txt";
const char kKcsv[] = "in.csv";
const int kHeaderRecords = 7;   // H I M P S C T

void PutImages()
{
    static const char* const names[] = {"photo1.jpg", "photo2.png", "photo3.gif"};
    unsigned char bytes[42];
    for (int i = 0; i < 3; i++) {
        for (size_t k = 0; k < sizeof bytes; k++)
            bytes[k] = (unsigned char)(k * 37 + i);
        PutMemoryFile(names[i], bytes, 40 + (size_t)i);   // every length of a last group
    }
}

void CheckOutput()
{
    size_t size = 0;
    const unsigned char* kcsv = GetMemoryFile(kKcsv, &size);
    if (!kcsv || size == 0 || kcsv[size - 1] != 0x1A)
        abort();
    TextStream* in = TextOpenMemory(kcsv, size);
    CsvRecord record;
    unsigned long rows = 0;
    long records = 0;
    while (ReadCsvRecord(in, &record) > 0) {
        if (records == 0)
            rows = record.fields[5] ? strtoul(record.fields[5], nullptr, 16) : 0;
        records++;
        FreeCsvRecord(&record);
    }
    if (!TextEof(in) || records != kHeaderRecords + (long)rows)
        abort();
    TextClose(in);
}

}   // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static struct tm fixed = {};
    fixed.tm_year = 100;
    fixed.tm_mday = 1;
    fixedStampTime = &fixed;   // no clock reading per record
    UseMemoryFiles(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t layoutSize = (size_t)(data[0] | data[1] << 8);
    if (layoutSize > size - 2)
        layoutSize = size - 2;
    PutMemoryFile(kLayout, data + 2, layoutSize);
    PutMemoryFile(kCsv, data + 2 + layoutSize, size - 2 - layoutSize);
    PutImages();
    if (ConvertCsvToKcsv(kCsv))
        CheckOutput();
    ClearMemoryFiles();
    return 0;
}
