#include "port_setup_test.h"
#include "../resources/resource.h"
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t kCaption[] = L"通信条件の設定";
const wchar_t kPortUnusable[] = L"指定されたポートは使用できません";

const int kLineControls[] = {
    IDC_SPEED,  IDC_SPEED_LABEL, IDC_PARITY_NONE,  IDC_PARITY_EVEN, IDC_PARITY_ODD, IDC_PARITY_GROUP,
    IDC_DATA_7, IDC_DATA_8,      IDC_LENGTH_GROUP, IDC_STOP_1,      IDC_STOP_2,     IDC_STOP_GROUP,
    IDC_CTS_ON, IDC_CTS_OFF,     IDC_CSMON_GROUP,  IDC_XFLOW_ON,    IDC_XFLOW_OFF,  IDC_XFLOW_GROUP,
};

bool Checked(HWND dlg, int id) { return SendMessageW(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Click(HWND dlg, int id) { SendMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }

BOOL CALLBACK FindChildText(HWND child, LPARAM lp)
{
    auto* want = reinterpret_cast<std::pair<const wchar_t*, bool>*>(lp);
    if (WindowText(child) == want->first) {
        want->second = true;
        return FALSE;
    }
    return TRUE;
}

bool HasChildText(HWND hwnd, const wchar_t* text)
{
    std::pair<const wchar_t*, bool> want(text, false);
    EnumChildWindows(hwnd, FindChildText, reinterpret_cast<LPARAM>(&want));
    return want.second;
}

// Presses OK on a port that cannot be used: the warning appears without an
// owner, is dismissed like a person would, and the dialog stays open.
void OkOnUnusablePort(HWND dlg)
{
    PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
    HWND box = WaitForWindow(nullptr, L"#32770", 10000, dlg);
    ASSERT_NE(nullptr, box) << "no message box";
    EXPECT_TRUE(HasChildText(box, kPortUnusable));
    EXPECT_NE(dlg, GetWindow(box, GW_OWNER));   // shown without owner
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitForWindowGone(box, 10000));
    EXPECT_TRUE(IsWindow(dlg));
}

class PortSetupDialog : public ::testing::Test {
protected:
    FocusWindow owner;
    void SetUp() override { ASSERT_NE(nullptr, Port().dialog); }
    void TearDown() override
    {
        for (int n = 1; n <= 3; n++)
            MapComPort(n, nullptr);
    }

    // Runs the dialog over the record; the driver gets the dialog's window.
    int16_t Run(SetupBytes& s, const std::function<void(HWND)>& driver)
    {
        int16_t result = 99;
        WithDriver(
            [&] {
                HWND dlg = WaitForWindow(kCaption, L"#32770", 10000);
                ASSERT_NE(nullptr, dlg) << "dialog did not appear";
                driver(dlg);
            },
            [&] { result = Port().dialog(s.b, nullptr); });
        return result;
    }
};

TEST_F(PortSetupDialog, InfraredShowsOnlyThePortEnabledAndCancelKeepsTheRecord)
{
    for (uint16_t mode : {1, 2}) {
        SetupBytes s = SetupBytes::Make(2, mode, 19200, 2, 7, 2, 1, 0);
        SetupBytes before = s;
        int16_t r = Run(s, [&](HWND dlg) {
            EXPECT_EQ(L"COM2", DlgItemText(dlg, IDC_PORT_NAME));
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDC_PORT_NAME)));
            for (int id : kLineControls)
                EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, id))) << "control " << id;
            // The stored line settings are shown even in IR mode.
            EXPECT_TRUE(Checked(dlg, IDC_PARITY_EVEN));
            EXPECT_TRUE(Checked(dlg, IDC_DATA_7));
            EXPECT_TRUE(Checked(dlg, IDC_STOP_2));
            EXPECT_TRUE(Checked(dlg, IDC_CTS_ON));
            EXPECT_TRUE(Checked(dlg, IDC_XFLOW_OFF));
            Click(dlg, IDCANCEL);
        });
        EXPECT_EQ(0, r);
        EXPECT_EQ(0, memcmp(before.b, s.b, sizeof s.b));
    }
}

