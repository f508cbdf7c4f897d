#include "kirx_test.h"
#include <cstring>
#include <mutex>

HMODULE KivConv()
{
    static HMODULE dll = LoadKivLibrary("kivconv.dll");
    return dll;
}

KirxIrdaFn KirxIrda() { return GetExport<KirxIrdaFn>(KivConv(), "KIRX_IrDA"); }

std::string FixtureFolder(const char* name)
{
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe, n);
    dir.erase(dir.find_last_of('\\'));
    return dir + "\\fixtures\\" + name;
}

namespace {

HANDLE TestEvent(const char* name)
{
    std::string full = std::string(name) + "-" + std::to_string(GetCurrentProcessId());
    return CreateEventA(nullptr, FALSE, FALSE, full.c_str());
}

}

KirxFixture::KirxFixture(const char* plan, const char* variant)
{
    // An empty folder takes the current folder out of the search as well.
    SetDllDirectoryA(variant ? FixtureFolder(variant).c_str() : "");
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    static int serial;
    logPath = std::string(tmp) + "kirx-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++serial) + ".log";
    DeleteFileA(logPath.c_str());
    SetEnvironmentVariableA("KIRX_FIXTURE_LOG", logPath.c_str());
    SetEnvironmentVariableA("KIRX_FIXTURE_PLAN", plan);
    held = TestEvent("KirxFixtureHeld");
    go = TestEvent("KirxFixtureGo");
}

KirxFixture::~KirxFixture()
{
    SetDllDirectoryA(nullptr);
    SetEnvironmentVariableA("KIRX_FIXTURE_LOG", nullptr);
    SetEnvironmentVariableA("KIRX_FIXTURE_PLAN", nullptr);
    DeleteFileA(logPath.c_str());
    CloseHandle(held);
    CloseHandle(go);
}

std::vector<std::string> KirxFixture::Log() const
{
    std::vector<std::string> lines;
    FILE* f = fopen(logPath.c_str(), "rb");
    if (!f)
        return lines;
    char buf[1024];
    while (fgets(buf, sizeof buf, f)) {
        std::string line = buf;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(line);
    }
    fclose(f);
    return lines;
}

DWORD KirxFixture::ReturnTick() const
{
    for (const std::string& line : Log()) {
        size_t at = line.find(" @");
        if (line.compare(0, 7, "return ") == 0 && at != std::string::npos)
            return strtoul(line.c_str() + at + 2, nullptr, 10);
    }
    return 0;
}

bool KirxFixture::WaitHeld(DWORD timeoutMs) { return WaitForSingleObject(held, timeoutMs) == WAIT_OBJECT_0; }

void KirxFixture::Go() { SetEvent(go); }

bool KirxFixture::WaitReturned(DWORD timeoutMs) const
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(5))
        if (ReturnTick() != 0)
            return true;
    return false;
}

LONG RunExchange(HWND owner, const char* text, int direction, int port, const std::function<void()>& driver,
                 DWORD* tickAfter)
{
    std::string buf = text;
    LONG result = -12345;
    auto call = [&] {
        result = KirxIrda()(owner, &buf[0], direction, port);
        if (tickAfter)
            *tickAfter = GetTickCount();
    };
    if (driver)
        WithDriver(driver, call);
    else
        call();
    return result;
}

HWND FindStatusWindow(DWORD timeoutMs) { return WaitForWindow(nullptr, L"KIRXDLLDLG", timeoutMs); }

int DialogX(int units) { return units * LOWORD(GetDialogBaseUnits()) / 4; }
int DialogY(int units) { return units * HIWORD(GetDialogBaseUnits()) / 8; }

RECT ProgressRect()
{
    RECT r = {DialogX(5), DialogY(6), DialogX(159), DialogY(17)};
    return r;
}

// --- GDI calls recorded through kivconv.dll's import table ---

