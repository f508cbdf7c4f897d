// What transfers leave behind in the caller's process: handles and threads
// after many transfers of every kind, the port layer's clean-up when the
// reader thread cannot be created or will not end, and the refusal of a
// block whose text does not fit the transfer's counts. The failures a real
// port or a 64-bit caller would bring are forced through kivport.dll's own
// imports, patched as the application loads it.
#include "config/port_setup_test.h"
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

const int kPort = 7;
const wchar_t kCaption[] = L"通信状況表示";
// Opens as a COM port but never moves a byte: the transfer waits until cancelled.
const char* kSilentDevice = "/dev/null";
const char kSimLine[] = "--baud 115200 --format 8N1 --linger 100 ";

SetupBytes Cable() { return SetupBytes::Make(kPort, 0, 115200, 0, 8, 1, 0, 0); }

HGLOBAL Block(const std::string& text)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    memcpy(GlobalLock(h), text.c_str(), text.size() + 1);
    GlobalUnlock(h);
    return h;
}

struct Usage {
    DWORD handles = 0;
    int threads = 0;
    bool operator==(const Usage& o) const { return handles == o.handles && threads == o.threads; }
};

// The process's open handles. Wine answers GetProcessHandleCount with 0, so
// there they are counted one by one: every value a handle can take (a
// multiple of 4) that the system knows as a handle of this process.
DWORD HandlesOfThisProcess()
{
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n > 0)
        return n;
    DWORD flags;
    for (uintptr_t h = 4; h < 0x10000; h += 4)
        n += GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) ? 1 : 0;
    return n;
}

Usage Now()
{
    Usage u;
    u.handles = HandlesOfThisProcess();
    u.threads = ThreadsOfThisProcess();
    return u;
}

// The counts once the process has settled (a thread that has returned may
// still be counted for a moment); what it settled at when not back to before.
Usage SettledAt(const Usage& before)
{
    Usage now = Now();
    for (DWORD start = GetTickCount(); !(now == before) && GetTickCount() - start < 3000; Sleep(20))
        now = Now();
    return now;
}

enum Kind { SEND, RECEIVE, CANCELLED_SEND, CANCELLED_RECEIVE, NO_PORT, KIND_COUNT };

struct Outcome {
    int16_t code = -1;
    std::string received;   // the returned block's text; "<none>" for no block
    bool dialogShown = false;
};

// Runs modal() while driver() looks for its windows on a second thread. The
// driver reads window captions, which for a window of this thread waits for
// this thread to answer: so once modal() is done this thread keeps answering
// until the driver has finished.
void WithWindowDriver(const std::function<void()>& driver, const std::function<void()>& modal)
{
    std::atomic<bool> driverDone(false);
    std::thread t([&] {
        driver();
        driverDone = true;
    });
    modal();
    while (!driverDone) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    }
    t.join();
}

// One send of the block, or a receive, through the exports. The status dialog, when one
// comes, is cancelled at once when asked and otherwise after 30 s, so that a
// fault cannot hang the test.
Outcome Transfer(bool sends, bool cancel, HGLOBAL block)
{
    Outcome o;
    std::atomic<bool> returned(false);
    WithWindowDriver(
        [&] {
            HWND dlg = nullptr;
            while (!dlg && !returned)
                dlg = WaitForWindow(kCaption, L"#32770", 50);
            o.dialogShown = dlg != nullptr;
            if (!dlg || (!cancel && WaitForWindowGone(dlg, 30000)))
                return;
            SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
            WaitForWindowGone(dlg, 10000);
        },
        [&] {
            SetupBytes s = Cable();
            if (sends) {
                o.code = Port().send(s.b, block);
            } else {
                HGLOBAL h = Port().receive(s.b, &o.code);
                o.received = "<none>";
                if (h) {
                    o.received = static_cast<const char*>(GlobalLock(h));
                    GlobalUnlock(h);
                    GlobalFree(h);
                }
            }
            returned = true;
        });
    return o;
}

