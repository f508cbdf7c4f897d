// What a DLL draws, recorded by patching its imports of the drawing calls:
// the texts, rectangles, fills and copies of each device context it takes
// from a window and hands back with ReleaseDC (one Paint each).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

struct DrawnText {
    std::wstring text;
    RECT rect;
    UINT format;
    int charset;   // of the font it was drawn with
};
struct DrawnRect {
    RECT rect;
    int rop;
    COLORREF brush;   // CLR_INVALID when not a solid brush
    COLORREF pen;
};
struct DrawnFill {
    RECT rect;
    COLORREF brush;   // CLR_INVALID when not a solid brush
};
struct DrawnCopy {
    RECT target;   // left, top and the width and height as right, bottom
    POINT source;
};
struct Paint {
    std::vector<DrawnText> texts;
    std::vector<DrawnRect> rects;
    std::vector<DrawnFill> fills;
    std::vector<DrawnCopy> copies;
};

class PaintRecorder {
public:
    // Patches module once; it must draw text with DrawTextW and end with ReleaseDC.
    static void Install(HMODULE module);
    static void Clear();
    static std::vector<Paint> Paints();
};