namespace {

std::mutex recordLock;
Paint current;               // the paint under way
std::vector<Paint> paints;   // finished ones

typedef int(WINAPI* DrawTextWFn)(HDC, LPCWSTR, int, LPRECT, UINT);
typedef BOOL(WINAPI* RectangleFn)(HDC, int, int, int, int);
typedef int(WINAPI* ReleaseDCFn)(HWND, HDC);
DrawTextWFn realDrawTextW;
RectangleFn realRectangle;
ReleaseDCFn realReleaseDC;

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
    DrawnRect r = {{left, top, right, bottom}, GetROP2(dc), CLR_INVALID, CLR_INVALID};
    LOGBRUSH brush;
    if (GetObjectW(GetCurrentObject(dc, OBJ_BRUSH), sizeof brush, &brush) && brush.lbStyle == BS_SOLID)
        r.brush = brush.lbColor;
    LOGPEN pen;
    if (GetObjectW(GetCurrentObject(dc, OBJ_PEN), sizeof pen, &pen))
        r.pen = pen.lopnColor;
    {
        std::lock_guard<std::mutex> lock(recordLock);
        current.rects.push_back(r);
    }
    return realRectangle(dc, left, top, right, bottom);
}

// The paint routine ends by handing its device context back.
int WINAPI RecordReleaseDC(HWND hwnd, HDC dc)
{
    {
        std::lock_guard<std::mutex> lock(recordLock);
        if (!current.texts.empty() || !current.rects.empty())
            paints.push_back(current);
        current = Paint();
    }
    return realReleaseDC(hwnd, dc);
}

void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement)
{
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base +
                                                   reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name;
         imp++) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + imp->Name), dll) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), function) != 0)
                continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            void* original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<DWORD_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return original;
        }
    }
    return nullptr;
}

}

void PaintRecorder::Install()
{
    static bool installed = [] {
        realDrawTextW = reinterpret_cast<DrawTextWFn>(
            PatchImport(KivConv(), "user32.dll", "DrawTextW", reinterpret_cast<void*>(RecordDrawTextW)));
        realRectangle = reinterpret_cast<RectangleFn>(
            PatchImport(KivConv(), "gdi32.dll", "Rectangle", reinterpret_cast<void*>(RecordRectangle)));
        realReleaseDC = reinterpret_cast<ReleaseDCFn>(
            PatchImport(KivConv(), "user32.dll", "ReleaseDC", reinterpret_cast<void*>(RecordReleaseDC)));
        return realDrawTextW && realRectangle && realReleaseDC;
    }();
    ASSERT_TRUE(installed) << "kivconv.dll does not draw through DrawTextW, Rectangle and ReleaseDC";
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

bool Repaint(HWND status, Paint* paint)
{
    PaintRecorder::Clear();
    RECT r = ProgressRect();
    RedrawWindow(status, &r, nullptr, RDW_INVALIDATE);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(10)) {
        std::vector<Paint> done = PaintRecorder::Paints();
        if (!done.empty()) {
            *paint = done.back();
            return true;
        }
    }
    return false;
}

int FontCharset(HWND control)
{
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW lf;
    if (!GetObjectW(font ? font : GetStockObject(SYSTEM_FONT), sizeof lf, &lf))
        return -1;
    return lf.lfCharSet;
}

// --- windows created and focused on this thread ---

namespace {
HHOOK cbtHook;
std::mutex watchLock;
std::vector<std::wstring> created;
std::vector<HWND> focused;

LRESULT CALLBACK WatchWindows(int code, WPARAM wp, LPARAM lp)
{
    if (code == HCBT_CREATEWND || code == HCBT_SETFOCUS) {
        std::lock_guard<std::mutex> lock(watchLock);
        if (code == HCBT_SETFOCUS) {
            focused.push_back(reinterpret_cast<HWND>(wp));
        } else {
            wchar_t name[64] = L"";
            GetClassNameW(reinterpret_cast<HWND>(wp), name, 64);
            created.push_back(name);
        }
    }
    return CallNextHookEx(cbtHook, code, wp, lp);
}
}

WindowWatch::WindowWatch()
{
    std::lock_guard<std::mutex> lock(watchLock);
    created.clear();
    focused.clear();
    cbtHook = SetWindowsHookExW(WH_CBT, WatchWindows, nullptr, GetCurrentThreadId());
}

WindowWatch::~WindowWatch() { UnhookWindowsHookEx(cbtHook); }

std::vector<std::wstring> WindowWatch::Created() const
{
    std::lock_guard<std::mutex> lock(watchLock);
    return created;
}

std::vector<HWND> WindowWatch::Focused() const
{
    std::lock_guard<std::mutex> lock(watchLock);
    return focused;
}
