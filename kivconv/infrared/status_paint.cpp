// The progress rectangle of the status window: a sunken frame with the
// progress text and, when sending, a bar.
#include "status_window.h"

namespace {

const int kFullBar = 304;   // pixels, whatever the base units
const COLORREF kBarColour = RGB(0, 0, 255);

// The text is drawn wide so that it reads right on any system code page.
void ProgressText(wchar_t* text)
{
    if (irShownTotal != 0) {
        if (irByteCount > 0)
            wsprintfW(text, L"%d／%d バイト 送信しました", irByteCount,
                      static_cast<int>(static_cast<uint32_t>(irShownTotal) - 1));
        else
            lstrcpyW(text, L"送信待ち");
    } else {
        if (irByteCount > 0)
            wsprintfW(text, L"%d バイト 受信しました", irByteCount);
        else
            lstrcpyW(text, L"受信待ち");
    }
}

// The bar's length in pixels, kept inside the frame even when the library
// reports more bytes than its total, or a negative total.
int BarLength()
{
    if (irShownTotal == 0 || irByteCount <= 0)
        return 0;
    long long length = static_cast<long long>(irByteCount) * kFullBar / irShownTotal;
    long long room = (irProgressRect.right - 2) - (irProgressRect.left + 2);
    if (length > kFullBar)
        length = kFullBar;
    if (length > room)
        length = room;
    return length > 0 ? static_cast<int>(length) : 0;
}

void DrawBar(HDC dc, int length)
{
    HPEN pen = CreatePen(PS_SOLID, 1, kBarColour);
    HBRUSH brush = CreateSolidBrush(kBarColour);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    // Pen or not-destination: blue on the white ground, the black text white.
    int oldRop = SetROP2(dc, R2_MERGEPENNOT);
    const RECT& r = irProgressRect;
    Rectangle(dc, r.left + 2, r.top + 2, r.left + 2 + length, r.bottom - 2);
    SetROP2(dc, oldRop);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(brush);
    DeleteObject(pen);
}

}

void PaintStatusWindow(HWND hwnd)
{
    // Everything is drawn afresh below; the paint cycle only says whether the
    // progress rectangle needs it.
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    EndPaint(hwnd, &ps);
    RECT meet;
    if (!IntersectRect(&meet, &ps.rcPaint, &irProgressRect))
        return;

    HDC dc = GetDC(hwnd);
    const RECT& r = irProgressRect;
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
    RECT inside = irProgressRect;
    DrawEdge(dc, &inside, EDGE_SUNKEN, BF_RECT | BF_SOFT | BF_ADJUST);

    wchar_t text[96];
    ProgressText(text);
    HGDIOBJ oldFont = irTextFont ? SelectObject(dc, irTextFont) : nullptr;
    DrawTextW(dc, text, -1, &inside, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (oldFont)
        SelectObject(dc, oldFont);

    int length = BarLength();
    if (length > 0)
        DrawBar(dc, length);
    ReleaseDC(hwnd, dc);
}
