#include "kivtest.h"
#include <thread>
#include <vector>

HMODULE LoadKivLibrary(const char* name) { return LoadLibraryA(name); }

bool RunUnixCommand(const std::string& command)
{
    std::string line = "sh -c \"" + command + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    if (!CreateProcessA("Z:\\bin\\sh", buf.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi))
        return false;
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code == 0;
}

void MapComPort(int n, const char* device)
{
    char prefix[1024];
    DWORD len = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (len == 0 || len >= sizeof prefix)
        return;
    std::string link = std::string(prefix) + "/dosdevices/com" + std::to_string(n);
    if (device)
        RunUnixCommand("ln -sfn '" + std::string(device) + "' '" + link + "'");
    else
        RunUnixCommand("rm -f '" + link + "'");
}

std::string WindowsDirectoryFile(const char* name)
{
    char dir[MAX_PATH];
    UINT len = GetWindowsDirectoryA(dir, MAX_PATH);
    std::string path(dir, len);
    if (path.empty() || path.back() != '\\')
        path += '\\';
    return path + name;
}

static LRESULT CALLBACK FocusWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    return DefWindowProcW(hwnd, msg, wp, lp);
}

FocusWindow::FocusWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FocusWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KivTestOwner";
    RegisterClassW(&wc);   // fails harmlessly when already registered
    hwnd = CreateWindowW(L"KivTestOwner", L"kiv test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                         0, 0, 200, 100, nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
}

FocusWindow::~FocusWindow()
{
    if (hwnd)
        DestroyWindow(hwnd);
}

namespace {
struct Search {
    const wchar_t* caption;
    const wchar_t* cls;
    HWND skip;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lp)
{
    Search* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId() || hwnd == s->skip || !IsWindowVisible(hwnd))
        return TRUE;
    if (s->caption && WindowText(hwnd) != s->caption)
        return TRUE;
    if (s->cls) {
        wchar_t name[64];
        GetClassNameW(hwnd, name, 64);
        if (lstrcmpW(name, s->cls) != 0)
            return TRUE;
    }
    s->found = hwnd;
    return FALSE;
}
}

HWND WaitForWindow(const wchar_t* caption, const wchar_t* cls, DWORD timeoutMs, HWND skip)
{
    DWORD start = GetTickCount();
    do {
        Search s = {caption, cls, skip, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&s));
        if (s.found)
            return s.found;
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsWindow(hwnd)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

std::wstring WindowText(HWND hwnd)
{
    wchar_t buf[512];
    int n = GetWindowTextW(hwnd, buf, 512);
    return std::wstring(buf, n > 0 ? n : 0);
}

std::wstring DlgItemText(HWND dlg, int id) { return WindowText(GetDlgItem(dlg, id)); }

void WithDriver(const std::function<void()>& driver, const std::function<void()>& modal)
{
    std::thread t(driver);
    modal();
    t.join();
}
