// The port probe and KivSearchFreePort.
#include "port_probe.h"
#include "records/driver_win32.h"
#include <cstdio>

static bool CanOpen(const char* name)
{
    HANDLE h = OpenComDevice(name, GENERIC_READ | GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

bool ProbePort(char* name)
{
    if (name[0] != '\0')
        return CanOpen(name);
    for (int n = 1; n <= 3; n++) {
        snprintf(name, 9, "COM%d", n);
        if (CanOpen(name))
            return true;
    }
    return false;
}

extern "C" int16_t WINAPI KivSearchFreePort(int16_t portNo)
{
    char name[9] = "";
    if (portNo != 0)
        snprintf(name, sizeof name, "COM%u", (unsigned)(uint16_t)portNo % 10);
    if (!ProbePort(name))
        return 0;
    return (int16_t)(name[3] - '0');
}
