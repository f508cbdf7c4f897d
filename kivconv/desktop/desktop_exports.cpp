// Desktop helper entry points. Not built yet: each fails safely.
#include <windows.h>
#include <oleauto.h>

extern "C" int WINAPI filerename(const char* from, const char* to) { return -1; }
extern "C" BSTR WINAPI cutstr(const char* text, int length, int fill) { return SysAllocStringByteLen("", 0); }
extern "C" BSTR WINAPI GetOfficePath(void) { return SysAllocString(L""); }
extern "C" BOOLEAN WINAPI SaveOleBitmap(HWND hwnd, const char* path) { return 0; }
extern "C" int WINAPI ShowSpDialog(HWND owner, const char* text) { return 0; }
extern "C" BOOLEAN WINAPI EndSpDialog(void) { return 0; }
