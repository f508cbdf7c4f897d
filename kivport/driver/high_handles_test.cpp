// The 64-bit DLL with handles, timer ids and block memory above 4 GiB, as a
// 64-bit application on Windows hands them over and gets them back. Wine
// keeps moveable handles below 4 GiB, so the DLL's global-memory and timer
// imports are patched to move every handle and id it gets above 4 GiB (and
// back on the way in); a value that reaches one of those calls without that
// move was cut to 32 bits on its way through the DLL. The test process's
// free address space below 4 GiB is reserved, so block memory lies above.
#include "config/port_setup_test.h"
#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

namespace {

const uintptr_t k4GiB = uintptr_t(1) << 32;
// Moves a system value above 4 GiB; applied again, moves it back.
const uintptr_t kHigh = uintptr_t(0x5A5A) << 32;
const int kPort = 5;

// Values moved above 4 GiB that are still in use, and those that came back
// without the move.
std::mutex lock;
std::set<uintptr_t> raised;
std::vector<uintptr_t> cut;

template <class T>
T Raise(T value)
{
    if (!value)
        return value;
    uintptr_t v = reinterpret_cast<uintptr_t>(value) ^ kHigh;
    std::lock_guard<std::mutex> hold(lock);
    raised.insert(v);
    return reinterpret_cast<T>(v);
}

// The system's value of one the DLL hands back; a value never raised is
// passed on as it is, and noted.
template <class T>
T Lower(T value, bool forget = false)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(value);
    std::lock_guard<std::mutex> hold(lock);
    if (!raised.count(v)) {
        if (v)
            cut.push_back(v);
        return value;
    }
    if (forget)
        raised.erase(v);
    return reinterpret_cast<T>(v ^ kHigh);
}

HGLOBAL WINAPI HighAlloc(UINT flags, SIZE_T size) { return Raise(GlobalAlloc(flags, size)); }
HGLOBAL WINAPI HighReAlloc(HGLOBAL h, SIZE_T size, UINT flags)
{
    HGLOBAL real = Lower(h);
    HGLOBAL grown = GlobalReAlloc(real, size, flags);
    if (!grown)
        return nullptr;
    Lower(h, true);
    return Raise(grown);
}
LPVOID WINAPI HighLock(HGLOBAL h) { return GlobalLock(Lower(h)); }
BOOL WINAPI HighUnlock(HGLOBAL h) { return GlobalUnlock(Lower(h)); }
SIZE_T WINAPI HighSize(HGLOBAL h) { return GlobalSize(Lower(h)); }
HGLOBAL WINAPI HighFree(HGLOBAL h)
{
    HGLOBAL real = Lower(h, true);
    return GlobalFree(real) ? h : nullptr;
}
UINT_PTR WINAPI HighSetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC proc)
{
    return Raise(SetTimer(hwnd, id, ms, proc));
}
BOOL WINAPI HighKillTimer(HWND hwnd, UINT_PTR id) { return KillTimer(hwnd, Lower(id, true)); }

void PatchKivport()
{
    static const struct {
        const char* dll;
        const char* name;
        void* replacement;
    } patches[] = {
        {"kernel32.dll", "GlobalAlloc", reinterpret_cast<void*>(HighAlloc)},
        {"kernel32.dll", "GlobalReAlloc", reinterpret_cast<void*>(HighReAlloc)},
        {"kernel32.dll", "GlobalLock", reinterpret_cast<void*>(HighLock)},
        {"kernel32.dll", "GlobalUnlock", reinterpret_cast<void*>(HighUnlock)},
        {"kernel32.dll", "GlobalSize", reinterpret_cast<void*>(HighSize)},
        {"kernel32.dll", "GlobalFree", reinterpret_cast<void*>(HighFree)},
        {"user32.dll", "SetTimer", reinterpret_cast<void*>(HighSetTimer)},
        {"user32.dll", "KillTimer", reinterpret_cast<void*>(HighKillTimer)},
    };
    for (const auto& p : patches)
        EXPECT_NE(nullptr, PatchImport(Port().dll, p.dll, p.name, p.replacement)) << p.name;
}

// Reserves every free region below 4 GiB and uses up what the process heap
// has free there, so that new blocks lie above.
void ReserveLowMemory()
{
    MEMORY_BASIC_INFORMATION mbi;
    for (uintptr_t p = 0x10000; p < k4GiB && VirtualQuery(reinterpret_cast<void*>(p), &mbi, sizeof mbi);) {
        uintptr_t next = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
        uintptr_t start = (reinterpret_cast<uintptr_t>(mbi.BaseAddress) + 0xFFFF) & ~uintptr_t(0xFFFF);
        uintptr_t end = next < k4GiB ? next : k4GiB;
        if (mbi.State == MEM_FREE && end > start)
            VirtualAlloc(reinterpret_cast<void*>(start), end - start, MEM_RESERVE, PAGE_NOACCESS);
        p = next;
    }
    for (SIZE_T size : {65536, 4096, 256, 16}) {
        for (;;) {
            void* p = HeapAlloc(GetProcessHeap(), 0, size);
            if (!p)
                break;
            if (reinterpret_cast<uintptr_t>(p) >= k4GiB) {
                HeapFree(GetProcessHeap(), 0, p);
                break;
            }
        }
    }
}

