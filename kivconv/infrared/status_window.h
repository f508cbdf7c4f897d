// The status window of the infrared text exchange: shows the progress that the
// device library reports and offers the cancel button.
#pragma once
#include <windows.h>
#include <cstdint>

// One exchange at a time per process.
extern HWND irStatusWindow;    // while it exists
extern BYTE irContinue;        // 0 once the user asked to cancel
extern int32_t irByteCount;    // bytes reported so far
extern int32_t irShownTotal;   // what the progress is measured against; 0 when receiving
extern RECT irProgressRect;    // client coordinates
extern HFONT irTextFont;       // for the texts when the system font has no Japanese; else null

// Drains the calling thread's queue without waiting for more.
void PumpMessages();

// Shows the status window, owned by owner, with the cancel button focused.
// shownTotal is non-zero when sending. Leaves irContinue alone: the caller
// sets it once the window is up.
void OpenStatusWindow(HWND owner, int32_t shownTotal);

// After the transfer: at once when cancelled (a cancel still queued counts),
// else after the final progress has stayed on screen for a moment.
void CloseStatusWindow();

void DestroyStatusWindow();

// The paint routine: the progress rectangle, its text and bar.
void PaintStatusWindow(HWND hwnd);
