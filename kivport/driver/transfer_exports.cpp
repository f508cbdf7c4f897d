// KivSendData and KivReceiveData: one block over the link, with the status
// dialog modal over the window that has the focus for the whole transfer.
// The engine keeps its state in module globals, so a call that arrives while
// a transfer runs (a macro re-entered through the dialog's message loop) is
// refused before it touches that state.
#include "driver/link_platform_win32.h"
#include "driver/status_dialog.h"
#include "link_engine.h"
#include "memblock.h"
#include "port/serial_port.h"
#include <cstring>

namespace {

bool transferRunning;

// Marks the one transfer of the process for as long as an export runs it.
struct RunningTransfer {
    RunningTransfer() { transferRunning = true; }
    ~RunningTransfer() { transferRunning = false; }
};

// Opens the port for portParams and the direction already set; false when
// it cannot be opened.
bool OpenTransferPort(void)
{
    InstallLinkPlatform();
    HANDLE port = OpenPort(portParams.portName, &portParams.line);
    if (port == INVALID_HANDLE_VALUE)
        return false;
    transferState.hPort = port;
    return true;
}

// Runs the status dialog; a dialog that cannot be shown still leaves the
// port closed, and the transfer fails as if the port were unusable.
void RunTransfer(HWND owner)
{
    if (RunStatusDialog(owner))
        return;
    KillLinkTimer();
    Deactivate();
    ClosePort();
    if (transferState.resultCode == RC_OK)
        transferState.resultCode = RC_PORT_UNAVAILABLE;
}

// The length of the text in the caller's block, bounded by the block's size.
// False when the block cannot be locked, or when its text does not fit the
// transfer's 32-bit counts (4 GiB and more, which only a 64-bit caller can
// hand in): cut to 32 bits it would send a piece and report success.
bool BlockTextLength(HGLOBAL block, uint32_t* length)
{
    const char* text = static_cast<const char*>(GlobalLock(block));
    if (!text)
        return false;
    size_t n = strnlen(text, GlobalSize(block));
    GlobalUnlock(block);
    if (static_cast<uint64_t>(n) >> 32 != 0)
        return false;
    *length = static_cast<uint32_t>(n);
    return true;
}

}

extern "C" int16_t WINAPI KivSendData(const PortSetup* setup, HGLOBAL hBlock)
{
    if (transferRunning || !setup)
        return RC_PORT_UNAVAILABLE;
    RunningTransfer running;
    ResetTransferState();
    HWND owner = GetFocus();
    if (!owner)
        return RC_PORT_UNAVAILABLE;
    SetupToParams(setup, true);
    transferState.direction = 1;
    uint32_t length = 0;
    if (!BlockTextLength(hBlock, &length))
        return RC_NO_MEMORY;
    // The framed protocol numbers its blocks in 16 bits.
    if (portParams.linkKind == LINK_IR && length > IR_MAX_TRANSFER)
        return RC_NO_MEMORY;
    if (!OpenTransferPort())
        return RC_PORT_UNAVAILABLE;
    transferState.hBlock = hBlock;
    transferState.blockSize = length;
    transferState.totalBytes = length;
    transferState.progressBytes = 0;
    transferState.bytesDone = 0;
    transferState.resultCode = RC_OK;
    RunTransfer(owner);
    return transferState.resultCode;
}

extern "C" HGLOBAL WINAPI KivReceiveData(const PortSetup* setup, int16_t* result)
{
    if (!result)
        return nullptr;
    *result = RC_PORT_UNAVAILABLE;
    if (transferRunning || !setup)
        return nullptr;
    RunningTransfer running;
    ResetTransferState();
    HWND owner = GetFocus();
    if (!owner)
        return nullptr;
    SetupToParams(setup, true);
    transferState.direction = 0;
    if (!OpenTransferPort())
        return nullptr;
    RunTransfer(owner);
    *result = transferState.resultCode;
    HGLOBAL block = static_cast<HGLOBAL>(transferState.hBlock);
    transferState.hBlock = nullptr;
    if (transferState.resultCode != RC_OK) {
        if (block)
            BlockFree(block);
        return nullptr;
    }
    return block;
}
