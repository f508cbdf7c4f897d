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
