// KivSendData and KivReceiveData as the desktop application calls them: what
// they refuse before any dialog, the status dialog they show, its progress
// pane, the ways a person stops a transfer, and what is left afterwards.
#include "config/port_setup_test.h"
#include "paint_recorder.h"
#include <algorithm>
#include <atomic>

namespace {

const wchar_t kCaption[] = L"通信状況表示";
const int kPane = 1017;
const int kPort = 4;   // COM4: the tests map it as each one needs

// A device that opens as a COM port but never moves a byte: the transfer
// waits until it is stopped.
const char* kSilentDevice = "/dev/null";

std::atomic<int> dialogsShown;
typedef INT_PTR(WINAPI* DialogBoxParamWFn)(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM);
DialogBoxParamWFn realDialogBoxParamW;

INT_PTR WINAPI CountingDialogBoxParamW(HINSTANCE inst, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM lp)
{
    dialogsShown++;
    return realDialogBoxParamW(inst, name, owner, proc, lp);
}

SetupBytes LinkSetup(uint16_t mode) { return SetupBytes::Make(kPort, mode, 9600, 0, 8, 1, 0, 0); }

struct Outcome {
    int16_t code = -1;
    HGLOBAL block = nullptr;
    int threadsLeft = 0;   // threads more than before the call
    DWORD returnTick = 0;
};

// One transfer: direction 1 sends text, 0 receives. drive(dlg) runs on a
// second thread once the status dialog is up; a dialog still up after it is
// cancelled, so that a failing test cannot hang.
Outcome Transfer(int direction, const SetupBytes& setup, const std::string& text,
                 const std::function<void(HWND)>& drive)
{
    Outcome o;
    int before = ThreadsOfThisProcess();
    WithDriver(
        [&] {
            HWND dlg = WaitForWindow(kCaption, L"#32770", 10000);
            EXPECT_NE(nullptr, dlg) << "no status dialog";
            if (!dlg)
                return;
            drive(dlg);
            if (!WaitForWindowGone(dlg, 5000)) {
                ADD_FAILURE() << "the dialog stayed";
                SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
            }
        },
        [&] {
            if (direction == 1) {
                HGLOBAL h = TextBlock(text);
                o.code = Port().send(setup.b, h);
                GlobalFree(h);
            } else {
                o.block = Port().receive(setup.b, &o.code);
            }
            o.returnTick = GetTickCount();
        });
    o.threadsLeft = ThreadsOfThisProcess() - before;
    return o;
}

void Cancel(HWND dlg) { SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0); }

// Has the pane repainted by its own thread and hands back what was drawn.
Paint PaneShows(HWND dlg)
{
    PaintRecorder::Clear();
    InvalidateRect(GetDlgItem(dlg, kPane), nullptr, FALSE);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(10)) {
        std::vector<Paint> done = PaintRecorder::Paints();
        if (!done.empty())
            return done.back();
    }
    ADD_FAILURE() << "the pane was not repainted";
    return Paint();
}

std::wstring TextOf(const Paint& p) { return p.texts.empty() ? L"<none>" : p.texts[0].text; }

RECT DialogRect(HWND dlg, int left, int top, int width, int height)
{
    RECT r = {left, top, left + width, top + height};
    MapDialogRect(dlg, &r);
    return r;
}

RECT ChildRect(HWND dlg, HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[64] = L"";
    GetClassNameW(hwnd, name, 64);
    return name;
}

class TransferDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, Port().send);
        ASSERT_NE(nullptr, Port().receive);
        WidenComOpens(Port().dll);
        PaintRecorder::Install(Port().dll);
        static bool counting = [] {
            realDialogBoxParamW = reinterpret_cast<DialogBoxParamWFn>(
                PatchImport(Port().dll, "user32.dll", "DialogBoxParamW",
                            reinterpret_cast<void*>(CountingDialogBoxParamW)));
            return realDialogBoxParamW != nullptr;
        }();
        ASSERT_TRUE(counting) << "the status dialog is not shown with DialogBoxParamW";
        MapComPort(kPort, kSilentDevice);
        TakeComOpenAccesses();
        dialogsShown = 0;
    }
};

