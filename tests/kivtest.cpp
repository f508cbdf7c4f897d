#include "kivtest.h"
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

HMODULE LoadKivLibrary(const char* name) { return LoadLibraryA(name); }

// A Windows path to a Unix file, through Wine's Z: drive.
static std::string UnixToWindowsPath(const std::string& unix)
{
    std::string p = "Z:" + unix;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

std::string UnixTempPath(const std::string& what)
{
    char prefix[1024];
    DWORD len = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    uint32_t hash = 2166136261u;   // FNV-1a of the prefix's path
    for (DWORD i = 0; i < len && i < sizeof prefix; i++)
        hash = (hash ^ (uint8_t)prefix[i]) * 16777619u;
    char tag[32];
    snprintf(tag, sizeof tag, "%08x-%lu", hash, GetCurrentProcessId());
    return "/tmp/" + what + "-" + tag;
}

bool RunUnixCommand(const std::string& command)
{
    // Wine cannot wait for a Unix process, so the command leaves a marker file
    // holding its exit status, and the marker is what we wait for.
    char tmp[MAX_PATH];
    static int serial;
    std::string marker = UnixTempPath("kivtest") + "-" + std::to_string(++serial) + ".done";
    std::string markerWin = UnixToWindowsPath(marker);
    DeleteFileA(markerWin.c_str());
    std::string line = "sh -c \"" + command + "; echo $? > " + marker + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    if (!CreateProcessA("Z:\\bin\\sh", buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    // For a Unix program Wine hands back no process handle and leaves junk
    // in the thread handle; closing it closed some other handle of this
    // process (seen: standard output).
    if (pi.hProcess) {
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(5)) {
        HANDLE h = CreateFileA(markerWin.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        DWORD n = 0;
        ReadFile(h, tmp, sizeof tmp - 1, &n, nullptr);
        CloseHandle(h);
        if (n == 0 || tmp[n - 1] != '\n')
            continue;   // still being written
        DeleteFileA(markerWin.c_str());
        return tmp[0] == '0';
    }
    return false;
}

void MapComPort(int n, const char* device)
{
    char prefix[1024];
    DWORD len = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (len == 0 || len >= sizeof prefix)
        return;
    std::string link = std::string(prefix) + "/dosdevices/com" + std::to_string(n);
    // Wine falls back to /dev/ttyS<n-1> for a missing or dangling link, so a
    // port that must not open points at a directory, which no device open accepts.
    std::string dead = std::string(prefix) + "/no-device";
    std::string target = device ? device : dead;
    RunUnixCommand("mkdir -p '" + dead + "' && ln -sfn '" + target + "' '" + link + "'");
}

// kivsim lives beside the test programs in the build tree's bin folder (the
// Windows build makes it with the host compiler); KIVSIM names another.
static std::string KivsimProgram()
{
    char buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KIVSIM", buf, sizeof buf);
    if (n > 0 && n < sizeof buf)
        return buf;
    n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string exe(buf, n < sizeof buf ? n : 0);
    if (exe.size() > 2 && (exe[0] == 'Z' || exe[0] == 'z') && exe[1] == ':')
        exe = exe.substr(2);
    for (char& c : exe)
        if (c == '\\')
            c = '/';
    return exe.substr(0, exe.rfind('/') + 1) + "kivsim";
}

static bool WaitForFile(const std::string& windowsPath, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(5))
        if (GetFileAttributesA(windowsPath.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
    return false;
}

bool StartKivsim(KivSim& sim, int port, const std::string& flags)
{
    char prefix[1024];
    DWORD len = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (len == 0 || len >= sizeof prefix)
        return false;
    static int serial;
    sim.port = port;
    sim.dir = UnixTempPath("kivsim") + "-" + std::to_string(++serial);
    std::string link = std::string(prefix) + "/dosdevices/com" + std::to_string(port);
    std::string d = "'" + sim.dir + "'";
    // "exited" appears once kivsim has gone, its link removed with it.
    std::string command = "rm -rf " + d + " && mkdir -p " + d + " && (('" + KivsimProgram() + "' --link '" +
                          link + "' --ready " + d + "/ready --record " + d + "/rec --stop " + d +
                          "/stop --timeout 60000 " + flags + " </dev/null >" + d +
                          "/kivsim.out 2>&1; echo $? >" + d + "/exited) </dev/null >/dev/null 2>&1 &)";
    if (!RunUnixCommand(command) || !WaitForFile(KivsimFile(sim, "ready"), 10000))
        return false;
    sim.running = true;
    std::string ready = ReadFileBytes(KivsimFile(sim, "ready"));
    size_t at = ready.find("/dev/pts/");
    sim.pts = at == std::string::npos ? -1 : atoi(ready.c_str() + at + 9);
    return true;
}

bool WaitKivsimRecord(KivSim& sim, DWORD timeoutMs)
{
    if (!WaitForFile(KivsimFile(sim, "rec.log"), timeoutMs))
        return false;
    sim.running = false;
    return true;
}

bool StopKivsim(KivSim& sim, DWORD timeoutMs)
{
    WriteFileBytes(KivsimFile(sim, "stop"), "stop");
    return WaitKivsimRecord(sim, timeoutMs);
}

// kivsim writes its record before it lets go of the line, and removes the
// port's link only after checking it is still its own, which is not atomic
// with the removal. A kivsim or port mapping made on the same link before
// this one has exited can lose its link there: the next transfer's open then
// fails with "file not found" and the transfer gives 5, with no dialog. So
// the next test starts only once this kivsim has gone.
KivSim::~KivSim()
{
    if (dir.empty())
        return;
    if (running)
        StopKivsim(*this);
    else if (!FileExists(KivsimFile(*this, "exited")))   // one that never came up too
        WriteFileBytes(KivsimFile(*this, "stop"), "stop");
    if (!WaitForFile(KivsimFile(*this, "exited"), 30000))
        ADD_FAILURE() << "kivsim in " << dir << " did not exit";
    RunUnixCommand("rm -rf '" + dir + "'");
}

std::string KivsimFile(const KivSim& sim, const char* name)
{
    return UnixToWindowsPath(sim.dir + "/" + name);
}

std::string KivsimReceived(const KivSim& sim) { return ReadFileBytes(KivsimFile(sim, "rec.bin")); }
std::string KivsimSent(const KivSim& sim) { return ReadFileBytes(KivsimFile(sim, "rec.sent")); }
std::string KivsimLog(const KivSim& sim) { return ReadFileBytes(KivsimFile(sim, "rec.log")); }

static std::string PtyLogPath()
{
    char buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KIV_PTY_LOG", buf, sizeof buf);
    return n > 0 && n < sizeof buf ? UnixToWindowsPath(buf) : std::string();
}

size_t PtyLogMark()
{
    std::string path = PtyLogPath();
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeLow;
}

std::vector<std::string> PtyLogLines(size_t mark, int pts)
{
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(PtyLogPath());
    size_t at = mark < text.size() ? mark : text.size();
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break;
        std::string line = text.substr(at, end - at);
        if (LogField(line, "pts") == std::to_string(pts))
            lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

std::string LogField(const std::string& line, const char* key)
{
    std::string k = std::string(" ") + key + "=";
    size_t at = line.find(k);
    if (at == std::string::npos)
        return "";
    at += k.size();
    return line.substr(at, line.find(' ', at) - at);
}

double LogTime(const std::string& line) { return atof(line.c_str()); }

std::string WindowsDirectoryFile(const char* name)
{
    char dir[MAX_PATH];
    UINT len = GetWindowsDirectoryA(dir, MAX_PATH);
    std::string path(dir, len);
    if (path.empty() || path.back() != '\\')
        path += '\\';
    return path + name;
}

TempFolder::TempFolder()
{
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    static int serial;
    path = std::string(tmp) + "kivdesk-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial);
    CreateDirectoryA(path.c_str(), nullptr);
}

static void RemoveTree(const std::string& dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string full = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

TempFolder::~TempFolder() { RemoveTree(path); }

std::string ReadFileBytes(const std::string& path)
{
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    fclose(f);
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static LRESULT CALLBACK FocusWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// The FocusWindow of this thread, if it has one.
static thread_local HWND testFocus;

FocusWindow::FocusWindow()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FocusWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KivTestOwner";
    RegisterClassW(&wc);   // fails harmlessly when already registered
    hwnd = CreateWindowW(L"KivTestOwner", L"kiv test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                         nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
    testFocus = hwnd;
}

FocusWindow::~FocusWindow()
{
    if (testFocus == hwnd)
        testFocus = nullptr;
    if (hwnd)
        DestroyWindow(hwnd);
}

// Wine's X driver, with no window manager on the test display, takes an X
// focus-out that arrives after a short-lived dialog has gone as the focus
// leaving Wine, and makes the desktop window the foreground: the owner then
// has no focus and every later transfer fails with 5 (seen after a receive
// whose dialog lived a few milliseconds). A user would click the application
// again; the test's owner takes the focus back before each call.
std::string FocusState()
{
    HWND fg = GetForegroundWindow();
    char cls[64] = "";
    DWORD pid = 0;
    if (fg) {
        GetClassNameA(fg, cls, sizeof cls);
        GetWindowThreadProcessId(fg, &pid);
    }
    char what[200];
    snprintf(what, sizeof what,
             "focus %p (owner %p), foreground %p of class \"%s\" in process %lu (this one: %lu)",
             (void*)GetFocus(), (void*)testFocus, (void*)fg, cls, pid, GetCurrentProcessId());
    return what;
}

std::string RegainTestFocus()
{
    HWND owner = testFocus;
    if (!owner || GetFocus() == owner)
        return "";
    std::string was = FocusState();
    SetForegroundWindow(owner);
    SetFocus(owner);
    return "the focus had moved: " + was + (GetFocus() == owner ? "" : "; it could not be taken back");
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

void PressKey(HWND target, BYTE key)
{
    UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, 1 | scan << 16);
    PostMessageW(target, WM_KEYUP, key, 1 | scan << 16 | 0xC0000000u);
}

int ThreadsOfThisProcess()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    int n = 0;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            n++;
    CloseHandle(snap);
    return n;
}

// Wine answers GetProcessHandleCount with 0, so there the handles are counted
// one by one: every value a handle can take (a multiple of 4) that the system
// knows as a handle of this process.
int HandlesOfThisProcess()
{
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n > 0)
        return (int)n;
    DWORD flags;
    for (uintptr_t h = 4; h < 0x10000; h += 4)
        n += GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) ? 1 : 0;
    return (int)n;
}

HGLOBAL TextBlock(const std::string& text)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    memcpy(GlobalLock(h), text.c_str(), text.size() + 1);
    GlobalUnlock(h);
    return h;
}

std::wstring WindowText(HWND hwnd)
{
    wchar_t buf[512];
    int n = GetWindowTextW(hwnd, buf, 512);
    return std::wstring(buf, n > 0 ? n : 0);
}

std::wstring DlgItemText(HWND dlg, int id) { return WindowText(GetDlgItem(dlg, id)); }

namespace {
struct DriverRun {
    const std::function<void()>* driver;
    std::atomic<bool> done;
};

DWORD WINAPI RunDriver(LPVOID p)
{
    DriverRun* run = static_cast<DriverRun*>(p);
    (*run->driver)();
    run->done = true;
    return 0;
}
}

// The driver runs on a thread of the system's own making, not a std::thread:
// the threads library keeps a lock of its own over every thread it starts and
// joins, and makes that lock's event on the first join that meets the thread
// still ending. That handle then stays for the process's life, and a count of
// handles across a transfer took it for a leak (seen under load, on
// whichever transfer met it first).
void WithDriver(const std::function<void()>& driver, const std::function<void()>& modal)
{
    std::string lost = RegainTestFocus();
    if (!lost.empty())
        fprintf(stderr, "kivtest: before a driver call %s\n", lost.c_str());
    DriverRun run = {&driver, {false}};
    HANDLE t = CreateThread(nullptr, 0, RunDriver, &run, 0, nullptr);
    if (!t) {
        ADD_FAILURE() << "the driver thread cannot start: " << GetLastError();
        return;
    }
    modal();
    for (MSG msg; !run.done; Sleep(5)) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
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

namespace {
std::mutex comOpenLock;
std::vector<DWORD> comOpenAccesses;
std::vector<std::string> comOpenNames;
std::vector<DWORD> comOpenErrors;
DWORD comOpenFailure;

// "COMn", bare or through the device namespace ("\\.\COMn").
bool IsComName(const char* name)
{
    if (!name)
        return false;
    if (strncmp(name, "\\\\.\\", 4) == 0)
        name += 4;
    return _strnicmp(name, "COM", 3) == 0;
}

HANDLE WINAPI WideningCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                  DWORD disposition, DWORD flags, HANDLE tmpl)
{
    if (IsComName(name)) {
        std::lock_guard<std::mutex> lock(comOpenLock);
        comOpenAccesses.push_back(access);
        comOpenNames.push_back(name);
        if ((access & (GENERIC_READ | GENERIC_WRITE)) == GENERIC_WRITE)
            access |= GENERIC_READ;
        if (comOpenFailure) {
            comOpenErrors.push_back(comOpenFailure);
            SetLastError(comOpenFailure);
            return INVALID_HANDLE_VALUE;
        }
    }
    HANDLE h = CreateFileA(name, access, share, sa, disposition, flags, tmpl);
    if (IsComName(name)) {
        DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        {
            std::lock_guard<std::mutex> lock(comOpenLock);
            comOpenErrors.push_back(error);
        }
        SetLastError(error);
    }
    return h;
}
}

void WidenComOpens(HMODULE module)
{
    static std::vector<HMODULE> patched;
    for (HMODULE m : patched)
        if (m == module)
            return;
    patched.push_back(module);
    void* was = PatchImport(module, "kernel32.dll", "CreateFileA",
                            reinterpret_cast<void*>(WideningCreateFileA));
    ASSERT_NE(nullptr, was) << "the module does not open files with CreateFileA";
}

std::vector<DWORD> TakeComOpenAccesses()
{
    std::lock_guard<std::mutex> lock(comOpenLock);
    std::vector<DWORD> taken;
    taken.swap(comOpenAccesses);
    comOpenNames.clear();
    comOpenErrors.clear();
    return taken;
}

void FailComOpens(DWORD error)
{
    std::lock_guard<std::mutex> lock(comOpenLock);
    comOpenFailure = error;
}

std::vector<std::string> TakeComOpenNames()
{
    std::lock_guard<std::mutex> lock(comOpenLock);
    std::vector<std::string> taken;
    taken.swap(comOpenNames);
    comOpenAccesses.clear();
    comOpenErrors.clear();
    return taken;
}

std::vector<DWORD> TakeComOpenErrors()
{
    std::lock_guard<std::mutex> lock(comOpenLock);
    std::vector<DWORD> taken;
    taken.swap(comOpenErrors);
    comOpenAccesses.clear();
    comOpenNames.clear();
    return taken;
}
