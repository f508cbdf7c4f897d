// The serial port layer: the COM port of one transfer, its overlapped reads
// and writes, the reader thread that turns comm events into WM_COMMNOTIFY for
// the status dialog, and the probe and set-up of the IR line device. Its
// state is transferState; everything but ReaderThread runs on the dialog's thread.
#pragma once
#include "link_platform.h"
#include "records/driver_win32.h"

// Opens and configures the port for transferState.direction and the link
// kind of portParams, and creates the reader thread suspended. On failure
// nothing stays open and INVALID_HANDLE_VALUE comes back.
HANDLE OpenPort(const char* portName, const LineSettings* line);
// Marks the port closed, drops DTR and RTS, ends the reader thread and
// closes every handle OpenPort made. Safe to call again.
void ClosePort(void);

// Bytes read (only what is queued, never waiting for more); 0 when none.
int32_t ReadPort(HANDLE port, uint8_t* buffer, uint32_t max);
// Bytes queued at once, 0 while the write is pending, -1 on an error. One
// write is in flight at a time: a write first waits for the pending one, as
// long as its bytes need on the line and a second more; one that does not
// complete by then is cancelled and the new write fails. The caller keeps the
// buffer of a pending write unchanged until the next write or ClosePort.
int32_t WritePort(HANDLE port, const uint8_t* buffer, uint32_t n);
// Aborts a write still pending and waits, bounded, until the system has let
// go of its buffer; for ClosePort.
void EndPendingWrite(HANDLE port);
// ClearCommError: the error mask and COMSTAT as a PortStatus; 0 on failure.
int32_t ClearPortStatus(HANDLE port, PortStatus* status);
// ClearCommError for the layer itself (reads, the reader thread): the errors
// it clears go to the engine's record with NoteLineErrors.
bool ClearPortErrors(HANDLE port, COMSTAT* stat);

// Probes the IR line device and sends it its set-up sequence; 1 when it
// answered. The line ends at 9600 baud, odd parity, DTR and RTS raised.
int32_t PrepareIrLine(HANDLE port);

DWORD WINAPI ReaderThread(LPVOID state);
// Busy wait: the IR line device's timing is finer than the scheduler's.
void SpinWait(uint32_t ms);