TEST_F(TransferDialog, RefusedBeforeAnyDialog)
{
    struct Case {
        const char* what;
        bool focus;
        bool portOpens;
        bool nullSetup;
        uint16_t mode;
        HGLOBAL block;   // sends; nullptr: a small text
        int16_t code;
        size_t opens;   // COM port opens tried
    };
    HGLOBAL huge = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 65535u * 512u + 2);
    memset(GlobalLock(huge), 'a', 65535u * 512u + 1);
    GlobalUnlock(huge);
    HGLOBAL discarded = GlobalAlloc(GMEM_MOVEABLE | GMEM_DISCARDABLE, 16);
    GlobalDiscard(discarded);
    const Case cases[] = {
        {"no focus window", false, true, false, 0, nullptr, 5, 0},
        {"port cannot be opened", true, false, false, 0, nullptr, 5, 1},
        {"no settings record", true, true, true, 0, nullptr, 5, 0},
        {"IR block beyond what its blocks can number", true, true, false, 1, huge, 4, 0},
        {"send block that cannot be locked", true, true, false, 0, discarded, 4, 0},
    };
    for (const Case& c : cases) {
        for (int direction : {1, 0}) {
            if (c.block && direction == 0)
                continue;
            SCOPED_TRACE(std::string(c.what) + (direction ? ", send" : ", receive"));
            MapComPort(kPort, c.portOpens ? kSilentDevice : nullptr);
            std::unique_ptr<FocusWindow> owner(c.focus ? new FocusWindow : nullptr);
            ASSERT_EQ(c.focus, GetFocus() != nullptr);
            SetupBytes s = LinkSetup(c.mode);
            const void* record = c.nullSetup ? nullptr : s.b;
            int16_t code = -1;
            if (direction == 1) {
                HGLOBAL text = c.block ? c.block : TextBlock("abc");
                code = Port().send(record, text);
                if (!c.block)
                    GlobalFree(text);
            } else {
                EXPECT_EQ(nullptr, Port().receive(record, &code));
            }
            EXPECT_EQ(c.code, code);
            EXPECT_EQ(c.opens, TakeComOpenAccesses().size());
            EXPECT_EQ(0, dialogsShown.load());
        }
    }
    GlobalFree(huge);
    GlobalFree(discarded);
    FocusWindow owner;
    SetupBytes s = LinkSetup(0);
    EXPECT_EQ(nullptr, Port().receive(s.b, nullptr)) << "no place for the result";
    EXPECT_TRUE(TakeComOpenAccesses().empty());
}

TEST_F(TransferDialog, PortOpenedForTheDirectionOfTheLink)
{
    struct Case {
        uint16_t mode;
        int direction;
        DWORD access;
    };
    const Case cases[] = {
        {0, 1, GENERIC_WRITE},
        {0, 0, GENERIC_READ},
        {2, 1, GENERIC_WRITE},
        {2, 0, GENERIC_READ},
        {1, 1, GENERIC_READ | GENERIC_WRITE},
        {1, 0, GENERIC_READ | GENERIC_WRITE},
    };
    FocusWindow owner;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " direction " << c.direction);
        Outcome o = Transfer(c.direction, LinkSetup(c.mode), "abc", Cancel);
        std::vector<DWORD> expected = {c.access};
        EXPECT_EQ(expected, TakeComOpenAccesses());
        if (o.block)
            GlobalFree(o.block);
    }
}

