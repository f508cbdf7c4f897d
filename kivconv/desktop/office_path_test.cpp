#include "desktop_test.h"

namespace {

const char kOfficeKey[] = "SOFTWARE\\Microsoft\\Office\\8.0";

class OfficePath : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, Desktop().getOfficePath);
        DeleteKeys();
    }
    void TearDown() override { DeleteKeys(); }

    void DeleteKeys()
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kOfficeKey);
#ifdef _WIN64
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kOfficeKey, KEY_WOW64_32KEY, 0);
#endif
    }

    // view: the process's own (0), or KEY_WOW64_32KEY for the 32-bit one.
    void SetValue(DWORD type, const std::string& bytes, REGSAM view = 0)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kOfficeKey, 0, nullptr, 0,
                                                 KEY_WRITE | view, nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "BinDirPath", 0, type,
                                                reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
        RegCloseKey(key);
    }
    // A string value as the installer writes it: with its terminating zero.
    void SetPath(const std::string& path, REGSAM view = 0) { SetValue(REG_SZ, path + '\0', view); }

    std::string Path() { return TakeBytes(Desktop().getOfficePath()); }
};

TEST_F(OfficePath, EvenLengthComesBackAsItIs)
{
    SetPath("C:\\Office\\");
    EXPECT_EQ("C:\\Office\\", Path());
}

TEST_F(OfficePath, OddLengthKeepsOneZeroByte)
{
    SetPath("C:\\Office");
    EXPECT_EQ(std::string("C:\\Office\0", 10), Path());
}

TEST_F(OfficePath, JapaneseFolderBytesPassUnchanged)
{
    std::string path = "D:\\" + Sjis(L"事務ソフト") + "\\";
    SetPath(path);
    EXPECT_EQ(path, Path());
}

TEST_F(OfficePath, MissingKeyOrValueGivesAnEmptyResult)
{
    EXPECT_EQ("", Path());
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kOfficeKey, 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
    EXPECT_EQ("", Path());
}

TEST_F(OfficePath, ValueFillingTheRoomExactlyIsReturnedWhole)
{
    std::string odd(259, 'p');   // 260 bytes with its zero
    SetPath(odd);
    EXPECT_EQ(odd + '\0', Path());
    // Without a terminator the scan must still stop at the room's end.
    std::string full(260, 'q');
    SetValue(REG_BINARY, full);
    EXPECT_EQ(full, Path());
}

TEST_F(OfficePath, ValueTooLongForTheRoomGivesAnEmptyResult)
{
    SetPath(std::string(260, 'r'));   // 261 bytes with its zero
    EXPECT_EQ("", Path());
    SetPath(std::string(1000, 's'));
    EXPECT_EQ("", Path());
}

#ifdef _WIN64
// A 64-bit process reads the 64-bit view; only when the value is missing
// there does it take the 32-bit view, where a 32-bit office suite writes.
TEST_F(OfficePath, SixtyFourBitBuildFallsBackToTheThirtyTwoBitView)
{
    const std::string own = "C:\\Office64\\", wow = "C:\\Office32\\", tooLong(300, 'r');
    struct Case {
        const char* name;
        bool ownKey;   // the key exists in the 64-bit view
        const std::string* ownValue;
        const std::string* wowValue;
        std::string expect;
    } cases[] = {
        {"only in the 32-bit view", false, nullptr, &wow, wow},
        {"64-bit key without the value", true, nullptr, &wow, wow},
        {"in both views", true, &own, &wow, own},
        {"only in the 64-bit view", true, &own, nullptr, own},
        {"too long in the 64-bit view", true, &tooLong, &wow, ""},
        {"in neither", false, nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteKeys();
        if (c.ownKey) {
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kOfficeKey, 0, nullptr, 0, KEY_WRITE,
                                                     nullptr, &key, nullptr));
            RegCloseKey(key);
        }
        if (c.ownValue)
            SetPath(*c.ownValue);
        if (c.wowValue)
            SetPath(*c.wowValue, KEY_WOW64_32KEY);
        EXPECT_EQ(c.expect, Path());
    }
}
#endif

}
