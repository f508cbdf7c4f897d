// The Windows side of the driver's shared records: module globals that hold
// window and module handles, and the small operations on ports and windows.
#pragma once
#include <windows.h>
#include "records.h"

extern HINSTANCE hInstance;          // dialog templates are loaded from it
extern PortSetup* setupInProgress;   // re-entry guard of the setup dialog
extern HWND hStatusDlg;              // status dialog while a transfer runs

// Control id of the status dialog's progress pane.
enum { IDC_PROGRESS_PANE = 1017 };

static_assert(sizeof(IoOverlapped) == sizeof(OVERLAPPED), "IoOverlapped mirrors OVERLAPPED");
inline OVERLAPPED* AsOverlapped(IoOverlapped* o) { return reinterpret_cast<OVERLAPPED*>(o); }

// Changes the members of a port's DCB that the line settings decide; every
// other member keeps what the port driver reported.
void ApplyLineSettings(DCB& dcb, const LineSettings* line);
// Applies the line settings to an open port; what the port refuses is not reported.
void ConfigurePort(HANDLE hPort, const LineSettings* line);
// Opens a COM port by its name ("COM12") exclusively, existing device only,
// for overlapped I/O. The name goes through the device namespace ("\\.\COM12"),
// since the bare name finds only COM1 to COM9; a name that already carries
// the prefix is taken as it stands.
HANDLE OpenComDevice(const char* portName, DWORD access);
// Centres a window on the screen, keeping its size, without repainting.
void CentreWindow(HWND hwnd);
// Redraws the status dialog's progress pane at once while a transfer is active.
void RepaintProgress(void);
