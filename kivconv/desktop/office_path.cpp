// GetOfficePath: the office suite's program folder, as its installer left it
// in the registry.
#include <windows.h>
#include <oleauto.h>

namespace {
const char kOfficeKey[] = "SOFTWARE\\Microsoft\\Office\\8.0";
const char kBinDirValue[] = "BinDirPath";
const DWORD kValueBytes = 260;
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

    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOfficeKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = kValueBytes;
        LONG rc = RegQueryValueExA(key, kBinDirValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buf.bytes),
                                   &size);
        RegCloseKey(key);
        // A path too long for the room would come back cut or undefined: none.
        if (rc != ERROR_SUCCESS)
            return SysAllocString(L"");
    }
    return SysAllocString(buf.units);
}
