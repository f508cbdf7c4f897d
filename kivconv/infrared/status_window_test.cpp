#include "kirx_test.h"
#include <algorithm>

namespace {

const wchar_t kCaption[] = L"通信状況表示";
const int kCancelId = 4000;

class KirxStatusWindow : public ::testing::Test {
protected:
    FocusWindow owner;
    void SetUp() override
    {
        ASSERT_NE(nullptr, KirxIrda());
        PaintRecorder::Install(KivConv());
    }

    // Runs an exchange whose library plan holds; at each hold, check(window)
    // looks at the status window before the library goes on.
    LONG Exchange(KirxFixture& fx, int direction, std::vector<std::function<void(HWND)>> checks,
                  DWORD* after = nullptr)
    {
        return RunExchange(
            owner.hwnd, "memo.txt", direction, 1,
            [&] {
                for (auto& check : checks) {
                    bool held = fx.WaitHeld();
                    EXPECT_TRUE(held) << "library did not reach its hold";
                    HWND status = FindStatusWindow(held ? 5000 : 0);
                    EXPECT_NE(nullptr, status);
                    if (status)
                        check(status);
                    fx.Go();
                }
            },
            after);
    }
};

// What the progress rectangle shows after a repaint.
Paint Shown(HWND status)
{
    Paint paint;
    EXPECT_TRUE(Repaint(status, &paint)) << "no repaint";
    return paint;
}

std::wstring TextOf(const Paint& p) { return p.texts.empty() ? L"<none>" : p.texts[0].text; }

bool SameRect(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != 0; }

// The frame, then the bar when there is one.
void ExpectFrameAndBar(const Paint& p, int barLength)
{
    RECT frame = ProgressRect();
    ASSERT_FALSE(p.rects.empty());
    EXPECT_TRUE(SameRect(frame, p.rects[0].rect));
    ASSERT_FALSE(p.texts.empty());
    RECT inside = frame;
    InflateRect(&inside, -2, -2);
    EXPECT_TRUE(SameRect(inside, p.texts[0].rect));
    EXPECT_EQ(UINT(DT_CENTER | DT_VCENTER | DT_SINGLELINE), p.texts[0].format);
    EXPECT_EQ(SHIFTJIS_CHARSET, p.texts[0].charset) << "font without Japanese characters";
    if (barLength == 0) {
        EXPECT_EQ(1u, p.rects.size()) << "a bar was drawn";
        return;
    }
    ASSERT_EQ(2u, p.rects.size()) << "no bar";
    const DrawnRect& bar = p.rects[1];
    RECT expected = {frame.left + 2, frame.top + 2, frame.left + 2 + barLength, frame.bottom - 2};
    EXPECT_TRUE(SameRect(expected, bar.rect)) << "bar " << bar.rect.left << "," << bar.rect.top << " - "
                                              << bar.rect.right << "," << bar.rect.bottom;
    EXPECT_EQ(R2_MERGEPENNOT, bar.rop);
    EXPECT_EQ(RGB(0, 0, 255), bar.brush);
    EXPECT_EQ(RGB(0, 0, 255), bar.pen);
}

// The bar is 304 pixels when full, and never leaves the frame.
int Bar(long long bytes, long long total)
{
    RECT frame = ProgressRect();
    long long length = bytes * 304 / total;
    return static_cast<int>(std::min<long long>(length, frame.right - frame.left - 4));
}

TEST_F(KirxStatusWindow, LegibleCaptionClassAndCancelButton)
{
    KirxFixture fx("hold");
    WindowWatch watch;
    Exchange(
        fx, 1, {[&](HWND status) {
            EXPECT_EQ(kCaption, WindowText(status));
            LONG style = GetWindowLongW(status, GWL_STYLE);
            EXPECT_EQ(WS_CAPTION, style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX |
                                           WS_MAXIMIZEBOX | WS_CHILD | WS_POPUP));
            EXPECT_EQ(owner.hwnd, GetWindow(status, GW_OWNER));

            WNDCLASSEXW wc = {};
            wc.cbSize = sizeof wc;
            ASSERT_TRUE(GetClassInfoExW(KivConv(), L"KIRXDLLDLG", &wc));
            EXPECT_EQ(0u, wc.style);
            EXPECT_EQ(reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), wc.hbrBackground);
            EXPECT_EQ(nullptr, wc.hIcon);
            EXPECT_EQ(nullptr, wc.hCursor);
            EXPECT_EQ(0, wc.cbWndExtra);

            HWND button = GetDlgItem(status, kCancelId);
            ASSERT_NE(nullptr, button);
            EXPECT_EQ(L"通信中断", WindowText(button));
            EXPECT_EQ(SHIFTJIS_CHARSET, FontCharset(button)) << "font without Japanese characters";
            wchar_t cls[32];
            GetClassNameW(button, cls, 32);
            EXPECT_EQ(0, lstrcmpiW(L"Button", cls))
                << "class " << ::testing::PrintToString(std::wstring(cls));
            EXPECT_TRUE(IsWindowVisible(button));
            EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongW(button, GWL_STYLE) & 0x0F);
            // The focus goes to the button; another program on the display may
            // take it away since, so the request is what counts.
            std::vector<HWND> focused = watch.Focused();
            ASSERT_FALSE(focused.empty());
            EXPECT_EQ(button, focused.back());
            DWORD foreground = 0;
            GetWindowThreadProcessId(GetForegroundWindow(), &foreground);
            if (foreground == GetCurrentProcessId()) {
                GUITHREADINFO gui = {};
                gui.cbSize = sizeof gui;
                GetGUIThreadInfo(GetWindowThreadProcessId(status, nullptr), &gui);
                EXPECT_EQ(button, gui.hwndFocus);
            }

            // Geometry in dialog units, the window centred on the screen.
            RECT w;
            GetWindowRect(status, &w);
            EXPECT_EQ(DialogX(166), w.right - w.left);
            EXPECT_EQ(DialogY(48), w.bottom - w.top);
            EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - DialogX(166)) / 2, w.left);
            EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - DialogY(48)) / 2, w.top);
            RECT b;
            GetWindowRect(button, &b);
            MapWindowPoints(nullptr, status, reinterpret_cast<POINT*>(&b), 2);
            RECT expected = {DialogX(62), DialogY(22), DialogX(62) + DialogX(42), DialogY(22) + DialogY(12)};
            EXPECT_TRUE(SameRect(expected, b));
        }});
}

