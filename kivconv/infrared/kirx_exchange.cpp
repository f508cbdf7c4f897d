// KIRX_IrDA: sends a text to the handheld over infrared, or receives one,
// through the device library KIRX.dll while the status window shows the
// progress.
#include "kirx_library.h"
#include "status_window.h"

namespace {
const int kTextSize = 300;
const long kBaudRate = 115200;
}

// direction: non-zero sends, 0 receives (only its low 16 bits count).
// The result is the library's (non-zero: success), or 0 when the library
// cannot be used.
extern "C" LONG WINAPI KIRX_IrDA(HWND owner, char* text, short direction, short port)
{
    KirxLibrary kirx;
    if (!LoadKirx(&kirx))
        return 0;
    DestroyStatusWindow();   // one exchange at a time

    uint16_t sending = static_cast<uint16_t>(direction);
    OpenStatusWindow(owner, sending);
    // The transfer may go on from here; a cancel key handled while the window
    // was being shown is a left-over and does not count.
    irContinue = 1;

    kirx.setMode(0);
    kirx.setPort(0, port);
    kirx.setBaudEx(0, kBaudRate);
    // The library works the whole transfer through before it returns,
    // reporting to the status window as it goes.
    int result = sending ? kirx.appTextSend(text, kTextSize, irStatusWindow)
                         : kirx.appTextRecv(text, kTextSize, irStatusWindow);

    CloseStatusWindow();
    ReleaseKirx(&kirx);
    return result;
}
