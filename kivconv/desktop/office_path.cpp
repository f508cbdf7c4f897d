// GetOfficePath: the office suite's program folder, as its installer left it
// in the registry.
#include <windows.h>
#include <oleauto.h>
#include <cstring>

namespace {

const char kOfficeKey[] = "SOFTWARE\\Microsoft\\Office\\8.0";
const char kBinDirValue[] = "BinDirPath";
const DWORD kValueBytes = 260;

// The value from one view of the registry into bytes (kValueBytes of room);
// ERROR_FILE_NOT_FOUND when the key or the value is missing there.
LONG QueryBinDir(REGSAM view, char* bytes)
{
    HKEY key;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOfficeKey, 0, KEY_READ | view, &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD size = kValueBytes;
    rc = RegQueryValueExA(key, kBinDirValue, nullptr, nullptr, reinterpret_cast<BYTE*>(bytes), &size);
    RegCloseKey(key);
    return rc;
}

}

// The macro code reads the result as ANSI bytes packed into a BSTR: the path
// is scanned as 16-bit units up to the first zero unit, so an odd-length path
// keeps one zero byte at its end.
extern "C" BSTR WINAPI GetOfficePath(void)
{
    // Two zero bytes beyond the value's room end the 16-bit scan even when
    // the value fills the room without a terminator.
    union {
        char bytes[kValueBytes + 2];
        OLECHAR units[(kValueBytes + 2) / 2];
    } buf = {};
    LONG rc = QueryBinDir(0, buf.bytes);
#ifdef _WIN64
    // A 64-bit process sees the 64-bit view first; a 32-bit office suite
    // writes its folder in the 32-bit view.
    if (rc == ERROR_FILE_NOT_FOUND) {
        memset(buf.bytes, 0, sizeof buf.bytes);
        rc = QueryBinDir(KEY_WOW64_32KEY, buf.bytes);
    }
#endif
    // A missing value gives an empty result; a path too long for the room
    // would come back cut or undefined: none either.
    if (rc != ERROR_SUCCESS)
        return SysAllocString(L"");
    return SysAllocString(buf.units);
}