// What the transfer calls alone have left behind. Counted across each call
// rather than the whole run: Wine keeps a handle of the test process for
// every Unix program it starts (kivsim, the port mappings). A leak of the DLL
// comes back with every transfer of its kind; the system may keep a handle
// once on first use, so a kind may change the counts in one transfer.
int transfersThatChangedCounts[KIND_COUNT];
// Those transfers, as serial:kind:handles/threads.
std::string leftBy;

// A transfer of one kind against kivsim, a silent port or a missing one.
void RunKind(Kind kind, int serial)
{
    SCOPED_TRACE("transfer " + std::to_string(serial) + " of kind " + std::to_string(kind));
    std::string text = "block " + std::to_string(serial) + std::string(200 + serial, 'x');
    KivSim sim;
    std::string flags = kSimLine;
    if (kind == SEND)
        flags += "--role receive --no-eof-stop --silence 500";
    if (kind == RECEIVE)
        flags += "--role send --pattern text --eof --size " + std::to_string(100 + serial) + " --seed " +
                 std::to_string(serial);
    if (kind == SEND || kind == RECEIVE) {
        ASSERT_TRUE(StartKivsim(sim, kPort, flags));
    } else {
        MapComPort(kPort, kind == NO_PORT ? nullptr : kSilentDevice);
    }

    HGLOBAL block = Block(text);
    Usage before = Now();
    Outcome o = Transfer(kind == SEND || kind == CANCELLED_SEND || kind == NO_PORT,
                         kind == CANCELLED_SEND || kind == CANCELLED_RECEIVE, block);
    Usage after = SettledAt(before);
    GlobalFree(block);
    if (!(after == before)) {
        transfersThatChangedCounts[kind]++;
        leftBy += " " + std::to_string(serial) + ":" + std::to_string(kind) + ":" +
                  std::to_string((long)after.handles - (long)before.handles) + "/" +
                  std::to_string(after.threads - before.threads);
    }
    if (sim.running) {
        ASSERT_TRUE(WaitKivsimRecord(sim, 10000));
    }
    switch (kind) {
    case SEND:
        EXPECT_EQ(0, o.code);
        EXPECT_EQ(text, KivsimReceived(sim)) << KivsimLog(sim);
        break;
    case RECEIVE:
        EXPECT_EQ(0, o.code);
        EXPECT_EQ(KivsimSent(sim), o.received);   // the end byte included
        break;
    case NO_PORT:
        EXPECT_EQ(5, o.code);
        EXPECT_FALSE(o.dialogShown);
        break;
    default: EXPECT_EQ(255, o.code); EXPECT_TRUE(o.dialogShown);
    }
}

class TransferResources : public ::testing::Test {
protected:
    FocusWindow focus;
    void SetUp() override
    {
        ASSERT_NE(nullptr, Port().send);
        WidenComOpens(Port().dll);
        // The measure itself must move, or a leak would pass unseen.
        Usage before = Now();
        HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        EXPECT_EQ(before.handles + 1, Now().handles) << "handles are not counted";
        CloseHandle(probe);
    }
    void TearDown() override { MapComPort(kPort, nullptr); }
};

TEST_F(TransferResources, FiftyTransfersOfEveryKindLeaveNoHandleOrThread)
{
    // One of each first: the system's own first-use handles are not ours.
    for (int k = 0; k < KIND_COUNT; k++)
        RunKind(static_cast<Kind>(k), k);
    std::fill(std::begin(transfersThatChangedCounts), std::end(transfersThatChangedCounts), 0);
    leftBy.clear();
    for (int i = 0; i < 50; i++)
        RunKind(static_cast<Kind>(i % KIND_COUNT), i);
    for (int k = 0; k < KIND_COUNT; k++)
        EXPECT_GE(1, transfersThatChangedCounts[k]) << "kind " << k << " of ten:" << leftBy;
}