TEST_F(TransferDialog, DialogLayoutOwnerAndPlace)
{
    FocusWindow owner;
    Transfer(0, LinkSetup(0), "", [&](HWND dlg) {
        EXPECT_EQ(owner.hwnd, GetWindow(dlg, GW_OWNER));
        LONG style = GetWindowLongW(dlg, GWL_STYLE);
        EXPECT_EQ(LONG(WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME),
                  style & (WS_POPUP | WS_CHILD | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                           WS_MINIMIZEBOX | WS_MAXIMIZEBOX | DS_MODALFRAME));
        RECT client;
        GetClientRect(dlg, &client);
        RECT size = DialogRect(dlg, 0, 0, 186, 50);
        EXPECT_EQ(size.right, client.right);
        EXPECT_EQ(size.bottom, client.bottom);
        RECT w;
        GetWindowRect(dlg, &w);
        EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - (w.right - w.left)) / 2, w.left);
        EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - (w.bottom - w.top)) / 2, w.top);

        std::vector<int> ids;
        for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            ids.push_back(GetDlgCtrlID(c));
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ((std::vector<int>{IDCANCEL, kPane}), ids);

        HWND button = GetDlgItem(dlg, IDCANCEL);
        EXPECT_EQ(0, lstrcmpiW(L"Button", ClassOf(button).c_str()));
        EXPECT_EQ(L"通信中断", WindowText(button));
        LONG bs = GetWindowLongW(button, GWL_STYLE);
        EXPECT_EQ(BS_PUSHBUTTON, bs & 0x0F);
        EXPECT_EQ(LONG(WS_TABSTOP | WS_VISIBLE), bs & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED));
        RECT br = DialogRect(dlg, 70, 30, 48, 16), buttonRect = ChildRect(dlg, button);
        EXPECT_TRUE(EqualRect(&br, &buttonRect));

        HWND pane = GetDlgItem(dlg, kPane);
        EXPECT_EQ(0, lstrcmpiW(L"Edit", ClassOf(pane).c_str()));
        LONG ps = GetWindowLongW(pane, GWL_STYLE);
        EXPECT_EQ(LONG(WS_VISIBLE | WS_DISABLED | ES_READONLY),
                  ps & (WS_VISIBLE | WS_DISABLED | ES_READONLY | WS_TABSTOP));
        bool border = (ps & WS_BORDER) || (GetWindowLongW(pane, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
        EXPECT_TRUE(border);
        RECT pr = DialogRect(dlg, 5, 7, 176, 16), paneRect = ChildRect(dlg, pane);
        EXPECT_TRUE(EqualRect(&pr, &paneRect));
        Cancel(dlg);
    });
}

// The pane's waiting texts: the whole client area in the window colour, the
// text centred on one line, no bar, the image copied inside the border.
TEST_F(TransferDialog, LegibleWaitingTextsBeforeAnyByte)
{
    FocusWindow owner;
    for (int direction : {1, 0}) {
        SCOPED_TRACE(direction ? "send" : "receive");
        Transfer(direction, LinkSetup(0), "0123456789", [&](HWND dlg) {
            Paint p = PaneShows(dlg);
            RECT client;
            GetClientRect(GetDlgItem(dlg, kPane), &client);
            EXPECT_EQ(direction ? L"送信待ち" : L"受信待ち", TextOf(p));
            ASSERT_EQ(1u, p.texts.size());
            EXPECT_TRUE(EqualRect(&client, &p.texts[0].rect));
            EXPECT_EQ(UINT(DT_CENTER | DT_VCENTER | DT_SINGLELINE), p.texts[0].format);
            EXPECT_EQ(SHIFTJIS_CHARSET, p.texts[0].charset) << "a font without Japanese characters";
            ASSERT_EQ(1u, p.fills.size()) << "a bar was drawn";
            EXPECT_TRUE(EqualRect(&client, &p.fills[0].rect));
            EXPECT_EQ(GetSysColor(COLOR_WINDOW), p.fills[0].brush);
            EXPECT_TRUE(p.rects.empty());
            ASSERT_EQ(1u, p.copies.size());
            RECT target = {1, 1, client.right - 2, client.bottom - 2};
            EXPECT_TRUE(EqualRect(&target, &p.copies[0].target));
            EXPECT_EQ(0, p.copies[0].source.x);
            EXPECT_EQ(0, p.copies[0].source.y);
            Cancel(dlg);
        });
    }
}