TEST_F(KirxStatusWindow, SendingShowsLegibleWaitingThenBytesSentWithABar)
{
    KirxFixture fx("hold progress:100:1001 hold progress:150:1001 hold");
    Exchange(fx, 1,
             {
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"送信待ち", TextOf(p));
                     ExpectFrameAndBar(p, 0);
                 },
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"100／1000 バイト 送信しました", TextOf(p));
                     ExpectFrameAndBar(p, Bar(100, 1001));
                 },
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"250／1000 バイト 送信しました", TextOf(p));
                     ExpectFrameAndBar(p, Bar(250, 1001));
                 },
             });
}

TEST_F(KirxStatusWindow, ReceivingShowsLegibleWaitingThenBytesReceived)
{
    KirxFixture fx("hold progress:120:0 hold progress:30:0 hold");
    Exchange(fx, 0,
             {
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"受信待ち", TextOf(p));
                     ExpectFrameAndBar(p, 0);
                 },
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"120 バイト 受信しました", TextOf(p));
                     ExpectFrameAndBar(p, 0);
                 },
                 [](HWND status) { EXPECT_EQ(L"150 バイト 受信しました", TextOf(Shown(status))); },
             });
}

TEST_F(KirxStatusWindow, ProgressReportWithoutBytesChangesNothing)
{
    KirxFixture fx("progress:0:0 hold progress:10:100 progress:0:0 progress:0:7 hold");
    Exchange(fx, 1,
             {
                 [](HWND status) { EXPECT_EQ(L"送信待ち", TextOf(Shown(status))); },
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"10／99 バイト 送信しました", TextOf(p));
                     ExpectFrameAndBar(p, Bar(10, 100));
                 },
             });
    std::vector<std::string> log = fx.Log();
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "progress 0 0 -> 0 window"));
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "progress 0 7 -> 0 window"));
}

