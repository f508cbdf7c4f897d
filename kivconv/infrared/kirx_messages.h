// The messages through which the device library reports progress to the
// status window and asks whether to go on. Both answer 1 for "cancel" and 0
// for "go on". The values are shared with the device library.
#pragma once
#include <windows.h>

// wParam, lParam ignored. Handled: the window's queue is drained.
const UINT WM_KIRX_POLL = WM_USER + 200;   // 1224
// wParam: bytes since the last report (0: nothing to report);
// lParam: the figure to measure the progress against (0: receiving).
const UINT WM_KIRX_PROGRESS = WM_USER + 210;   // 1234

const int IDC_KIRX_CANCEL = 4000;