TEST_F(TransferDialog, StoppedByHandEndsWith255NoBlockAndNoThread)
{
    struct Way {
        const char* what;
        std::function<void(HWND)> stop;
    };
    const Way ways[] = {
        {"cancel button", Cancel},
        {"Esc", [](HWND dlg) { PressKey(GetDlgItem(dlg, IDCANCEL), VK_ESCAPE); }},
        {"close from the window system", [](HWND dlg) { PostMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"Enter is ignored, then cancel",
         [](HWND dlg) {
             PressKey(GetDlgItem(dlg, IDCANCEL), VK_RETURN);
             PostMessageW(dlg, WM_COMMAND, IDOK, 0);
             EXPECT_FALSE(WaitForWindowGone(dlg, 300)) << "Enter ended the transfer";
             Cancel(dlg);
         }},
    };
    FocusWindow owner;
    for (const Way& way : ways) {
        for (int direction : {1, 0}) {
            SCOPED_TRACE(std::string(way.what) + (direction ? ", send" : ", receive"));
            Outcome o = Transfer(direction, LinkSetup(0), "abc", way.stop);
            EXPECT_EQ(255, o.code);
            EXPECT_EQ(nullptr, o.block);
            EXPECT_EQ(0, o.threadsLeft);
        }
    }
}

// A macro that calls the driver again from within the running transfer: the
// owner window gets a message that the dialog's loop delivers on its thread.
const UINT kCallAgain = WM_APP + 1;
WNDPROC ownerProc;
struct Reentry {
    int direction;
    int16_t code;
    HGLOBAL block;
} reentry;

LRESULT CALLBACK CallsAgain(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg != kCallAgain)
        return CallWindowProcW(ownerProc, hwnd, msg, wp, lp);
    SetupBytes s = LinkSetup(0);
    if (reentry.direction == 1) {
        HGLOBAL h = TextBlock("other");
        reentry.code = Port().send(s.b, h);
        GlobalFree(h);
    } else {
        reentry.block = Port().receive(s.b, &reentry.code);
    }
    return 0;
}

TEST_F(TransferDialog, SecondTransferWhileOneRunsIsRefused)
{
    FocusWindow owner;
    ownerProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(owner.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CallsAgain)));
    for (int running : {1, 0}) {
        for (int second : {1, 0}) {
            SCOPED_TRACE(::testing::Message() << "running " << running << ", second " << second);
            reentry = {second, -1, nullptr};
            Outcome o = Transfer(running, LinkSetup(0), "abc", [&](HWND dlg) {
                SendMessageW(owner.hwnd, kCallAgain, 0, 0);
                EXPECT_EQ(5, reentry.code);
                EXPECT_EQ(nullptr, reentry.block);
                EXPECT_TRUE(IsWindowVisible(dlg));
                EXPECT_EQ(running ? L"送信待ち" : L"受信待ち", TextOf(PaneShows(dlg)));
                Cancel(dlg);
            });
            EXPECT_EQ(255, o.code);
            EXPECT_EQ(1, dialogsShown.exchange(0));
            EXPECT_EQ(1u, TakeComOpenAccesses().size());
        }
    }
    SetWindowLongPtrW(owner.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ownerProc));
}

// --- on a line with the simulated handheld ---

// ClosePort's first step, seen through kivport.dll's imports: when it drops
// DTR, and each modem-line request.
HANDLE closing = CreateEventW(nullptr, TRUE, FALSE, nullptr);
std::atomic<DWORD> closeTick;
typedef BOOL(WINAPI* EscapeFn)(HANDLE, DWORD);
EscapeFn realEscape;
BOOL WINAPI NoteEscape(HANDLE port, DWORD function)
{
    if (function == CLRDTR) {
        closeTick = GetTickCount();
        SetEvent(closing);
    }
    return realEscape(port, function);
}