TEST_F(PortSetupDialog, CableShowsTheRecordAndOkHandsBackTheEdits)
{
    MapComPort(3, kOpenableDevice);
    SetupBytes s = SetupBytes::Make(1, 0, 9600, 0, 8, 1, 0, 1);
    int16_t r = Run(s, [&](HWND dlg) {
        RECT rc;
        GetWindowRect(dlg, &rc);
        EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - (rc.right - rc.left)) / 2, rc.left);
        EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - (rc.bottom - rc.top)) / 2, rc.top);
        for (int id : kLineControls)
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, id))) << "control " << id;
        HWND port = GetDlgItem(dlg, IDC_PORT_NAME);
        EXPECT_EQ(8, SendMessageW(port, CB_GETCOUNT, 0, 0));
        EXPECT_EQ(0, SendMessageW(port, CB_GETCURSEL, 0, 0));   // "COM1" selected
        HWND speed = GetDlgItem(dlg, IDC_SPEED);
        EXPECT_EQ(8, SendMessageW(speed, CB_GETCOUNT, 0, 0));
        wchar_t item[16];
        SendMessageW(speed, CB_GETLBTEXT, 0, (LPARAM)item);
        EXPECT_STREQ(L"  300", item);
        SendMessageW(speed, CB_GETLBTEXT, 7, (LPARAM)item);
        EXPECT_STREQ(L"38400", item);
        EXPECT_EQ(5, SendMessageW(speed, CB_GETCURSEL, 0, 0));   // " 9600"
        EXPECT_TRUE(Checked(dlg, IDC_PARITY_NONE));
        EXPECT_TRUE(Checked(dlg, IDC_DATA_8));
        EXPECT_TRUE(Checked(dlg, IDC_STOP_1));
        EXPECT_TRUE(Checked(dlg, IDC_CTS_OFF));
        EXPECT_TRUE(Checked(dlg, IDC_XFLOW_ON));

        SetWindowTextW(port, L"COM3");
        SetWindowTextW(speed, L" 57600");
        Click(dlg, IDC_PARITY_ODD);
        Click(dlg, IDC_DATA_7);
        Click(dlg, IDC_STOP_2);
        Click(dlg, IDC_CTS_ON);
        Click(dlg, IDC_XFLOW_OFF);
        EXPECT_FALSE(Checked(dlg, IDC_PARITY_NONE));   // automatic radio groups
        Click(dlg, IDOK);
    });
    EXPECT_EQ(1, r);
    EXPECT_EQ(3, s.portNo());
    EXPECT_EQ(0, s.irMode());
    EXPECT_EQ(57600, s.speed());
    EXPECT_EQ(1, s.parity());
    EXPECT_EQ(7, s.length());
    EXPECT_EQ(2, s.stop());
    EXPECT_EQ(1, s.csMon());
    EXPECT_EQ(0, s.xFlow());
}

TEST_F(PortSetupDialog, UnknownSpeedStaysInTheBoxAndNonNumberKeepsTheSpeed)
{
    MapComPort(1, kOpenableDevice);
    SetupBytes s = SetupBytes::Make(1, 0, 115200, 0, 8, 1, 0, 0);
    int16_t r = Run(s, [&](HWND dlg) {
        EXPECT_EQ(L"115200", DlgItemText(dlg, IDC_SPEED));
        EXPECT_EQ(CB_ERR, SendMessageW(GetDlgItem(dlg, IDC_SPEED), CB_GETCURSEL, 0, 0));
        SetWindowTextW(GetDlgItem(dlg, IDC_SPEED), L"fast");
        Click(dlg, IDOK);
    });
    EXPECT_EQ(1, r);
    EXPECT_EQ(115200, s.speed());
}

TEST_F(PortSetupDialog, LegibleUnusablePortWarnsAndKeepsTheDialogOpen)
{
    MapComPort(2, kMissingDevice);
    SetupBytes s = SetupBytes::Make(2, 0, 9600, 0, 8, 1, 0, 0);
    SetupBytes before = s;
    int16_t r = Run(s, [&](HWND dlg) {
        EXPECT_TRUE(HasChildText(dlg, L"使用ポート:"));
        EXPECT_TRUE(HasChildText(dlg, L"光通信を使う場合は、使用ポート以外の設定は不要です。"));
        EXPECT_EQ(L"ｷｬﾝｾﾙ", DlgItemText(dlg, IDCANCEL));
        EXPECT_EQ(L"Ｘフロー制御", DlgItemText(dlg, IDC_XFLOW_GROUP));

        Click(dlg, IDC_PARITY_EVEN);
        OkOnUnusablePort(dlg);
        EXPECT_TRUE(IsWindowVisible(dlg));
        Click(dlg, IDCANCEL);
    });
    EXPECT_EQ(0, r);
    EXPECT_EQ(0, memcmp(before.b, s.b, sizeof s.b));
}

