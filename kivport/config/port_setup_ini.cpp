// The port settings in "ruvodod.ini" (Windows directory), section "ComPort".
#include "records/driver_win32.h"
#include <cstdio>
#include <cstring>

static const char kIni[] = "ruvodod.ini";
static const char kSection[] = "ComPort";

static void ReadText(const char* key, const char* def, char* buf)
{
    GetPrivateProfileStringA(kSection, key, def, buf, 256, kIni);
}

static int ReadInt(const char* key, int def) { return (int)GetPrivateProfileIntA(kSection, key, def, kIni); }

extern "C" int16_t WINAPI KivLoadPortSetup(PortSetup* setup)
{
    if (!setup)
        return 0;
    char path[256 + sizeof kIni + 1];
    UINT len = GetWindowsDirectoryA(path, 256);
    if (len >= 256)
        len = 0;
    if (len > 0) {
        if (path[len - 1] != '\\')
            path[len++] = '\\';
        strcpy(path + len, kIni);
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            len = 0;
    }

    char text[256];
    setup->PortNo = (uint16_t)ReadInt("PortNo", 1);
    ReadText("IRMode", "IR", text);
    if (strcmp(text, "IR") == 0) {
        ReadText("IrDA", "NO", text);
        setup->IRMode = strcmp(text, "YES") == 0 ? LINK_IRDA : LINK_IR;
    } else {
        setup->IRMode = LINK_CABLE;
    }
    setup->Speed = ReadInt("Speed", 9600);
    ReadText("Parity", "NONE", text);
    setup->Parity = strcmp(text, "EVEN") == 0 ? 2 : strcmp(text, "ODD") == 0 ? 1 : 0;
    setup->Length = (uint16_t)ReadInt("Length", 8);
    setup->Stop = (uint16_t)ReadInt("Stop", 1);
    ReadText("CSMon", "OFF", text);
    setup->CSMon = strcmp(text, "OFF") != 0;
    ReadText("XFlow", "ON", text);
    setup->XFlow = strcmp(text, "OFF") != 0;
    return (int16_t)len;
}

static bool WriteText(const char* key, const char* value)
{
    return WritePrivateProfileStringA(kSection, key, value, kIni) != 0;
}

static bool WriteNumber(const char* key, long value)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%ld", value);
    return WriteText(key, buf);
}

extern "C" int16_t WINAPI KivSavePortSetup(const PortSetup* setup)
{
    if (!setup)
        return 0;
    // Every key is attempted even after one failed.
    bool ok = WriteNumber("PortNo", setup->PortNo);
    if (setup->IRMode != 0)
        ok &= WriteText("IrDA", setup->IRMode == 2 ? "YES" : "NO");
    ok &= WriteText("IRMode", setup->IRMode != 0 ? "IR" : "15");
    ok &= WriteNumber("Speed", setup->Speed);
    ok &= WriteText("Parity", setup->Parity == 1 ? "ODD" : setup->Parity == 2 ? "EVEN" : "NONE");
    ok &= WriteNumber("Length", setup->Length);
    ok &= WriteNumber("Stop", setup->Stop);
    ok &= WriteText("CSMon", setup->CSMon != 0 ? "ON" : "OFF");
    ok &= WriteText("XFlow", setup->XFlow != 0 ? "ON" : "OFF");
    return ok ? 1 : 0;
}