// The reader thread's WM_COMMNOTIFY, held while the dialog is asked to close
// and until it has begun to close the port: the reader then sits in its
// SendMessage while ClosePort waits for it.
std::atomic<bool> holdReader;
typedef LRESULT(WINAPI* SendMessageAFn)(HWND, UINT, WPARAM, LPARAM);
SendMessageAFn realSendMessageA;
LRESULT WINAPI HoldingSendMessageA(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_COMMNOTIFY && holdReader.exchange(false)) {
        PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        WaitForSingleObject(closing, 3000);
    }
    return realSendMessageA(hwnd, msg, wp, lp);
}

class TransferOnLine : public TransferDialog {
protected:
    FocusWindow owner;
    size_t mark = 0;
    void SetUp() override
    {
        TransferDialog::SetUp();
        static bool hooked = [] {
            realEscape = reinterpret_cast<EscapeFn>(PatchImport(
                Port().dll, "kernel32.dll", "EscapeCommFunction", reinterpret_cast<void*>(NoteEscape)));
            realSendMessageA = reinterpret_cast<SendMessageAFn>(PatchImport(
                Port().dll, "user32.dll", "SendMessageA", reinterpret_cast<void*>(HoldingSendMessageA)));
            return realEscape && realSendMessageA;
        }();
        ASSERT_TRUE(hooked);
    }
    // Starts kivsim for one transfer.
    void Start(KivSim& sim, const std::string& flags)
    {
        ResetEvent(closing);
        closeTick = 0;
        mark = PtyLogMark();
        ASSERT_TRUE(StartKivsim(sim, kPort, flags));
    }
    // DTR and RTS raised at the start, both dropped at the end.
    void ExpectLinesDropped(const KivSim& sim)
    {
        std::vector<std::string> modem;
        for (const std::string& line : PtyLogLines(mark, sim.pts))
            if (line.find(" modem ") != std::string::npos)
                modem.push_back(LogField(line, "dtr") + LogField(line, "rts"));
        ASSERT_GE(modem.size(), 2u);
        EXPECT_EQ("11", modem[1]);
        EXPECT_EQ("00", modem.back());
    }
};

// Repaints the pane until it shows text; what it showed last.
std::wstring PaneReaches(HWND dlg, const std::wstring& text, Paint* last)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20)) {
        *last = PaneShows(dlg);
        if (TextOf(*last) == text)
            break;
    }
    return TextOf(*last);
}

TEST_F(TransferOnLine, LegibleReceivedCountsWithoutABar)
{
    KivSim sim;
    Start(sim, "--role send --baud 0 --size 600 --piece 300 --gap 1500 --eof --delay 300");
    Outcome o = Transfer(0, LinkSetup(0), "", [&](HWND dlg) {
        for (const wchar_t* text : {L"300 バイト 受信しました", L"600 バイト 受信しました"}) {
            Paint p;
            EXPECT_EQ(text, PaneReaches(dlg, text, &p));
            EXPECT_EQ(1u, p.fills.size()) << "a bar was drawn";
            EXPECT_TRUE(p.rects.empty());
        }
    });
    EXPECT_EQ(0, o.code);
    ASSERT_NE(nullptr, o.block);
    EXPECT_EQ(601u, strlen(static_cast<char*>(GlobalLock(o.block))));
    GlobalUnlock(o.block);
    GlobalFree(o.block);
    ExpectLinesDropped(sim);
}