// The port layer's clean-up paths, forced through the DLL's imports while
// armed: CreateThread failing, and WaitCommEvent blocking for good, as the
// wait of a port driver that nothing releases, so ClosePort must end the reader.
enum Hook { NO_HOOK, NO_THREAD, STUCK_WAIT };
std::atomic<int> armed, stuckWaits, releasedWaits;
HANDLE neverSet = CreateEventA(nullptr, TRUE, FALSE, nullptr);
typedef HANDLE(WINAPI* CreateThreadFn)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                       LPDWORD);
typedef BOOL(WINAPI* WaitCommEventFn)(HANDLE, LPDWORD, LPOVERLAPPED);
CreateThreadFn realCreateThread;
WaitCommEventFn realWaitCommEvent;

HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                 LPVOID arg, DWORD flags, LPDWORD id)
{
    if (armed != NO_THREAD)
        return realCreateThread(sa, stack, start, arg, flags, id);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

BOOL WINAPI HookedWaitCommEvent(HANDLE port, LPDWORD events, LPOVERLAPPED ov)
{
    if (armed != STUCK_WAIT)
        return realWaitCommEvent(port, events, ov);
    stuckWaits++;
    WaitForSingleObject(neverSet, INFINITE);
    releasedWaits++;
    return FALSE;
}

TEST_F(TransferResources, ReaderThatCannotStartOrWillNotEndLeavesNothingOpen)
{
    static bool patched =
        (realCreateThread = reinterpret_cast<CreateThreadFn>(PatchImport(
             Port().dll, "kernel32.dll", "CreateThread", reinterpret_cast<void*>(HookedCreateThread)))) &&
        (realWaitCommEvent = reinterpret_cast<WaitCommEventFn>(PatchImport(
             Port().dll, "kernel32.dll", "WaitCommEvent", reinterpret_cast<void*>(HookedWaitCommEvent))));
    ASSERT_TRUE(patched) << "the DLL does not start and feed its reader with these calls";
    const struct {
        Hook hook;
        bool sends;
        int16_t code;
        int stuck;
        DWORD minMs;   // ClosePort gives a reader its time before it ends it
    } rows[] = {
        {NO_THREAD, true, 5, 0, 0},
        {NO_THREAD, false, 5, 0, 0},
        {STUCK_WAIT, true, 255, 1, 4500},
        {STUCK_WAIT, false, 255, 1, 4500},
    };
    MapComPort(kPort, kSilentDevice);
    RunKind(CANCELLED_RECEIVE, 0);   // first-use handles, as above
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.hook) + (row.sends ? " send" : " receive"));
        TakeComOpenAccesses();
        stuckWaits = releasedWaits = 0;
        Usage before = Now();
        DWORD start = GetTickCount();
        armed = row.hook;
        HGLOBAL block = Block("abc");
        Outcome o = Transfer(row.sends, true, block);
        GlobalFree(block);
        armed = NO_HOOK;
        DWORD took = GetTickCount() - start;
        EXPECT_EQ(row.code, o.code);
        EXPECT_EQ(row.code == 255, o.dialogShown);
        EXPECT_EQ(1u, TakeComOpenAccesses().size());
        EXPECT_EQ(row.stuck, stuckWaits.load());
        EXPECT_EQ(0, releasedWaits.load()) << "a stuck reader must be ended";
        EXPECT_LE(row.minMs, took);
        EXPECT_GT(row.minMs + 10000, took);
        Usage after = SettledAt(before);
        EXPECT_EQ(before.handles, after.handles);
        EXPECT_EQ(before.threads, after.threads);
    }
    RunKind(CANCELLED_SEND, 1);   // and the next transfer runs as usual
}

