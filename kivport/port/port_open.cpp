// Opening and closing the port of a transfer, and the reader thread that
// lives in between. The reader only waits for comm events and hands them to
// the dialog's thread with SendMessage; its wait is overlapped so that
// ClosePort can release it, and ClosePort keeps delivering the messages sent
// to the dialog while it waits, since the reader may be blocked in one.
#include "port/serial_port.h"

namespace {

// Comm events the reader wakes for.
const DWORD kReaderEvents = EV_RXCHAR | EV_TXEMPTY | EV_CTS | EV_DSR | EV_BREAK | EV_ERR;
// How long ClosePort waits for the reader before it ends the thread by force.
const DWORD kReaderEndMs = 5000;

// The reader's own wait. Module storage rather than the reader's stack, so
// that a wait still pending when a thread had to be ended writes into memory
// that lives on. Written by the reader; created and closed by the dialog's thread.
OVERLAPPED readerWait;
DWORD readerEvents;
// Set by ClosePort: the reader cancels its wait and ends.
HANDLE readerStop;

void CloseIfOpen(KivHandle& h)
{
    if (h && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = nullptr;
}

void CloseEvents(void)
{
    CloseIfOpen(transferState.readOverlapped.hEvent);
    CloseIfOpen(transferState.writeOverlapped.hEvent);
    CloseIfOpen(readerWait.hEvent);
    CloseIfOpen(readerStop);
}

HANDLE ManualEvent(void) { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

bool CreateEvents(void)
{
    IoOverlapped& w = transferState.writeOverlapped;
    IoOverlapped& r = transferState.readOverlapped;
    w = IoOverlapped();
    r = IoOverlapped();
    w.hEvent = ManualEvent();
    if (w.hEvent)
        r.hEvent = ManualEvent();
    ZeroMemory(&readerWait, sizeof readerWait);
    if (r.hEvent)
        readerWait.hEvent = ManualEvent();
    if (readerWait.hEvent)
        readerStop = ManualEvent();
    if (readerStop)
        return true;
    CloseEvents();
    return false;
}

bool Stopping(void) { return WaitForSingleObject(readerStop, 0) == WAIT_OBJECT_0; }

// One comm event of the mask, or 0 when the wait failed or was released.
DWORD WaitForCommEvent(HANDLE port)
{
    readerEvents = 0;
    ResetEvent(readerWait.hEvent);
    if (WaitCommEvent(port, &readerEvents, &readerWait))
        return readerEvents;
    if (GetLastError() != ERROR_IO_PENDING) {
        // A port without comm events: do not spin on it.
        WaitForSingleObject(readerStop, 10);
        return 0;
    }
    HANDLE both[2] = {readerWait.hEvent, readerStop};
    if (WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // Released by ClosePort: cancel the wait this thread issued.
        CancelIo(port);
        SetCommMask(port, 0);
    }
    DWORD n;
    if (!GetOverlappedResult(port, &readerWait, &n, TRUE))
        return 0;
    return readerEvents;
}

// Waits for the reader thread to end while delivering the messages other
// threads send to this one (the reader's WM_COMMNOTIFY among them).
bool WaitForReader(HANDLE thread)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kReaderEndMs)
            return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, kReaderEndMs - elapsed, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0)
            return true;
        if (r != WAIT_OBJECT_0 + 1)
            return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}

DWORD WINAPI ReaderThread(LPVOID state)
{
    TransferState* ts = static_cast<TransferState*>(state);
    HANDLE port = ts->hPort;
    SetCommMask(port, kReaderEvents);
    while (ts->active == 1 && !Stopping()) {
        port = ts->hPort;
        if (port == INVALID_HANDLE_VALUE)
            break;
        COMSTAT stat;
        ClearPortErrors(port, &stat);
        DWORD events = WaitForCommEvent(port);
        if ((events & ts->notifyMask) && ts->active == 1 && !Stopping())
            SendMessageA(hStatusDlg, WM_COMMNOTIFY, reinterpret_cast<WPARAM>(port), LINK_CN_EVENT);
        if (!Stopping())
            SetCommMask(port, kReaderEvents);
    }
    ts->readerThreadId = 0;
    return 0;
}

HANDLE OpenPort(const char* portName, const LineSettings* line)
{
    if (!CreateEvents())
        return INVALID_HANDLE_VALUE;
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    if (portParams.linkKind != LINK_IR)
        access = transferState.direction == 1 ? GENERIC_WRITE : GENERIC_READ;
    HANDLE port = OpenComDevice(portName, access);
    if (port == INVALID_HANDLE_VALUE) {
        CloseEvents();
        return INVALID_HANDLE_VALUE;
    }
    EscapeCommFunction(port, SETDTR);
    EscapeCommFunction(port, SETRTS);
    SetupComm(port, 1024, 1024);
    // A read returns at once with what is queued.
    COMMTIMEOUTS timeouts = {MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(port, &timeouts);
    ConfigurePort(port, line);

    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ReaderThread, &transferState, CREATE_SUSPENDED, &id);
    if (!thread) {
        CloseHandle(port);
        CloseEvents();
        return INVALID_HANDLE_VALUE;
    }
    transferState.readerThreadId = id;
    transferState.readerThread = thread;
    return port;
}

void ClosePort(void)
{
    HANDLE port = transferState.hPort.exchange(INVALID_HANDLE_VALUE);
    if (port && port != INVALID_HANDLE_VALUE) {
        EscapeCommFunction(port, CLRDTR);
        EscapeCommFunction(port, CLRRTS);
    }
    HANDLE thread = transferState.readerThread;
    if (thread) {
        if (readerStop)
            SetEvent(readerStop);
        // A dialog that never started leaves the reader suspended.
        ResumeThread(thread);
        if (!WaitForReader(thread)) {
            TerminateThread(thread, 0);
            WaitForSingleObject(thread, INFINITE);
        }
        transferState.readerThreadId = 0;
        CloseIfOpen(transferState.readerThread);
    }
    // The port first: closing it ends any I/O still pending on the events.
    // A write still pending is ended before, so the system lets go of the
    // engine's buffer while the transfer's state still exists.
    if (port && port != INVALID_HANDLE_VALUE) {
        EndPendingWrite(port);
        CloseHandle(port);
    }
    CloseEvents();
}