TEST_F(PortSetupDialog, SystemMenuCloseCancels)
{
    SetupBytes s = SetupBytes::Make(1, 0, 9600, 0, 8, 1, 0, 0);
    int16_t r = Run(s, [&](HWND dlg) { SendMessageW(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); });
    EXPECT_EQ(0, r);
}

TEST_F(PortSetupDialog, SecondDialogWhileOpenIsRefused)
{
    SetupBytes s = SetupBytes::Make(1, 0, 9600, 0, 8, 1, 0, 0);
    int16_t second = 99;
    int16_t r = Run(s, [&](HWND dlg) {
        SetupBytes other;
        second = Port().dialog(other.b, owner.hwnd);
        Click(dlg, IDCANCEL);
    });
    EXPECT_EQ(-1, second);
    EXPECT_EQ(0, r);
}

TEST_F(PortSetupDialog, NoOwnerWindowIsRefused)
{
    // A thread without windows has no focus window to own the dialog.
    int16_t r = 99;
    SetupBytes s = SetupBytes::Make(1, 0, 9600, 0, 8, 1, 0, 0);
    std::thread t([&] { r = Port().dialog(s.b, nullptr); });
    t.join();
    EXPECT_EQ(-1, r);
    // And the guard was cleared on the way out.
    r = Run(s, [&](HWND dlg) { Click(dlg, IDCANCEL); });
    EXPECT_EQ(0, r);
}

TEST_F(PortSetupDialog, EmptyPortBoxHandsBackTheProbedPort)
{
    MapComPort(1, kMissingDevice);
    MapComPort(2, kOpenableDevice);
    SetupBytes s = SetupBytes::Make(1, 0, 9600, 0, 8, 1, 0, 0);
    int16_t r = Run(s, [&](HWND dlg) {
        SetWindowTextW(GetDlgItem(dlg, IDC_PORT_NAME), L"");
        Click(dlg, IDOK);
    });
    EXPECT_EQ(1, r);
    EXPECT_EQ(2, s.portNo());
}

TEST_F(PortSetupDialog, MisspeltPortNameIsRefusedByTheProbe)
{
    MapComPort(2, kOpenableDevice);
    SetupBytes s = SetupBytes::Make(1, 0, 9600, 0, 8, 1, 0, 0);
    int16_t r = Run(s, [&](HWND dlg) {
        // "COM2x" is no device: the probe fails though "COM2" would open.
        SetWindowTextW(GetDlgItem(dlg, IDC_PORT_NAME), L"COM2x");
        OkOnUnusablePort(dlg);
        SetWindowTextW(GetDlgItem(dlg, IDC_PORT_NAME), L"COM2");
        Click(dlg, IDOK);
    });
    EXPECT_EQ(1, r);
    EXPECT_EQ(2, s.portNo());
}

// Ports above 9, shown, kept and probed whole, opened through the device
// namespace. COM1 opens too, so a name cut to "COM1" would pass the probe.
TEST_F(PortSetupDialog, PortAboveNineIsKeptWhole)
{
    const struct {
        uint16_t stored;
        const wchar_t* shown;
        const wchar_t* typed;   // null: left as shown
        uint16_t handedBack;
        const char* opened;
    } rows[] = {
        {12, L"COM12", nullptr, 12, "\\\\.\\COM12"},
        {1, L"COM1", L"COM10", 10, "\\\\.\\COM10"},
    };
    WidenComOpens(Port().dll);
    MapComPort(1, kOpenableDevice);
    for (const auto& row : rows) {
        MapComPort(row.handedBack, kOpenableDevice);
        TakeComOpenNames();
        SetupBytes s = SetupBytes::Make(row.stored, 0, 9600, 0, 8, 1, 0, 0);
        int16_t r = Run(s, [&](HWND dlg) {
            EXPECT_EQ(row.shown, DlgItemText(dlg, IDC_PORT_NAME));
            if (row.typed)
                SetWindowTextW(GetDlgItem(dlg, IDC_PORT_NAME), row.typed);
            // Posted: a refused port shows its message box inside the click.
            PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
            if (WaitForWindowGone(dlg, 5000))
                return;
            ADD_FAILURE() << "the port was refused";
            HWND box = WaitForWindow(nullptr, L"#32770", 5000, dlg);
            if (box)
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            WaitForWindowGone(box, 5000);
            Click(dlg, IDCANCEL);
        });
        EXPECT_EQ(1, r);
        EXPECT_EQ(row.handedBack, s.portNo());
        // Opened to apply the settings, then probed.
        EXPECT_EQ((std::vector<std::string>{row.opened, row.opened}), TakeComOpenNames());
        MapComPort(row.handedBack, nullptr);
    }
}

}   // namespace
