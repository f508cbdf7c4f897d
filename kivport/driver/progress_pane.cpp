// The status dialog's progress pane: a disabled edit control over which the
// byte count and, when sending, a bar are drawn after every WM_PAINT. The
// image is built off screen and copied in one operation so that it does not
// flicker; the bar is laid over the text with "pen or not destination", which
// turns the black text inside it white.
#include "driver/status_dialog.h"
#include <cstdio>

namespace {

WNDPROC oldProgressProc;
// The pane's text font where the system font has no Japanese characters
// (a Western system); null where the default font of a drawing context has them.
HFONT paneFont;

// The pane's texts, code page 932 like every text of the driver, drawn wide
// so that they read under any system code page.
const char kSentFormat[] =
    "%ld\x81\x5E%ld \x83\x6F\x83\x43\x83\x67 \x91\x97\x90\x4D\x82\xB5\x82\xDC\x82\xB5\x82\xBD";
const char kSendWaiting[] = "\x91\x97\x90\x4D\x91\xD2\x82\xBF";
const char kReceivedFormat[] =
    "%ld \x83\x6F\x83\x43\x83\x67 \x8E\xF3\x90\x4D\x82\xB5\x82\xDC\x82\xB5\x82\xBD";
const char kReceiveWaiting[] = "\x8E\xF3\x90\x4D\x91\xD2\x82\xBF";

const COLORREF kBarColour = 0xFF0000;   // blue

void PaneText(uint32_t shown, char* text, size_t size)
{
    long n = static_cast<long>(shown);
    if (transferState.direction == 1) {
        if (shown)
            snprintf(text, size, kSentFormat, n, static_cast<long>(transferState.totalBytes));
        else
            snprintf(text, size, "%s", kSendWaiting);
    } else {
        if (shown)
            snprintf(text, size, kReceivedFormat, n);
        else
            snprintf(text, size, "%s", kReceiveWaiting);
    }
}

void DrawPaneText(HDC dc, RECT* client, uint32_t shown)
{
    char text[96];
    PaneText(shown, text, sizeof text);
    wchar_t wide[96];
    int n = MultiByteToWideChar(932, 0, text, -1, wide, 96);
    if (n <= 0)
        return;
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, wide, -1, client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void DrawBar(HDC dc, const RECT& bar)
{
    HBRUSH brush = CreateSolidBrush(kBarColour);
    HPEN pen = CreatePen(PS_SOLID, 1, kBarColour);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    int oldRop = SetROP2(dc, R2_MERGEPENNOT);
    Rectangle(dc, bar.left, bar.top, bar.right, bar.bottom);
    SetROP2(dc, oldRop);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

void PaintPane(HWND pane)
{
    PAINTSTRUCT ps;
    bool painting = GetUpdateRect(pane, nullptr, FALSE) != 0;
    if (painting)
        BeginPaint(pane, &ps);
    HDC dc = GetDC(pane);
    RECT client;
    GetClientRect(pane, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP image = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ oldImage = SelectObject(mem, image);
    HGDIOBJ oldFont = paneFont ? SelectObject(mem, paneFont) : nullptr;

    FillRect(mem, &client, GetSysColorBrush(COLOR_WINDOW));
    const TransferState& ts = transferState;
    uint32_t shown = ts.progressBytes;
    int barWidth = 0;
    if (ts.totalBytes != 0) {
        if (shown > ts.totalBytes)
            shown = ts.totalBytes;
        barWidth = static_cast<int>(static_cast<uint64_t>(width) * shown / ts.totalBytes);
    }
    RECT bar = {client.left, client.top, client.left + barWidth, client.bottom};
    if (barWidth > 0)
        FillRect(mem, &bar, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawPaneText(mem, &client, shown);
    if (barWidth > 0)
        DrawBar(mem, bar);

    RECT inner = client;
    InflateRect(&inner, -1, -1);
    BitBlt(dc, inner.left, inner.top, inner.right - inner.left, inner.bottom - inner.top, mem, 0, 0, SRCCOPY);

    if (oldFont)
        SelectObject(mem, oldFont);
    SelectObject(mem, oldImage);
    DeleteObject(image);
    DeleteDC(mem);
    ReleaseDC(pane, dc);
    if (painting)
        EndPaint(pane, &ps);
}

HFONT JapaneseFontIfNeeded(void)
{
    LOGFONTW lf;
    if (!GetObjectW(GetStockObject(SYSTEM_FONT), sizeof lf, &lf) || lf.lfCharSet == SHIFTJIS_CHARSET)
        return nullptr;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    lstrcpynW(lf.lfFaceName, L"ＭＳ ゴシック", LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

LRESULT CALLBACK ProgressPaneProc(HWND pane, UINT msg, WPARAM wp, LPARAM lp)
{
    LRESULT result = CallWindowProcW(oldProgressProc, pane, msg, wp, lp);
    if (msg == WM_PAINT)
        PaintPane(pane);
    if (msg == WM_NCDESTROY && paneFont) {
        DeleteObject(paneFont);
        paneFont = nullptr;
    }
    return result;
}

}

void SubclassProgressPane(HWND pane)
{
    if (!pane)
        return;
    if (!paneFont)
        paneFont = JapaneseFontIfNeeded();
    oldProgressProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressPaneProc)));
}
