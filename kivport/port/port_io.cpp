// Reads, writes and the line status of the open port. Reads ask only for
// what is already queued and writes are not awaited, so the dialog's thread
// never blocks on the line.
#include "port/serial_port.h"
#include <atomic>

namespace {

// Line errors that ClearCommError cleared on the layer's own calls, kept
// until the engine next asks. The reader thread adds to them too.
std::atomic<uint32_t> unreportedErrors;

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

}

bool ClearPortErrors(HANDLE port, COMSTAT* stat)
{
    DWORD errors = 0;
    if (!ClearCommError(port, &errors, stat))
        return false;
    unreportedErrors |= errors;
    return true;
}

void ForgetPortErrors(void) { unreportedErrors = 0; }

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
    DWORD written = 0;
    if (WriteFile(port, buffer, n, &written, AsOverlapped(&transferState.writeOverlapped)))
        return static_cast<int32_t>(written);
    if (GetLastError() == ERROR_IO_PENDING)
        return 0;
    return -1;
}

int32_t ClearPortStatus(HANDLE port, PortStatus* status)
{
    if (port == INVALID_HANDLE_VALUE)
        return 0;
    DWORD errors = 0;
    COMSTAT stat;
    if (!ClearCommError(port, &errors, &stat))
        return 0;
    status->errors = errors | unreportedErrors.exchange(0);
    status->inQueue = stat.cbInQue;
    status->outQueue = stat.cbOutQue;
    status->ctsHold = stat.fCtsHold;
    status->xoffHold = stat.fXoffHold;
    return 1;
}
