// What the infrared exchange tests share: the export, the test KIRX.dll and
// its plan, and a record of what the status window draws.
#pragma once
#include "kivtest.h"
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

// The export with its arguments as whole 32-bit slots, so a test can show
// that only the low 16 bits of direction count.
typedef LONG(WINAPI* KirxIrdaFn)(HWND, char*, int, int);
KirxIrdaFn KirxIrda();
HMODULE KivConv();

// Folder of a test library variant beside the test programs ("kirx", ...).
std::string FixtureFolder(const char* name);

// Puts the test KIRX.dll (folder variant: "kirx", or "kirx-incomplete") where
// LoadLibrary finds it by name and gives it a plan; a null variant leaves no
// KIRX.dll to be found.
class KirxFixture {
public:
    KirxFixture(const char* plan, const char* variant = "kirx");
    ~KirxFixture();
    std::vector<std::string> Log() const;
    // The library's GetTickCount when its transfer returned; 0 when it did not.
    DWORD ReturnTick() const;
    // The library has reached a "hold" in its plan.
    bool WaitHeld(DWORD timeoutMs = 10000);
    void Go();
    // The library's transfer has returned.
    bool WaitReturned(DWORD timeoutMs = 10000) const;

private:
    std::string logPath;
    HANDLE held, go;
};

// Runs the export on this thread while driver() runs on a second one.
// Returns the export's result; tickAfter gets GetTickCount after it returned.
LONG RunExchange(HWND owner, const char* text, int direction, int port,
                 const std::function<void()>& driver = nullptr, DWORD* tickAfter = nullptr);

// The status window while it is shown.
HWND FindStatusWindow(DWORD timeoutMs = 10000);

// Dialog units of the status window in pixels, as the system converts them.
int DialogX(int units);
int DialogY(int units);
RECT ProgressRect();

// GDI calls of kivconv.dll, recorded by patching its imports; one Paint per
// device context the window takes and releases.
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
struct Paint {
    std::vector<DrawnText> texts;
    std::vector<DrawnRect> rects;
};
class PaintRecorder {
public:
    static void Install();
    static void Clear();
    static std::vector<Paint> Paints();
};

// Has the progress rectangle repainted (by the window's own thread) and hands
// back what was drawn; false when no paint came.
bool Repaint(HWND status, Paint* paint);

// The character set of the font a control shows its text in.
int FontCharset(HWND control);

// Windows created on this thread while it lives, by class name, and the
// windows this thread gave the keyboard focus to.
class WindowWatch {
public:
    WindowWatch();
    ~WindowWatch();
    std::vector<std::wstring> Created() const;
    std::vector<HWND> Focused() const;
};
