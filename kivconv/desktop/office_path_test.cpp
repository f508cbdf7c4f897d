#include "desktop_test.h"

namespace {

const char kOfficeKey[] = "SOFTWARE\\Microsoft\\Office\\8.0";

class OfficePath : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, Desktop().getOfficePath);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kOfficeKey);
    }
    void TearDown() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kOfficeKey); }

    void SetValue(DWORD type, const std::string& bytes)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kOfficeKey, 0, nullptr, 0, KEY_WRITE,
                                                 nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "BinDirPath", 0, type,
                                                reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
        RegCloseKey(key);
    }
    // A string value as the installer writes it: with its terminating zero.
    void SetPath(const std::string& path) { SetValue(REG_SZ, path + '\0'); }

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

}
