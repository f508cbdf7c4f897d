// The DISPSTATUS dialog that hosts a transfer, and its progress pane.
#pragma once
#include "records/driver_win32.h"

// Runs the dialog modally over owner until the transfer has ended and the
// port is closed. False when the dialog could not be shown.
bool RunStatusDialog(HWND owner);

// The progress pane (control 1017): subclassed so that every WM_PAINT draws
// the transfer's progress over the edit control.
void SubclassProgressPane(HWND pane);