TEST_F(KirxStatusWindow, ZeroTotalSwitchesALegibleSendToTheReceiveForm)
{
    KirxFixture fx("progress:50:1000 hold progress:10:0 hold");
    Exchange(fx, 1,
             {
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"50／999 バイト 送信しました", TextOf(p));
                     ExpectFrameAndBar(p, Bar(50, 1000));
                 },
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"60 バイト 受信しました", TextOf(p));
                     ExpectFrameAndBar(p, 0);
                 },
             });
}

TEST_F(KirxStatusWindow, BarStaysInsideItsFrame)
{
    KirxFixture fx("progress:2000:1001 hold progress:10:-5 hold");
    Exchange(fx, 1,
             {
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"2000／1000 バイト 送信しました", TextOf(p));
                     ExpectFrameAndBar(p, Bar(1001, 1001));
                 },
                 [](HWND status) {
                     Paint p = Shown(status);
                     EXPECT_EQ(L"2010／-6 バイト 送信しました", TextOf(p));
                     ExpectFrameAndBar(p, 0);
                 },
             });
}

// --- cancelling ---

// Focus can only be moved by a thread that shares the window's input.
void FocusOn(HWND status, HWND target)
{
    DWORD me = GetCurrentThreadId(), its = GetWindowThreadProcessId(status, nullptr);
    AttachThreadInput(me, its, TRUE);
    SetFocus(target);
    AttachThreadInput(me, its, FALSE);
}

std::vector<std::string> Answers(const KirxFixture& fx)
{
    std::vector<std::string> answers;
    for (const std::string& line : fx.Log())
        if (line.find(" -> ") != std::string::npos || line == "stopped")
            answers.push_back(line);
    return answers;
}

TEST_F(KirxStatusWindow, CancelButtonMakesTheNextAnswerOneAndTheWindowCloseAtOnce)
{
    KirxFixture fx("poll hold poll progress:5:10");
    DWORD after = 0;
    HWND seen = nullptr;
    LONG r = Exchange(fx, 1, {[&](HWND status) {
                          seen = status;
                          SendMessageW(GetDlgItem(status, kCancelId), BM_CLICK, 0, 0);
                      }},
                      &after);
    EXPECT_EQ(0, r);   // the library's answer to a cancelled transfer
    std::vector<std::string> expected = {"poll -> 0 window", "poll -> 1 window", "stopped"};
    EXPECT_EQ(expected, Answers(fx));
    EXPECT_LT(after - fx.ReturnTick(), 700u) << "lingered after a cancel";
    EXPECT_FALSE(IsWindow(seen));
}

TEST_F(KirxStatusWindow, EnterEscAndSpaceCancelOnTheButtonAndOnTheWindow)
{
    for (BYTE key : {VK_RETURN, VK_ESCAPE, VK_SPACE}) {
        for (bool onWindow : {false, true}) {
            SCOPED_TRACE(::testing::Message()
                         << "key " << int(key) << (onWindow ? " on the window" : " on the button"));
            KirxFixture fx("hold poll");
            Exchange(fx, 0, {[&](HWND status) {
                         HWND target = onWindow ? status : GetDlgItem(status, kCancelId);
                         FocusOn(status, target);
                         PressKey(target, key);
                     }});
            std::vector<std::string> expected = {"poll -> 1 window", "stopped"};
            EXPECT_EQ(expected, Answers(fx));
        }
    }
}

TEST_F(KirxStatusWindow, OtherKeysDoNotCancel)
{
    KirxFixture fx("hold poll");
    Exchange(fx, 0, {[&](HWND status) {
                 for (BYTE key : {BYTE('A'), BYTE(VK_TAB), BYTE(VK_BACK), BYTE(VK_F4)})
                     PressKey(GetDlgItem(status, kCancelId), key);
             }});
    std::vector<std::string> expected = {"poll -> 0 window"};
    EXPECT_EQ(expected, Answers(fx));
}

