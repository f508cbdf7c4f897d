// Ctrl-C, SIGTERM and a hang-up as bytes on a pipe, so that the poll loop
// takes them as one more event and the engine sees a cancel at a safe point.
#pragma once

// Handlers for the signals not ignored; the pipe's read end, -1 when it could not be made.
int InstallCancelSignals(void);
// The signal that arrived, read off the pipe; 0 when none.
int TakeCancelSignal(int fd);
// The handling each signal had before, and the pipe closed.
void RemoveCancelSignals(void);
