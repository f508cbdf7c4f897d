// Entry points of the two conversions. Not built yet: each fails safely,
// converting nothing.
#include <windows.h>

extern "C" BOOLEAN WINAPI csv2KcsvMC(const char* path, DWORD reserved)
{
    return 0;
}

extern "C" BOOLEAN WINAPI Kcsv2csvMC(const char* path)
{
    return 0;
}