#ifdef _WIN64
// A text of 4 GiB or more, which only a 64-bit caller can hand in. The DLL's
// global-memory imports are patched to hand it, for one made-up handle, a
// text whose memory is one small section of 'a' bytes mapped again and again
// and a last section with the rest and its NUL: the whole text is there to
// be measured, without 4 GiB of memory.
const SIZE_T kPiece = SIZE_T(1) << 20;
const uint64_t k4GiB = uint64_t(1) << 32;
HGLOBAL const kHugeBlock = reinterpret_cast<HGLOBAL>(uintptr_t(0x7A7A7A70));

struct HugeText {
    char* base = nullptr;
    SIZE_T size = 0;   // what GlobalSize reports: the text and its NUL
    std::vector<void*> views;
};
HugeText huge;

HANDLE Section(SIZE_T size, SIZE_T letters)
{
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, (DWORD)size, nullptr);
    if (!h)
        return nullptr;
    char* p = static_cast<char*>(MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, size));
    memset(p, 'a', letters);   // the rest stays 0
    UnmapViewOfFile(p);
    return h;
}

void UnmapHugeText()
{
    for (void* v : huge.views)
        UnmapViewOfFile(v);
    huge = HugeText();
}

// Maps a text of length bytes; false when the address space would not hold it.
bool MapHugeText(uint64_t length)
{
    SIZE_T pieces = (SIZE_T)(length / kPiece);
    SIZE_T rest = (SIZE_T)(length % kPiece);
    HANDLE full = Section(kPiece, kPiece);
    HANDLE tail = Section(kPiece, rest);
    // Free address space for the views: reserved to find it, then let go.
    huge.base = static_cast<char*>(VirtualAlloc(nullptr, (pieces + 1) * kPiece, MEM_RESERVE, PAGE_NOACCESS));
    VirtualFree(huge.base, 0, MEM_RELEASE);
    bool mapped = huge.base != nullptr;
    for (SIZE_T i = 0; i <= pieces && mapped; i++) {
        huge.views.push_back(
            MapViewOfFileEx(i < pieces ? full : tail, FILE_MAP_READ, 0, 0, kPiece, huge.base + i * kPiece));
        mapped = huge.views.back() != nullptr;
    }
    CloseHandle(full);
    CloseHandle(tail);
    huge.size = (SIZE_T)length + 1;
    return mapped;
}

LPVOID WINAPI HugeLock(HGLOBAL h) { return h == kHugeBlock ? huge.base : GlobalLock(h); }
BOOL WINAPI HugeUnlock(HGLOBAL h) { return h == kHugeBlock ? FALSE : GlobalUnlock(h); }
SIZE_T WINAPI HugeSize(HGLOBAL h) { return h == kHugeBlock ? huge.size : GlobalSize(h); }

TEST_F(TransferResources, TextOfFourGibibytesIsRefusedBeforeThePortOpens)
{
    static bool patched =
        PatchImport(Port().dll, "kernel32.dll", "GlobalLock", reinterpret_cast<void*>(HugeLock)) &&
        PatchImport(Port().dll, "kernel32.dll", "GlobalUnlock", reinterpret_cast<void*>(HugeUnlock)) &&
        PatchImport(Port().dll, "kernel32.dll", "GlobalSize", reinterpret_cast<void*>(HugeSize));
    ASSERT_TRUE(patched) << "the DLL does not reach blocks through GlobalLock and GlobalSize";
    MapComPort(kPort, kSilentDevice);
    const struct {
        uint64_t length;
        int16_t code;   // 255: sent until cancelled
    } rows[] = {{k4GiB + 10, 4}, {k4GiB, 4}, {k4GiB - 1, 255}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.length);
        bool mapped = MapHugeText(row.length);
        TakeComOpenAccesses();
        Outcome o = mapped ? Transfer(true, true, kHugeBlock) : Outcome();
        UnmapHugeText();
        ASSERT_TRUE(mapped);
        EXPECT_EQ(row.code, o.code);
        EXPECT_EQ(row.code == 255, o.dialogShown);
        EXPECT_EQ(row.code == 255 ? 1u : 0u, TakeComOpenAccesses().size());
    }
}
#endif

}   // namespace
