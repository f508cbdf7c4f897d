// The IR line device on the serial line: probed with 0xF0 (it answers 0xF4
// or 0xF5) after a pulse on RTS and DTR, then sent its 13 set-up bytes. The
// device's timing is tight, so the waits are busy waits, and its single
// bytes are moved with blocking I/O on the overlapped port.
#include "port/serial_port.h"
#include <cstring>

namespace {

const uint8_t kProbe = 0xF0;
const uint8_t kSetUp[13] = {0x0B, 0x21, 0x37, 0x45, 0x50, 0x64, 0x70, 0xD1, 0x56, 0xD0, 0x87, 0x91, 0x11};
// The port's own time-outs bound the I/O at 1000 ms; this is the backstop
// for a driver that ignores them.
const DWORD kIoBackstopMs = 3000;

// Reads or writes n bytes and waits for the result: the bytes moved. A read
// that times out (Wine: 1460 or 995) moves what it got, usually nothing.
DWORD BlockingIo(HANDLE port, bool write, uint8_t* buffer, DWORD n)
{
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ov.hEvent)
        return 0;
    DWORD done = 0;
    BOOL ok = write ? WriteFile(port, buffer, n, &done, &ov) : ReadFile(port, buffer, n, &done, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(ov.hEvent, kIoBackstopMs) != WAIT_OBJECT_0)
            CancelIo(port);
        GetOverlappedResult(port, &ov, &done, TRUE);
    } else if (!ok) {
        done = 0;
    }
    CloseHandle(ov.hEvent);
    return done;
}

bool ProbeLineDevice(HANDLE port)
{
    // BuildCommDCB leaves DCBlength and the flow characters alone; a zeroed
    // record would have the port refuse the DCB (XON equal to XOFF).
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    BuildCommDCBA("baud=9600 parity=n data=8 stop=1 xon=off", &dcb);
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    SetCommState(port, &dcb);

    EscapeCommFunction(port, SETRTS);
    EscapeCommFunction(port, SETDTR);
    SpinWait(100);
    EscapeCommFunction(port, CLRRTS);
    SpinWait(50);
    EscapeCommFunction(port, SETRTS);
    SpinWait(50);
    EscapeCommFunction(port, CLRDTR);

    uint8_t probe = kProbe;
    BlockingIo(port, true, &probe, 1);
    SpinWait(10);
    uint8_t answer = 0;
    if (BlockingIo(port, false, &answer, 1) != 1)
        return false;
    return answer == 0xF4 || answer == 0xF5;
}

void SetUpLineDevice(HANDLE port)
{
    uint8_t bytes[sizeof kSetUp];
    memcpy(bytes, kSetUp, sizeof bytes);
    BlockingIo(port, true, bytes, sizeof bytes);
    PurgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    SpinWait(3);
    EscapeCommFunction(port, SETDTR);
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(port, &dcb)) {
        dcb.Parity = ODDPARITY;
        SetCommState(port, &dcb);
    }
    EscapeCommFunction(port, SETRTS);
    EscapeCommFunction(port, SETDTR);
}

}

void SpinWait(uint32_t ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
    }
}

int32_t PrepareIrLine(HANDLE port)
{
    if (port == INVALID_HANDLE_VALUE || GetFileType(port) != FILE_TYPE_CHAR)
        return 0;
    COMMTIMEOUTS saved;
    DCB savedDcb;
    ZeroMemory(&savedDcb, sizeof savedDcb);
    savedDcb.DCBlength = sizeof savedDcb;
    if (!GetCommTimeouts(port, &saved) || !GetCommState(port, &savedDcb))
        return 0;
    COMMTIMEOUTS probing = {MAXDWORD, 0, 1000, 0, 1000};
    if (!SetCommTimeouts(port, &probing))
        return 0;
    if (ProbeLineDevice(port)) {
        SetUpLineDevice(port);
        SetCommTimeouts(port, &saved);
        return 1;
    }
    SetCommTimeouts(port, &saved);
    SetCommState(port, &savedDcb);
    EscapeCommFunction(port, SETRTS);
    EscapeCommFunction(port, SETDTR);
    return 0;
}