TEST_F(KirxStatusWindow, AfterACancelEveryAnswerIsOneAndTheWindowStaysToTheEnd)
{
    KirxFixture fx("persist hold poll progress:5:10 progress:0:0 poll");
    DWORD after = 0;
    LONG r = Exchange(
        fx, 1, {[&](HWND status) { SendMessageW(GetDlgItem(status, kCancelId), BM_CLICK, 0, 0); }}, &after);
    EXPECT_EQ(1, r);
    std::vector<std::string> expected = {
        "poll -> 1 window",
        "progress 5 10 -> 1 window",
        "progress 0 0 -> 1 window",
        "poll -> 1 window",
    };
    EXPECT_EQ(expected, Answers(fx));
    EXPECT_LT(after - fx.ReturnTick(), 700u) << "lingered after a cancel";
}

TEST_F(KirxStatusWindow, CancelStillQueuedWhenTheLibraryReturnsEndsWithoutLinger)
{
    // Esc pressed while the library was busy and asked nothing more.
    KirxFixture fx("progress:10:100 postkey:27");
    DWORD after = 0;
    EXPECT_EQ(1, RunExchange(owner.hwnd, "memo.txt", 1, 1, nullptr, &after));
    std::vector<std::string> expected = {"progress 10 100 -> 0 window"};
    EXPECT_EQ(expected, Answers(fx));
    EXPECT_LT(after - fx.ReturnTick(), 700u) << "lingered after a cancel";
}

// Posts Esc to the cancel button at the moment it is given the focus, that is
// while the window is still being put on screen, before the transfer starts.
HHOOK earlyKeyHook;
bool earlyKeyPosted;

LRESULT CALLBACK PressEscWhenTheButtonGetsTheFocus(int code, WPARAM wp, LPARAM lp)
{
    HWND target = reinterpret_cast<HWND>(wp);
    if (code == HCBT_SETFOCUS && !earlyKeyPosted && target && GetDlgCtrlID(target) == kCancelId) {
        wchar_t parent[32] = L"";
        GetClassNameW(GetParent(target), parent, 32);
        if (lstrcmpW(parent, L"KIRXDLLDLG") == 0) {
            earlyKeyPosted = true;
            PressKey(target, VK_ESCAPE);
        }
    }
    return CallNextHookEx(earlyKeyHook, code, wp, lp);
}

TEST_F(KirxStatusWindow, KeyHandledWhileTheWindowOpensDoesNotCancelTheTransfer)
{
    // The transfer may go on from the moment the library is called: a cancel
    // key that reaches the window while it is being shown is a left-over (an
    // auto-repeated key of the application, say) and is forgotten.
    KirxFixture fx("poll progress:5:10");
    earlyKeyPosted = false;
    earlyKeyHook = SetWindowsHookExW(WH_CBT, PressEscWhenTheButtonGetsTheFocus, nullptr,
                                     GetCurrentThreadId());
    ASSERT_NE(nullptr, earlyKeyHook);
    LONG r = RunExchange(owner.hwnd, "memo.txt", 1, 1);
    UnhookWindowsHookEx(earlyKeyHook);
    ASSERT_TRUE(earlyKeyPosted) << "the cancel button never got the focus";
    EXPECT_EQ(1, r);
    std::vector<std::string> expected = {"poll -> 0 window", "progress 5 10 -> 0 window"};
    EXPECT_EQ(expected, Answers(fx));
}

TEST_F(KirxStatusWindow, ClosingTheWindowMidTransferCancelsAndKeepsIt)
{
    KirxFixture fx("hold poll");
    Exchange(fx, 0, {[&](HWND status) { SendMessageW(status, WM_CLOSE, 0, 0); }});
    std::vector<std::string> expected = {"poll -> 1 window", "stopped"};
    EXPECT_EQ(expected, Answers(fx));
}

}
