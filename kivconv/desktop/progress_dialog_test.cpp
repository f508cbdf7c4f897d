#include "desktop_test.h"
#include <vector>
#include "library_placement.h"

namespace {

const wchar_t kDialogCaption[] = L"処理中";   // the template's caption in KivDesk.dll

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM lp)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId() && WindowText(hwnd) == kDialogCaption)
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> ProgressDialogs()
{
    std::vector<HWND> found;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

class ProgressDialog : public ::testing::Test {
protected:
    FocusWindow owner;
    void SetUp() override
    {
        ASSERT_NE(nullptr, Desktop().showSpDialog);
        ASSERT_NE(nullptr, Desktop().endSpDialog);
        SetDllDirectoryA(FixtureFolder("desk").c_str());
    }
    void TearDown() override
    {
        if (Desktop().endSpDialog)
            Desktop().endSpDialog();
        SetDllDirectoryA(nullptr);
    }
    int Show(const wchar_t* text) { return Desktop().showSpDialog(owner.hwnd, Sjis(text).c_str()); }
};

TEST_F(ProgressDialog, ShowsTheLegibleTextInTheLibrarysTemplate)
{
    ASSERT_EQ(1, Show(L"住所録を変換しています"));
    std::vector<HWND> dialogs = ProgressDialogs();
    ASSERT_EQ(1u, dialogs.size());
    EXPECT_EQ(L"住所録を変換しています", DlgItemText(dialogs[0], 2));
    EXPECT_EQ(owner.hwnd, GetWindow(dialogs[0], GW_OWNER));
    EXPECT_TRUE(IsWindowVisible(dialogs[0]));
    // The library is only borrowed for the template.
    EXPECT_EQ(nullptr, GetModuleHandleA("KivDesk.dll"));
}

TEST_F(ProgressDialog, SecondShowLeavesOneDialogWithTheSecondLegibleText)
{
    ASSERT_EQ(1, Show(L"一件目"));
    HWND first = ProgressDialogs().at(0);
    ASSERT_EQ(1, Show(L"二件目"));
    std::vector<HWND> dialogs = ProgressDialogs();
    ASSERT_EQ(1u, dialogs.size());
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(L"二件目", DlgItemText(dialogs[0], 2));
}

TEST_F(ProgressDialog, EndRemovesTheDialogOnce)
{
    EXPECT_EQ(0, Desktop().endSpDialog());
    ASSERT_EQ(1, Show(L"処理"));
    EXPECT_EQ(1, Desktop().endSpDialog());
    EXPECT_TRUE(ProgressDialogs().empty());
    EXPECT_EQ(0, Desktop().endSpDialog());
}

TEST_F(ProgressDialog, DialogDestroyedWithItsOwnerIsNotRemovedAgain)
{
    ASSERT_EQ(1, Show(L"処理"));
    DestroyWindow(owner.hwnd);
    owner.hwnd = nullptr;
    EXPECT_EQ(0, Desktop().endSpDialog());
}

// A KivDesk.dll in the current directory is never loaded (the host has no
// template, so nothing shows); in the folders searched for the application's
// libraries it is found as before.
TEST_F(ProgressDialog, LibraryIsNeverTakenFromTheCurrentDirectory)
{
    for (Placement where :
         {PLACED_IN_CURRENT_DIRECTORY, PLACED_BESIDE_THE_HOST, PLACED_ON_PATH, PLACED_IN_LIBRARY_FOLDER}) {
        SCOPED_TRACE(PlacementName(where));
        PlacedLibrary placed(where, FixtureFolder("desk") + "\\KivDesk.dll", "KivDesk.dll");
        ASSERT_TRUE(placed.Placed());
        bool loaded = where != PLACED_IN_CURRENT_DIRECTORY;
        if (!loaded) {   // the plain search by name would take it
            HMODULE plain = LoadLibraryA("KivDesk.dll");
            EXPECT_NE(nullptr, plain);
            if (plain)
                FreeLibrary(plain);
        }
        EXPECT_EQ(loaded ? 1 : 0, Show(L"処理"));
        EXPECT_EQ(loaded ? 1u : 0u, ProgressDialogs().size());
        Desktop().endSpDialog();
        EXPECT_EQ(nullptr, GetModuleHandleA("KivDesk.dll"));
    }
}

TEST_F(ProgressDialog, MissingLibraryShowsNothing)
{
    SetDllDirectoryA("");   // neither the fixture folder nor the current one
    EXPECT_EQ(0, Show(L"処理"));
    EXPECT_TRUE(ProgressDialogs().empty());
    EXPECT_EQ(0, Desktop().endSpDialog());
}

#ifdef _WIN64
// Users have the application's library as a 32-bit file, which a 64-bit
// process cannot load: the 64-bit export answers as if it were missing.
TEST_F(ProgressDialog, ThirtyTwoBitLibraryIsTakenAsMissing)
{
    ASSERT_TRUE(FileExists(FixtureFolder("desk-32bit") + "\\KivDesk.dll"));
    SetDllDirectoryA(FixtureFolder("desk-32bit").c_str());
    EXPECT_EQ(0, Show(L"処理"));
    EXPECT_TRUE(ProgressDialogs().empty());
    EXPECT_EQ(nullptr, GetModuleHandleA("KivDesk.dll"));
}
#endif

TEST_F(ProgressDialog, MissingLibraryAlsoRemovesTheShownDialog)
{
    ASSERT_EQ(1, Show(L"処理"));
    SetDllDirectoryA("");
    EXPECT_EQ(0, Show(L"次"));
    EXPECT_TRUE(ProgressDialogs().empty());
}

}