TEST_F(TransferOnLine, LegibleSentCountsOverAGrowingBar)
{
    const std::string text(2000, 'k');
    KivSim sim;
    Start(sim, "--role receive --baud 9600 --count 2000");
    RECT client = {};
    PaintRecorder::Clear();
    Outcome o = Transfer(1, LinkSetup(0), text,
                         [&](HWND dlg) { GetClientRect(GetDlgItem(dlg, kPane), &client); });
    EXPECT_EQ(0, o.code);
    ASSERT_TRUE(WaitKivsimRecord(sim, 5000));
    EXPECT_EQ(text, KivsimReceived(sim));
    ExpectLinesDropped(sim);

    std::vector<std::wstring> shown;
    for (const Paint& p : PaintRecorder::Paints()) {
        std::wstring t = TextOf(p);
        if (!shown.empty() && shown.back() == t)
            continue;
        shown.push_back(t);
        int sent = _wtoi(t.c_str());
        int bar = static_cast<int>(static_cast<long long>(client.right) * sent / 2000);
        RECT expected = {0, 0, bar, client.bottom};
        SCOPED_TRACE(::testing::Message() << "bar for " << sent);
        ASSERT_EQ(bar ? 2u : 1u, p.fills.size());
        ASSERT_EQ(bar ? 1u : 0u, p.rects.size());
        if (!bar)
            continue;
        EXPECT_TRUE(EqualRect(&expected, &p.fills[1].rect));
        EXPECT_EQ(RGB(255, 255, 255), p.fills[1].brush);
        EXPECT_TRUE(EqualRect(&expected, &p.rects[0].rect));
        EXPECT_EQ(R2_MERGEPENNOT, p.rects[0].rop);
        EXPECT_EQ(RGB(0, 0, 255), p.rects[0].brush);
        EXPECT_EQ(RGB(0, 0, 255), p.rects[0].pen);
    }
    std::vector<std::wstring> expected = {
        L"送信待ち", L"512／2000 バイト 送信しました", L"1024／2000 バイト 送信しました",
        L"1536／2000 バイト 送信しました", L"2000／2000 バイト 送信しました"};
    EXPECT_EQ(expected, shown);
}

// The reader thread may be inside its SendMessage to the dialog when the
// dialog closes the port: the close must not wait for it to time out.
TEST_F(TransferOnLine, CloseIsPromptWhileTheReaderDeliversAnEvent)
{
    struct Case {
        const char* what;
        bool hold;
        int16_t code;
    };
    const Case cases[] = {
        {"end byte: the close runs inside the reader's message", false, 0},
        {"window system close while the reader waits to deliver", true, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KivSim sim;
        Start(sim, "--role send --baud 0 --size 100 --eof --delay 300");
        holdReader = c.hold;
        Outcome o = Transfer(0, LinkSetup(0), "", [](HWND) {});
        EXPECT_FALSE(holdReader) << "the reader sent nothing";
        EXPECT_EQ(c.code, o.code);
        EXPECT_NE(0u, closeTick.load());
        EXPECT_LT(o.returnTick - closeTick, 1500u);
        EXPECT_EQ(0, o.threadsLeft);
        if (o.block)
            GlobalFree(o.block);
        ExpectLinesDropped(sim);
    }
}

// The IR line device is probed at 9600 baud without parity and, when it
// answers 0xF4 or 0xF5, sent its set-up bytes; either way the line ends at
// 9600 baud, 8 data bits, odd parity, one stop bit.
TEST_F(TransferOnLine, IrLineDeviceProbedAndSetUp)
{
    struct Case {
        const char* answer;
        bool setUp;
    };
    const Case cases[] = {{"f4", true}, {"f5", true}, {"41", false}, {"none", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        KivSim sim;
        Start(sim, std::string("--probe-answer ") + c.answer);
        std::vector<std::string> formats;
        Transfer(0, LinkSetup(1), "", [&](HWND dlg) {
            for (const std::string& line : PtyLogLines(mark, sim.pts))
                if (line.find(" termios ") != std::string::npos)
                    formats.push_back(LogField(line, "speed") + LogField(line, "data") +
                                      LogField(line, "parity") + LogField(line, "stop"));
            Cancel(dlg);
        });
        ASSERT_TRUE(StopKivsim(sim));
        std::string log = KivsimLog(sim);
        EXPECT_EQ(c.setUp, log.find("setup 0b 21 37 45 50 64 70 d1 56 d0 87 91 11") != std::string::npos)
            << log;
        ASSERT_FALSE(formats.empty());
        EXPECT_NE(formats.end(), std::find(formats.begin(), formats.end(), "96008n1"))
            << "the probe's format";
        EXPECT_EQ("96008o1", formats.back());
    }
}

}
