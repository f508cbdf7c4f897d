// What the link engine needs of the platform, as one table of functions.
// The Win32 shell fills it with the COM port, a thread timer and the status
// dialog; the simulated handheld fills it with a virtual line and clock, and
// a test can swap a single entry to make a write, a purge or the timer fail.
// Every entry runs on the status dialog's thread.
#pragma once
#include <cstdint>
#include "records.h"

// The handle value of a port that is closed or closing.
#define KIV_INVALID_HANDLE ((KivHandle)(intptr_t)-1)

// Comm event kinds the reader thread forwards (the system's EV_ values).
enum : uint32_t { LINK_EV_RXCHAR = 0x0001, LINK_EV_TXEMPTY = 0x0004 };
// Queue purges (the system's PURGE_ values).
enum : uint32_t {
    LINK_PURGE_TXABORT = 0x0001,
    LINK_PURGE_RXABORT = 0x0002,
    LINK_PURGE_TXCLEAR = 0x0004,
    LINK_PURGE_RXCLEAR = 0x0008,
};
// Bits of GetLineStatus.
enum : uint32_t { LINE_INPUT_WAITING = 0x01, LINE_CAN_SEND = 0x04 };
// The low-word bit of a WM_COMMNOTIFY lParam that carries a comm event.
enum : uint32_t { LINK_CN_EVENT = 0x0004 };

// What ClearCommError reports: the error mask and the COMSTAT counts and flags.
struct PortStatus {
    uint32_t errors;
    uint32_t inQueue;
    uint32_t outQueue;
    int32_t ctsHold;
    int32_t xoffHold;
};

struct LinkPlatform {
    // The port of the transfer (the serial port layer).
    // Bytes read, 0 when none. Line errors it clears on the way must reach
    // the engine, in the next clearCommError or through NoteLineErrors.
    int32_t (*readPort)(KivHandle port, uint8_t* buffer, uint32_t max);
    // Bytes queued now, 0 while the write is pending, -1 on an error. A pending
    // write may go on reading the buffer until it completes; the engine keeps
    // the buffer unchanged until then. One write is in flight at a time: a
    // following write waits, bounded, for the pending one, and one that does
    // not complete in time is a write error. Pending bytes count in outQueue.
    int32_t (*writePort)(KivHandle port, const uint8_t* buffer, uint32_t n);
    int32_t (*clearCommError)(KivHandle port, PortStatus* status);   // 0 when the status cannot be read
    void (*purgePort)(KivHandle port, uint32_t flags);               // TXABORT also ends a pending write
    int32_t (*prepareIrLine)(KivHandle port);   // 1 when the line device answered and was set up
    // Drops the lines, ends a pending write and the reader, and closes the
    // handles; the last of the status dialog's close step (OnStatusDialogClosing).
    void (*closePort)(void);
    // The one link timer: a periodic thread timer that calls LinkTimerProc.
    uint32_t (*setTimer)(uint32_t periodMs);   // its id, 0 when it cannot be started
    void (*killTimer)(uint32_t timerId);
    void (*timerFailed)(void);   // tells the user there are no timer resources
    // The status dialog.
    void (*sendClose)(void);         // WM_CLOSE to the dialog
    void (*sendCommNotify)(void);    // WM_COMMNOTIFY (hPort, CN_EVENT) to the dialog
    void (*repaintProgress)(void);   // the pane redrawn from progressBytes, while active
};

extern LinkPlatform linkPlatform;

// The engine's one record of the line errors of a transfer. The platform
// hands it the errors its own ClearCommError calls clear (reads, the reader
// thread); safe to call from any thread.
void NoteLineErrors(uint32_t errors);
