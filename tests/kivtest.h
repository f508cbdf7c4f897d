// Support for the Windows tests: the DLLs loaded as the desktop application
// loads them, the project's Wine prefix, COM port mappings and windows driven
// from a second thread as a person would drive them.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// LoadLibrary by plain name, as the desktop application does.
HMODULE LoadKivLibrary(const char* name);

template <class F>
F GetExport(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Runs a Unix command line through /bin/sh (Wine starts Unix programs) and
// waits for it; true when it exited 0.
bool RunUnixCommand(const std::string& command);
// A Unix path in /tmp for a file or folder of this process, "/tmp/what-TAG":
// Wine numbers the processes of each prefix from the same few values, so
// TAG names the prefix as well as the process, and test runs in other
// prefixes beside this one never share it.
std::string UnixTempPath(const std::string& what);

// Points COMn at a Unix device, or at something that cannot be opened when
// device is null, through the prefix's dosdevices links (picked up at once).
void MapComPort(int n, const char* device);

// The simulated handheld, kivsim, on a pseudo-terminal mapped to COMn. It is
// started in the background through the shell with its standard streams
// detached, keeps its files in a Unix folder of its own under /tmp, and ends
// by its scenario, by StopKivsim or by its time-out (60 s unless the flags
// say --timeout). The flags are kivsim's (kivsim --help).
struct KivSim {
    int port = 0;
    std::string dir;   // Unix path of its folder
    int pts = -1;      // its pseudo-terminal's number, as the preload log names it
    bool running = false;
    ~KivSim();
};
// False when it did not come up within 10 s.
bool StartKivsim(KivSim& sim, int port, const std::string& flags);
// Waits for its record, which it writes as it ends; false on time-out.
bool WaitKivsimRecord(KivSim& sim, DWORD timeoutMs);
// Asks it to end now and waits for the record.
bool StopKivsim(KivSim& sim, DWORD timeoutMs = 5000);
// Its record: the bytes its role received and sent, and its event log
// ("<ms> <event> ..." lines on CLOCK_MONOTONIC, the preload log's clock).
std::string KivsimReceived(const KivSim& sim);
std::string KivsimSent(const KivSim& sim);
std::string KivsimLog(const KivSim& sim);
// A file of its folder as a Windows path (through the Z: drive), for data to send.
std::string KivsimFile(const KivSim& sim, const char* name);

// The pseudo-terminal preload library's log (KIV_PTY_LOG): the current size
// as a mark, and the lines written after a mark about one pseudo-terminal
// ("<ms> pts=N termios|modem|flush key=value ...").
size_t PtyLogMark();
std::vector<std::string> PtyLogLines(size_t mark, int pts);
// The value of key=value in such a line, "" when absent; and its time.
std::string LogField(const std::string& line, const char* key);
double LogTime(const std::string& line);

// A path in the Windows directory, where the private-profile services keep INI files.
std::string WindowsDirectoryFile(const char* name);

// A fresh folder for one test's files, removed with everything in it.
struct TempFolder {
    std::string path;
    TempFolder();
    ~TempFolder();
    std::string File(const char* name) const { return path + "\\" + name; }
};

// A whole file's bytes ("" when it cannot be read), and a file written whole.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// A visible top-level window that holds the keyboard focus of this thread,
// so the driver's dialogs find an owner as under the desktop application.
// WithDriver gives it the focus back before each call, as a user clicking the
// application's button would.
struct FocusWindow {
    HWND hwnd = nullptr;
    FocusWindow();
    ~FocusWindow();
};

// Gives this thread's FocusWindow the focus again when it lost it; what had
// taken it ("" when nothing had), for the test's log.
std::string RegainTestFocus();
// Where this thread's focus and the foreground are, for a test's message:
// "focus W (owner O), foreground F of class \"C\" in process P".
std::string FocusState();

// Waits up to timeoutMs for a visible top-level window of this process whose
// caption is caption (any caption when null) and whose class is cls (any when
// null); null when none appears. Windows in skip are ignored.
HWND WaitForWindow(const wchar_t* caption, const wchar_t* cls, DWORD timeoutMs, HWND skip = nullptr);
// Waits until the window is gone; false on time-out.
bool WaitForWindowGone(HWND hwnd, DWORD timeoutMs);

// A key pressed while target has the focus, posted rather than synthesised
// so that no other program on the display can catch it.
void PressKey(HWND target, BYTE key);

// Threads and open handles of this process now, to show that a call left none behind.
int ThreadsOfThisProcess();
int HandlesOfThisProcess();

// One handle of this process: its value, object type and name, and for a
// thread or an event its state.
struct HandleEntry {
    uintptr_t value;
    std::wstring type, name;
    std::string detail;
};
std::vector<HandleEntry> HandleList();
std::vector<DWORD> ThreadIdsOfThisProcess();
struct ProcessObjects {
    std::vector<HandleEntry> handles;
    std::vector<DWORD> threads;
};
inline ProcessObjects ProcessObjectsNow() { return {HandleList(), ThreadIdsOfThisProcess()}; }
// Notes where module's CreateEventA and CreateSemaphoreA calls come from, so
// that a handle left behind names its maker.
void NoteEventMakers(HMODULE module);
// The handles and threads in one and not the other, a line each ("" for none).
std::string HandlesAndThreadsMoved(const ProcessObjects& before, const ProcessObjects& after);

// A movable global block holding text and its NUL, as callers hand texts in.
HGLOBAL TextBlock(const std::string& text);

std::wstring WindowText(HWND hwnd);
std::wstring DlgItemText(HWND dlg, int id);

// Runs modal() on this thread while driver() runs on a second thread; the
// driver gets to find and press the windows the modal call shows. Once modal()
// is done this thread keeps answering messages until the driver has finished,
// since a driver reading a caption of this thread's windows waits for it.
void WithDriver(const std::function<void()>& driver, const std::function<void()>& modal);

// Points module's import of dll!function at replacement; the previous
// address, or null when the module does not import it by name.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// CreateFileA calls of module, patched in its imports: each open of a COM
// port records its name and the access asked for, and a write-only one is widened to read
// and write, since Wine refuses every comm call on a write-only handle.
void WidenComOpens(HMODULE module);
// The access asked for at each COM port open since the last call, or the
// name handed to CreateFileA, or what each open gave (0 when the port
// opened, else its error); taking one forgets them all.
std::vector<DWORD> TakeComOpenAccesses();
std::vector<std::string> TakeComOpenNames();
std::vector<DWORD> TakeComOpenErrors();
// Makes the patched COM port opens fail with error (0: open again), as a
// port that another program holds fails on Windows (ERROR_ACCESS_DENIED);
// Wine lets a second program open it.
void FailComOpens(DWORD error);
