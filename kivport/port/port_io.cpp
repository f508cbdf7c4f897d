// Reads, writes and the line status of the open port. Reads ask only for
// what is already queued and writes are not awaited, so the dialog's thread
// does not block on the line; the one wait is for a write still pending
// when the next one comes, bounded by the time its bytes need on the line.
#include "port/serial_port.h"

namespace {

// The write in flight: its byte count while WriteFile is pending, 0 when
// none. Until it completes the system may still read the caller's buffer and
// writes transferState.writeOverlapped, so no second write starts over it.
// Dialog's thread only.
DWORD pendingWriteBytes;

// Wine ends an overlapped read whose total time-out expired with
// ERROR_TIMEOUT (1460), a released one with ERROR_OPERATION_ABORTED (995);
// both mean "nothing more came".
bool TimedOut(DWORD error) { return error == ERROR_TIMEOUT || error == ERROR_OPERATION_ABORTED; }

DWORD QueuedInput(HANDLE port)
{
    COMSTAT stat;
    if (!ClearPortErrors(port, &stat))
        return 0;
    return stat.cbInQue;
}

// What the pending bytes need on the line at 11 bits a byte (start, eight
// data bits, parity, stop), and a second of slack for the driver.
DWORD PendingWriteBoundMs(void)
{
    uint32_t baud = portParams.line.baudRate ? portParams.line.baudRate : 9600;
    return static_cast<DWORD>(uint64_t(pendingWriteBytes) * 11 * 1000 / baud) + 1000;
}

// Waits up to boundMs for the pending write, cancelling it when it does not
// complete; true when there was none or it completed (or a purge ended it).
// Afterwards no write is in flight.
bool AwaitPendingWrite(HANDLE port, DWORD boundMs)
{
    if (!pendingWriteBytes)
        return true;
    OVERLAPPED* ov = AsOverlapped(&transferState.writeOverlapped);
    bool done = WaitForSingleObject(ov->hEvent, boundMs) == WAIT_OBJECT_0;
    if (!done)
        CancelIo(port);   // the write was issued on this thread
    // Either way the system lets go of the buffer before this returns.
    DWORD n = 0;
    BOOL ok = GetOverlappedResult(port, ov, &n, TRUE);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    pendingWriteBytes = 0;
    // A write ended by a purge was meant to end; any other failure lost bytes.
    return done && (ok || error == ERROR_OPERATION_ABORTED);
}

}

bool ClearPortErrors(HANDLE port, COMSTAT* stat)
{
    DWORD errors = 0;
    if (!ClearCommError(port, &errors, stat))
        return false;
    NoteLineErrors(errors);
    return true;
}

void EndPendingWrite(HANDLE port)
{
    if (!pendingWriteBytes)
        return;
    PurgeComm(port, PURGE_TXABORT);
    AwaitPendingWrite(port, 1000);
}

int32_t ReadPort(HANDLE port, uint8_t* buffer, uint32_t max)
{
    if (port == INVALID_HANDLE_VALUE)
        return 0;
    DWORD n = QueuedInput(port);
    if (n > max)
        n = max;
    if (n == 0)
        return 0;
    OVERLAPPED* ov = AsOverlapped(&transferState.readOverlapped);
    DWORD got = 0;
    if (ReadFile(port, buffer, n, &got, ov))
        return static_cast<int32_t>(got);
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        if (!GetOverlappedResult(port, ov, &got, TRUE) && !TimedOut(GetLastError()))
            got = 0;
        ResetEvent(ov->hEvent);
        return static_cast<int32_t>(got);
    }
    QueuedInput(port);   // clears the error
    return 0;
}

int32_t WritePort(HANDLE port, const uint8_t* buffer, uint32_t n)
{
    if (port == INVALID_HANDLE_VALUE)
        return 0;
    if (!AwaitPendingWrite(port, PendingWriteBoundMs()))
        return -1;
    DWORD written = 0;
    if (WriteFile(port, buffer, n, &written, AsOverlapped(&transferState.writeOverlapped)))
        return static_cast<int32_t>(written);
    if (GetLastError() != ERROR_IO_PENDING)
        return -1;
    pendingWriteBytes = n;
    return 0;
}

int32_t ClearPortStatus(HANDLE port, PortStatus* status)
{
    if (port == INVALID_HANDLE_VALUE)
        return 0;
    DWORD errors = 0;
    COMSTAT stat;
    if (!ClearCommError(port, &errors, &stat))
        return 0;
    status->errors = errors;
    status->inQueue = stat.cbInQue;
    status->outQueue = stat.cbOutQue;
    status->ctsHold = stat.fCtsHold;
    status->xoffHold = stat.fXoffHold;
    return 1;
}
