// The link engine's platform on Windows: the COM port of the serial port
// layer, one thread timer without a window, and the status dialog. Every
// entry runs on the dialog's thread.
#include "driver/link_platform_win32.h"
#include "link_engine.h"
#include "port/serial_port.h"

namespace {

int32_t Read(KivHandle port, uint8_t* buffer, uint32_t max) { return ReadPort(port, buffer, max); }

int32_t Write(KivHandle port, const uint8_t* buffer, uint32_t n) { return WritePort(port, buffer, n); }

int32_t Status(KivHandle port, PortStatus* status) { return ClearPortStatus(port, status); }

void Purge(KivHandle port, uint32_t flags) { PurgeComm(port, flags); }

int32_t PrepareLine(KivHandle port) { return PrepareIrLine(port); }

VOID CALLBACK TimerTick(HWND, UINT, UINT_PTR, DWORD) { LinkTimerProc(); }

// The system's id of the link timer. A thread timer's id is pointer-sized,
// wider than the engine's 32-bit id in the 64-bit DLL, so the engine holds a
// token and the id stays here.
UINT_PTR linkTimer;
const uint32_t kLinkTimerToken = 1;

uint32_t StartTimer(uint32_t periodMs)
{
    linkTimer = SetTimer(nullptr, 1, periodMs, TimerTick);
    return linkTimer ? kLinkTimerToken : 0;
}

void StopTimer(uint32_t token)
{
    if (token == kLinkTimerToken && linkTimer)
        KillTimer(nullptr, linkTimer);
    linkTimer = 0;
}

void TellNoTimerResources(void)
{
    MessageBoxW(hStatusDlg, L"タイマーリソースが不足しました", nullptr, MB_OK);
}

void SendDialogClose(void) { SendMessageW(hStatusDlg, WM_CLOSE, 0, 0); }

void CommNotify(void)
{
    HANDLE port = transferState.hPort;
    SendMessageW(hStatusDlg, WM_COMMNOTIFY, reinterpret_cast<WPARAM>(port), LINK_CN_EVENT);
}

}

void InstallLinkPlatform(void)
{
    linkPlatform.readPort = Read;
    linkPlatform.writePort = Write;
    linkPlatform.clearCommError = Status;
    linkPlatform.purgePort = Purge;
    linkPlatform.prepareIrLine = PrepareLine;
    linkPlatform.closePort = ClosePort;
    linkPlatform.setTimer = StartTimer;
    linkPlatform.killTimer = StopTimer;
    linkPlatform.timerFailed = TellNoTimerResources;
    linkPlatform.sendClose = SendDialogClose;
    linkPlatform.sendCommNotify = CommNotify;
    linkPlatform.repaintProgress = RepaintProgress;
}
