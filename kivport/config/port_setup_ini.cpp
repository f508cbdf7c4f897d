// The port settings in "ruvodod.ini", section "ComPort". Existing
// installations keep the file in the Windows directory, so it is read and
// written there first. An ordinary user cannot write there on current Windows
// (a desktop application with a manifest, or a 64-bit one, gets no file
// virtualization), so a save that fails there goes to the same file in the
// user's application-data folder; once that copy exists it is the one read,
// and later saves keep it current.
#include "records/driver_win32.h"
#include <shlobj.h>
#include <cstdio>
#include <cstring>

namespace {

const char kIni[] = "ruvodod.ini";   // no path: the Windows directory's file
const char kSection[] = "ComPort";

// A path to one of the two files, and the length of its folder with the
// trailing backslash.
struct IniPath {
    char path[MAX_PATH + sizeof kIni + 1];
    UINT folderLength;
};

// Appends the file's name to a folder of length len in p.path.
void AppendIniName(IniPath& p, UINT len)
{
    if (p.path[len - 1] != '\\')
        p.path[len++] = '\\';
    strcpy(p.path + len, kIni);
    p.folderLength = len;
}

// The user's own copy; false when the application-data folder cannot be had.
bool UserIni(IniPath& p)
{
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                p.path)))
        return false;
    UINT len = (UINT)strnlen(p.path, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return false;
    AppendIniName(p, len);
    return true;
}

bool IsFile(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The length of the Windows directory's path with its backslash when the
// file exists there, else 0.
UINT WindowsIniLength(void)
{
    IniPath p;
    UINT len = GetWindowsDirectoryA(p.path, 256);
    if (len == 0 || len >= 256)
        return 0;
    AppendIniName(p, len);
    return GetFileAttributesA(p.path) == INVALID_FILE_ATTRIBUTES ? 0 : p.folderLength;
}

void ReadText(const char* file, const char* key, const char* def, char* buf)
{
    GetPrivateProfileStringA(kSection, key, def, buf, 256, file);
}

int ReadInt(const char* file, const char* key, int def)
{
    return (int)GetPrivateProfileIntA(kSection, key, def, file);
}

void ReadSetup(const char* file, PortSetup* setup)
{
    char text[256];
    setup->PortNo = (uint16_t)ReadInt(file, "PortNo", 1);
    ReadText(file, "IRMode", "IR", text);
    if (strcmp(text, "IR") == 0) {
        ReadText(file, "IrDA", "NO", text);
        setup->IRMode = strcmp(text, "YES") == 0 ? LINK_IRDA : LINK_IR;
    } else {
        setup->IRMode = LINK_CABLE;
    }
    setup->Speed = ReadInt(file, "Speed", 9600);
    ReadText(file, "Parity", "NONE", text);
    setup->Parity = strcmp(text, "EVEN") == 0 ? 2 : strcmp(text, "ODD") == 0 ? 1 : 0;
    setup->Length = (uint16_t)ReadInt(file, "Length", 8);
    setup->Stop = (uint16_t)ReadInt(file, "Stop", 1);
    ReadText(file, "CSMon", "OFF", text);
    setup->CSMon = strcmp(text, "OFF") != 0;
    ReadText(file, "XFlow", "ON", text);
    setup->XFlow = strcmp(text, "OFF") != 0;
}

bool WriteText(const char* file, const char* key, const char* value)
{
    return WritePrivateProfileStringA(kSection, key, value, file) != 0;
}

bool WriteNumber(const char* file, const char* key, long value)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%ld", value);
    return WriteText(file, key, buf);
}

// Every key is attempted even after one failed; true when all were written.
bool WriteSetup(const char* file, const PortSetup* setup)
{
    bool ok = WriteNumber(file, "PortNo", setup->PortNo);
    if (setup->IRMode != 0)
        ok &= WriteText(file, "IrDA", setup->IRMode == 2 ? "YES" : "NO");
    ok &= WriteText(file, "IRMode", setup->IRMode != 0 ? "IR" : "15");
    ok &= WriteNumber(file, "Speed", setup->Speed);
    ok &= WriteText(file, "Parity", setup->Parity == 1 ? "ODD" : setup->Parity == 2 ? "EVEN" : "NONE");
    ok &= WriteNumber(file, "Length", setup->Length);
    ok &= WriteNumber(file, "Stop", setup->Stop);
    ok &= WriteText(file, "CSMon", setup->CSMon != 0 ? "ON" : "OFF");
    ok &= WriteText(file, "XFlow", setup->XFlow != 0 ? "ON" : "OFF");
    return ok;
}

}   // namespace

extern "C" int16_t WINAPI KivLoadPortSetup(PortSetup* setup)
{
    if (!setup)
        return 0;
    IniPath user;
    if (UserIni(user) && IsFile(user.path)) {
        ReadSetup(user.path, setup);
        return (int16_t)user.folderLength;
    }
    // Read whether the file exists or not: a missing one gives the defaults.
    UINT len = WindowsIniLength();
    ReadSetup(kIni, setup);
    return (int16_t)len;
}

extern "C" int16_t WINAPI KivSavePortSetup(const PortSetup* setup)
{
    if (!setup)
        return 0;
    bool stored = WriteSetup(kIni, setup);
    IniPath user;
    bool haveUser = UserIni(user);
    // The user's copy is what the next load reads once it exists.
    if (haveUser && (!stored || IsFile(user.path)))
        stored = WriteSetup(user.path, setup);
    return stored ? 1 : 0;
}
