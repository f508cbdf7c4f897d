#include "status_window.h"
#include "kirx_messages.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

HWND irStatusWindow;
BYTE irContinue;
int32_t irByteCount;
int32_t irShownTotal;
RECT irProgressRect;
HFONT irTextFont;

namespace {

const wchar_t kClassName[] = L"KIRXDLLDLG";
const wchar_t kCaption[] = L"通信状況表示";
const wchar_t kCancelText[] = L"通信中断";
const UINT kLingerMs = 1500;
const UINT_PTR kLingerTimer = 0;

HINSTANCE Module() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

int baseX, baseY;   // dialog base units when the window was made
bool lingering;     // the transfer is over; the final progress is on show
WNDPROC buttonProc;

int X(int units) { return units * baseX / 4; }
int Y(int units) { return units * baseY / 8; }

void Cancel()
{
    irContinue = 0;
    // Once the transfer is over there is nothing left to stop: the window goes
    // at the next turn of the wait instead of at the end of it.
    if (lingering && irStatusWindow)
        SetTimer(irStatusWindow, kLingerTimer, 0, nullptr);
}

bool IsCancelKey(WPARAM key) { return key == VK_RETURN || key == VK_ESCAPE || key == VK_SPACE; }

int CancelAnswer() { return irContinue ? 0 : 1; }

LRESULT CALLBACK StatusWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_DESTROY: irStatusWindow = nullptr; break;
    case WM_NCDESTROY:
        // The button, which used the font too, is gone by now.
        if (irTextFont) {
            DeleteObject(irTextFont);
            irTextFont = nullptr;
        }
        break;
    case WM_PAINT: PaintStatusWindow(hwnd); break;
    case WM_KEYDOWN:
        if (IsCancelKey(wp))
            Cancel();
        break;
    case WM_COMMAND:
        if (LOWORD(wp) == IDC_KIRX_CANCEL)
            Cancel();
        break;
    case WM_CLOSE:
        // Closing mid-transfer would leave the library talking to no window,
        // which answers "go on": take it as a cancel, the end closes it.
        Cancel();
        return 0;
    case WM_TIMER: DestroyWindow(hwnd); return 0;
    case WM_KIRX_POLL:
        // The window stays until the library returns: every later question
        // must still hear the cancel.
        PumpMessages();
        return CancelAnswer();
    case WM_KIRX_PROGRESS:
        if (wp != 0) {
            irByteCount += static_cast<int32_t>(wp);
            irShownTotal = static_cast<int32_t>(lp);
            InvalidateRect(hwnd, &irProgressRect, FALSE);
            PumpMessages();
        }
        return CancelAnswer();
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// The button has the focus, so the keys reach it rather than the window.
LRESULT CALLBACK CancelButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_KEYDOWN && IsCancelKey(wp))
        Cancel();
    return CallWindowProcW(buttonProc, hwnd, msg, wp, lp);
}

// The texts are Japanese whatever the system's code page. A system font
// without Japanese characters (a Western system) would show boxes, so the
// texts then take a Japanese font of the same size.
HFONT JapaneseFontIfNeeded()
{
    LOGFONTW lf;
    if (!GetObjectW(GetStockObject(SYSTEM_FONT), sizeof lf, &lf) || lf.lfCharSet == SHIFTJIS_CHARSET)
        return nullptr;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    lstrcpynW(lf.lfFaceName, L"ＭＳ ゴシック", LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

void RegisterStatusClass()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = StatusWindowProc;
    wc.hInstance = Module();
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);   // left from a call that did not finish: same procedure
}

}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The application's own loop must still see it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void OpenStatusWindow(HWND owner, int32_t shownTotal)
{
    LONG units = GetDialogBaseUnits();
    baseX = LOWORD(units);
    baseY = HIWORD(units);
    SetRect(&irProgressRect, X(5), Y(6), X(159), Y(17));
    irByteCount = 0;
    irShownTotal = shownTotal;
    lingering = false;

    int width = X(166), height = Y(48);
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    RegisterStatusClass();
    irStatusWindow = CreateWindowExW(0, kClassName, kCaption, WS_CAPTION, x, y, width, height, owner, nullptr,
                                     Module(), nullptr);
    if (!irStatusWindow)
        return;
    irTextFont = JapaneseFontIfNeeded();
    HWND button = CreateWindowExW(
        0, L"BUTTON", kCancelText, WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, X(62), Y(22), X(42), Y(12),
        irStatusWindow, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_KIRX_CANCEL)), Module(), nullptr);
    if (button && irTextFont)
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(irTextFont), FALSE);
    if (button)
        buttonProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CancelButtonProc)));

    PumpMessages();
    ShowWindow(irStatusWindow, SW_SHOWNORMAL);
    SetFocus(button);
    PumpMessages();
}

void DestroyStatusWindow()
{
    if (irStatusWindow)
        DestroyWindow(irStatusWindow);
}

void CloseStatusWindow()
{
    PumpMessages();   // a cancel pressed while the library was busy counts too
    if (irContinue && irStatusWindow) {
        lingering = true;
        if (SetTimer(irStatusWindow, kLingerTimer, kLingerMs, nullptr)) {
            MSG msg;
            while (irStatusWindow) {
                BOOL got = GetMessageW(&msg, nullptr, 0, 0);
                if (got <= 0) {
                    if (got == 0)
                        PostQuitMessage(static_cast<int>(msg.wParam));
                    break;
                }
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        lingering = false;
    }
    DestroyStatusWindow();
    // A class left registered would outlive this library if the application
    // unloads it, and a later copy at another address would find it.
    UnregisterClassW(kClassName, Module());
}
