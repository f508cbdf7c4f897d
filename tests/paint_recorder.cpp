#include "paint_recorder.h"
#include "kivtest.h"
#include <gtest/gtest.h>
#include <mutex>
#include <set>

namespace {

std::mutex recordLock;
Paint current;               // the paint under way
std::vector<Paint> paints;   // finished ones

typedef int(WINAPI* DrawTextWFn)(HDC, LPCWSTR, int, LPRECT, UINT);
typedef BOOL(WINAPI* RectangleFn)(HDC, int, int, int, int);
typedef int(WINAPI* FillRectFn)(HDC, const RECT*, HBRUSH);
typedef BOOL(WINAPI* BitBltFn)(HDC, int, int, int, int, HDC, int, int, DWORD);
typedef int(WINAPI* ReleaseDCFn)(HWND, HDC);
DrawTextWFn realDrawTextW = DrawTextW;
RectangleFn realRectangle = Rectangle;
FillRectFn realFillRect = FillRect;
BitBltFn realBitBlt = BitBlt;
ReleaseDCFn realReleaseDC = ReleaseDC;

COLORREF SolidColour(HGDIOBJ brush)
{
    LOGBRUSH lb;
    if (GetObjectW(brush, sizeof lb, &lb) && lb.lbStyle == BS_SOLID)
        return lb.lbColor;
    return CLR_INVALID;
}

int WINAPI RecordDrawTextW(HDC dc, LPCWSTR text, int n, LPRECT rect, UINT format)
{
    {
        std::lock_guard<std::mutex> lock(recordLock);
        current.texts.push_back(
            {std::wstring(text, n < 0 ? lstrlenW(text) : n), *rect, format, GetTextCharset(dc)});
    }
    return realDrawTextW(dc, text, n, rect, format);
}

BOOL WINAPI RecordRectangle(HDC dc, int left, int top, int right, int bottom)
{
    DrawnRect r = {
        {left, top, right, bottom}, GetROP2(dc), SolidColour(GetCurrentObject(dc, OBJ_BRUSH)), CLR_INVALID};
    LOGPEN pen;
    if (GetObjectW(GetCurrentObject(dc, OBJ_PEN), sizeof pen, &pen))
        r.pen = pen.lopnColor;
    {
        std::lock_guard<std::mutex> lock(recordLock);
        current.rects.push_back(r);
    }
    return realRectangle(dc, left, top, right, bottom);
}

int WINAPI RecordFillRect(HDC dc, const RECT* rect, HBRUSH brush)
{
    // A system colour brush may be passed as its index plus one.
    COLORREF colour = reinterpret_cast<UINT_PTR>(brush) <= COLOR_MENUBAR + 1
                          ? GetSysColor(static_cast<int>(reinterpret_cast<UINT_PTR>(brush)) - 1)
                          : SolidColour(brush);
    {
        std::lock_guard<std::mutex> lock(recordLock);
        current.fills.push_back({*rect, colour});
    }
    return realFillRect(dc, rect, brush);
}

BOOL WINAPI RecordBitBlt(HDC dc, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop)
{
    {
        std::lock_guard<std::mutex> lock(recordLock);
        current.copies.push_back({{x, y, w, h}, {sx, sy}});
    }
    return realBitBlt(dc, x, y, w, h, src, sx, sy, rop);
}

// The paint routine ends by handing its device context back.
int WINAPI RecordReleaseDC(HWND hwnd, HDC dc)
{
    {
        std::lock_guard<std::mutex> lock(recordLock);
        if (!current.texts.empty() || !current.rects.empty() || !current.fills.empty())
            paints.push_back(current);
        current = Paint();
    }
    return realReleaseDC(hwnd, dc);
}

template <class F>
bool Patch(HMODULE module, const char* dll, const char* name, F replacement)
{
    return PatchImport(module, dll, name, reinterpret_cast<void*>(replacement)) != nullptr;
}

}

void PaintRecorder::Install(HMODULE module)
{
    static std::set<HMODULE> installed;
    if (installed.count(module))
        return;
    installed.insert(module);
    bool text = Patch(module, "user32.dll", "DrawTextW", RecordDrawTextW);
    bool release = Patch(module, "user32.dll", "ReleaseDC", RecordReleaseDC);
    Patch(module, "gdi32.dll", "Rectangle", RecordRectangle);
    Patch(module, "user32.dll", "FillRect", RecordFillRect);
    Patch(module, "gdi32.dll", "BitBlt", RecordBitBlt);
    ASSERT_TRUE(text && release) << "the module does not draw through DrawTextW and ReleaseDC";
}

void PaintRecorder::Clear()
{
    std::lock_guard<std::mutex> lock(recordLock);
    paints.clear();
}

std::vector<Paint> PaintRecorder::Paints()
{
    std::lock_guard<std::mutex> lock(recordLock);
    return paints;
}
