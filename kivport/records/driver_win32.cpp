// Module globals, attach handling and the shared window and port operations.
#include "driver_win32.h"
#include <cstdio>
#include <cstring>

HINSTANCE hInstance;
PortSetup* setupInProgress;
HWND hStatusDlg;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        hInstance = instance;
        setupInProgress = nullptr;
    }
    return TRUE;
}

void ApplyLineSettings(DCB& dcb, const LineSettings* line)
{
    dcb.BaudRate = line->baudRate;
    dcb.ByteSize = line->dataBits;
    switch (line->parity) {
    case 'e': dcb.Parity = EVENPARITY; break;
    case 'n': dcb.Parity = NOPARITY; break;
    case 'o': dcb.Parity = ODDPARITY; break;
    default: break;   // unknown: keep what the port driver reported
    }
    dcb.StopBits = line->twoStopBits ? TWOSTOPBITS : ONESTOPBIT;
    if (line->ctsFlow) {
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else {
        dcb.fOutxCtsFlow = 0;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    dcb.fDsrSensitivity = 0;
    if (line->xonXoff) {
        dcb.fOutX = 1;
        dcb.fInX = 1;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = 513;
        dcb.XoffLim = 513;
    } else {
        dcb.fOutX = 0;
        dcb.fInX = 0;
    }
    dcb.fBinary = 1;
    dcb.fNull = 0;
}

void ConfigurePort(HANDLE hPort, const LineSettings* line)
{
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(hPort, &dcb);
    ApplyLineSettings(dcb, line);
    SetCommState(hPort, &dcb);
}

HANDLE OpenComDevice(const char* portName, DWORD access)
{
    static const char kDevicePrefix[] = "\\\\.\\";
    char path[sizeof kDevicePrefix + MAX_PATH];
    bool prefixed = strncmp(portName, "\\\\", 2) == 0;
    int n = snprintf(path, sizeof path, "%s%s", prefixed ? "" : kDevicePrefix, portName);
    if (portName[0] == '\0' || n < 0 || (size_t)n >= sizeof path) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

void CentreWindow(HWND hwnd)
{
    RECT r;
    if (!GetWindowRect(hwnd, &r))
        return;
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    MoveWindow(hwnd, x, y, w, h, FALSE);
}

void RepaintProgress(void)
{
    if (!transferState.active || !hStatusDlg)
        return;
    HWND pane = GetDlgItem(hStatusDlg, IDC_PROGRESS_PANE);
    if (pane)
        SendMessageW(pane, WM_PAINT, 0, 0);
}
