// The two conversions as the desktop application calls them: stdcall, an ANSI
// path in, a one-byte boolean out. The work itself is portable.
#include <windows.h>
#include "kcsv/csv_to_kcsv.h"
#include "kcsv/kcsv_to_csv.h"

extern "C" BOOLEAN WINAPI csv2KcsvMC(const char* path, DWORD reserved)
{
    return ConvertCsvToKcsv(path) ? 1 : 0;
}

extern "C" BOOLEAN WINAPI Kcsv2csvMC(const char* path) { return ConvertKcsvToCsv(path) ? 1 : 0; }
