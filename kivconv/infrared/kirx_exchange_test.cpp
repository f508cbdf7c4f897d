#include "kirx_test.h"
#include "../desktop/library_placement.h"

namespace {

class KirxExchange : public ::testing::Test {
protected:
    FocusWindow owner;
    void SetUp() override { ASSERT_NE(nullptr, KirxIrda()); }

    static bool StatusClassRegistered()
    {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        return GetClassInfoExW(KivConv(), L"KIRXDLLDLG", &wc) != 0;
    }
};

std::vector<std::string> Calls(const KirxFixture& fx)
{
    std::vector<std::string> log = fx.Log();
    // The return line carries a time stamp; the call list ends before it.
    if (!log.empty() && log.back().compare(0, 7, "return ") == 0)
        log.back().erase(log.back().find(" @"));
    return log;
}

TEST_F(KirxExchange, SendSetsTheLibraryUpThenSendsWithTheStatusWindow)
{
    KirxFixture fx("result:5");
    EXPECT_EQ(5, RunExchange(owner.hwnd, "memo.txt", 1, 3));
    std::vector<std::string> expected = {
        "SetMode 0", "SetPort 0 3", "SetBaudEx 0 115200", "AppTextSend \"memo.txt\" 300 KIRXDLLDLG",
        "return 5",
    };
    EXPECT_EQ(expected, Calls(fx));
}

TEST_F(KirxExchange, ReceiveUsesTheReceiveFunctionAndTheLowWordsOfDirectionAndPort)
{
    struct Case {
        int direction, port;
        const char* call;
        const char* setPort;
    } cases[] = {
        {0, 2, "AppTextRecv", "SetPort 0 2"},
        {0x10000, 0x10004, "AppTextRecv", "SetPort 0 4"},
        {0xFFFF, -1, "AppTextSend", "SetPort 0 -1"},
        {-0x10000 + 1, 0xFFFE, "AppTextSend", "SetPort 0 -2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.direction);
        KirxFixture fx("result:9");
        EXPECT_EQ(9, RunExchange(owner.hwnd, "recv.txt", c.direction, c.port));
        std::vector<std::string> expected = {
            "SetMode 0",          c.setPort,
            "SetBaudEx 0 115200", std::string(c.call) + " \"recv.txt\" 300 KIRXDLLDLG",
            "return 9",
        };
        EXPECT_EQ(expected, Calls(fx));
    }
}

TEST_F(KirxExchange, LibrarysFailureIsTheResultAndEverythingIsReleased)
{
    KirxFixture fx("result:0");
    EXPECT_EQ(0, RunExchange(nullptr, "", 0, 1));
    EXPECT_EQ(nullptr, GetModuleHandleA("KIRX.dll"));
    EXPECT_EQ(nullptr, FindStatusWindow(0));
    // A class left behind would outlive kivconv.dll if the application unloads it.
    EXPECT_FALSE(StatusClassRegistered());
}

TEST_F(KirxExchange, AbsentLibraryReturnsZeroAtOnceWithoutAWindow)
{
    KirxFixture fx("result:5", nullptr);
    WindowWatch watch;
    DWORD start = GetTickCount();
    EXPECT_EQ(0, RunExchange(owner.hwnd, "memo.txt", 1, 1));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_TRUE(watch.Created().empty());
    EXPECT_TRUE(fx.Log().empty());
}

#ifdef _WIN64
// Users have the device library as a 32-bit file, which a 64-bit process
// cannot load: the 64-bit export answers as if it were absent.
TEST_F(KirxExchange, ThirtyTwoBitLibraryIsTakenAsAbsent)
{
    KirxFixture fx("result:5", "kirx-32bit");
    ASSERT_TRUE(FileExists(FixtureFolder("kirx-32bit") + "\\KIRX.dll"));
    WindowWatch watch;
    EXPECT_EQ(0, RunExchange(owner.hwnd, "memo.txt", 1, 1));
    EXPECT_TRUE(watch.Created().empty());
    EXPECT_TRUE(fx.Log().empty());
    EXPECT_EQ(nullptr, GetModuleHandleA("KIRX.dll"));
}
#endif

// A KIRX.dll in the current directory (the open database's folder, often a
// shared one) is never loaded; in the folders searched for the application's
// libraries it is found as before.
TEST_F(KirxExchange, LibraryIsNeverTakenFromTheCurrentDirectory)
{
    for (Placement where :
         {PLACED_IN_CURRENT_DIRECTORY, PLACED_BESIDE_THE_HOST, PLACED_ON_PATH, PLACED_IN_LIBRARY_FOLDER}) {
        SCOPED_TRACE(PlacementName(where));
        KirxFixture fx("result:5", nullptr);
        PlacedLibrary placed(where, FixtureFolder("kirx") + "\\KIRX.dll", "KIRX.dll");
        ASSERT_TRUE(placed.Placed());
        bool loaded = where != PLACED_IN_CURRENT_DIRECTORY;
        if (!loaded) {   // the plain search by name would take it
            HMODULE plain = LoadLibraryA("KIRX.dll");
            EXPECT_NE(nullptr, plain);
            if (plain)
                FreeLibrary(plain);
        }
        EXPECT_EQ(loaded ? 5 : 0, RunExchange(owner.hwnd, "memo.txt", 1, 1));
        EXPECT_EQ(loaded, !fx.Log().empty());
        EXPECT_EQ(nullptr, GetModuleHandleA("KIRX.dll"));
    }
}

TEST_F(KirxExchange, LibraryLackingAFunctionIsReleasedWithoutACall)
{
    KirxFixture fx("result:5", "kirx-incomplete");
    WindowWatch watch;
    EXPECT_EQ(0, RunExchange(owner.hwnd, "memo.txt", 1, 1));
    EXPECT_TRUE(fx.Log().empty()) << fx.Log().front();
    EXPECT_TRUE(watch.Created().empty());
    EXPECT_EQ(nullptr, GetModuleHandleA("KIRX.dll"));
}

TEST_F(KirxExchange, FinalProgressLingersThenTheWindowGoes)
{
    PaintRecorder::Install(KivConv());
    KirxFixture fx("progress:40:101 result:3");
    HWND status = nullptr;
    DWORD after = 0;
    LONG r = RunExchange(
        owner.hwnd, "memo.txt", 1, 1,
        [&] {
            status = FindStatusWindow();
            ASSERT_TRUE(fx.WaitReturned());
            Sleep(500);
            EXPECT_TRUE(IsWindowVisible(status));
            Paint paint;
            ASSERT_TRUE(Repaint(status, &paint));
            ASSERT_FALSE(paint.texts.empty());
            EXPECT_EQ(L"40／100 バイト 送信しました", paint.texts[0].text);
        },
        &after);
    EXPECT_EQ(3, r);
    DWORD linger = after - fx.ReturnTick();
    EXPECT_GE(linger, 1450u);
    EXPECT_LT(linger, 3000u);
    EXPECT_FALSE(IsWindow(status));
}

TEST_F(KirxExchange, CancelDuringTheLingerClosesAtOnce)
{
    KirxFixture fx("progress:40:101");
    DWORD clicked = 0, after = 0;
    RunExchange(
        owner.hwnd, "memo.txt", 1, 1,
        [&] {
            HWND status = FindStatusWindow();
            ASSERT_TRUE(fx.WaitReturned());
            Sleep(300);
            clicked = GetTickCount();
            SendMessageW(GetDlgItem(status, 4000), BM_CLICK, 0, 0);
        },
        &after);
    ASSERT_NE(0u, clicked);
    EXPECT_LT(after - clicked, 500u);
    EXPECT_LT(after - fx.ReturnTick(), 1200u);
}

}