struct Held {
    HGLOBAL block;
    std::string bytes;
    uintptr_t address;   // where its bytes lie
};

// What a block the DLL handed back holds; freed when free is set.
Held Hold(HGLOBAL h, bool free)
{
    Held held = {h, "", 0};
    HGLOBAL real = Lower(h, free);
    const char* p = static_cast<const char*>(GlobalLock(real));
    if (p) {
        held.address = reinterpret_cast<uintptr_t>(p);
        held.bytes.assign(p, strnlen(p, GlobalSize(real)));
        GlobalUnlock(real);
    }
    if (free)
        GlobalFree(real);
    return held;
}

typedef HGLOBAL(WINAPI* LoadFileFn)(const char*, int16_t*);
typedef int16_t(WINAPI* SaveFileFn)(const char*, HGLOBAL);

class HighHandles : public ::testing::Test {
protected:
    FocusWindow owner;
    TempFolder dir;
    LoadFileFn loadFile = GetExport<LoadFileFn>(Port().dll, "_KivLoadFile@8");
    SaveFileFn saveFile = GetExport<SaveFileFn>(Port().dll, "_KivSaveFile@8");
    SetupBytes cable = SetupBytes::Make(kPort, 0, 9600, 0, 8, 1, 0, 0);

    void SetUp() override
    {
        ASSERT_NE(nullptr, loadFile);
        ASSERT_NE(nullptr, saveFile);
        static bool ready = [] {
            ReserveLowMemory();
            PatchKivport();
            WidenComOpens(Port().dll);
            return true;
        }();
        ASSERT_TRUE(ready);
        cut.clear();
    }
    void TearDown() override
    {
        EXPECT_TRUE(cut.empty()) << cut.size() << " values came back cut to 32 bits, first " << std::hex
                                 << (cut.empty() ? 0 : cut[0]);
        std::lock_guard<std::mutex> hold(lock);
        EXPECT_TRUE(raised.empty()) << raised.size() << " handles or timers left";
        raised.clear();
    }
    // Runs a transfer; a status dialog still up after 20 s is cancelled so
    // that a failing test cannot hang.
    void Transfer(const std::function<void()>& call)
    {
        std::atomic<bool> done(false);
        WithDriver(
            [&] {
                for (DWORD start = GetTickCount(); !done && GetTickCount() - start < 20000;)
                    Sleep(20);
                if (done)
                    return;
                ADD_FAILURE() << "the transfer did not end";
                HWND dlg = WaitForWindow(L"通信状況表示", L"#32770", 1000);
                SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
            },
            [&] {
                call();
                done = true;
            });
    }
};

TEST_F(HighHandles, LoadedBlockIsSentAndSavedWhole)
{
    std::string text;
    for (int i = 0; text.size() < 1500; i++)
        text += "row " + std::to_string(i) + ",\"name\",123\r\n";
    WriteFileBytes(dir.File("out.kcsv"), text);
    int16_t rc = 0;
    HGLOBAL block = loadFile(dir.File("out.kcsv").c_str(), &rc);
    ASSERT_NE(nullptr, block) << rc;
    EXPECT_GE(reinterpret_cast<uintptr_t>(block), k4GiB);
    EXPECT_GE(Hold(block, false).address, k4GiB) << "block memory below 4 GiB: the test proves less";

    KivSim sim;
    ASSERT_TRUE(StartKivsim(sim, kPort, "--role receive --baud 0 --count " + std::to_string(text.size())));
    int16_t sent = -1;
    Transfer([&] { sent = Port().send(cable.b, block); });
    EXPECT_EQ(0, sent);
    ASSERT_TRUE(WaitKivsimRecord(sim, 5000));
    EXPECT_EQ(text, KivsimReceived(sim));

    EXPECT_EQ(0, saveFile(dir.File("copy.kcsv").c_str(), block));
    EXPECT_EQ(text, ReadFileBytes(dir.File("copy.kcsv")));
    EXPECT_EQ(text, Hold(block, true).bytes) << "the caller's block changed";
}

TEST_F(HighHandles, ReceivedBlockComesBackWholeAndSaves)
{
    KivSim sim;
    ASSERT_TRUE(StartKivsim(sim, kPort, "--role send --baud 0 --size 3000 --eof --delay 300"));
    int16_t rc = -1;
    HGLOBAL block = nullptr;
    Transfer([&] { block = Port().receive(cable.b, &rc); });
    EXPECT_EQ(0, rc);
    ASSERT_NE(nullptr, block);
    EXPECT_GE(reinterpret_cast<uintptr_t>(block), k4GiB);
    ASSERT_TRUE(WaitKivsimRecord(sim, 5000));
    std::string sent = KivsimSent(sim);

    EXPECT_EQ(0, saveFile(dir.File("in.kcsv").c_str(), block));
    EXPECT_EQ(sent, ReadFileBytes(dir.File("in.kcsv")));
    Held held = Hold(block, true);
    EXPECT_GE(held.address, k4GiB);
    EXPECT_EQ(sent, held.bytes);
    EXPECT_EQ(3001u, sent.size());
}

}
