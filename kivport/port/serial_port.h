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
// Bytes queued at once, 0 while the write is pending, -1 on an error.
int32_t WritePort(HANDLE port, const uint8_t* buffer, uint32_t n);
// ClearCommError: the error mask and COMSTAT as a PortStatus; 0 on failure.
// The mask includes the errors that the layer's own ClearCommError calls
// (reads, the reader thread) have cleared since the last report.
int32_t ClearPortStatus(HANDLE port, PortStatus* status);
// ClearCommError for the layer itself: the errors are kept for ClearPortStatus.
bool ClearPortErrors(HANDLE port, COMSTAT* stat);
// A new port starts with no errors kept from the last one.
void ForgetPortErrors(void);

// Probes the IR line device and sends it its set-up sequence; 1 when it
// answered. The line ends at 9600 baud, odd parity, DTR and RTS raised.
int32_t PrepareIrLine(HANDLE port);

DWORD WINAPI ReaderThread(LPVOID state);
// Busy wait: the IR line device's timing is finer than the scheduler's.
void SpinWait(uint32_t ms);
