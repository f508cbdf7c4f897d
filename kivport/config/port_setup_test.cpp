#include "port_setup_test.h"
#include <string>

namespace {

const std::string kIniPath = WindowsDirectoryFile("ruvodod.ini");

std::string IniValue(const char* key)
{
    char buf[256];
    GetPrivateProfileStringA("ComPort", key, "<missing>", buf, sizeof buf, kIniPath.c_str());
    return buf;
}

void IniWrite(const char* key, const char* value)
{
    WritePrivateProfileStringA("ComPort", key, value, kIniPath.c_str());
}

class PortSetupIni : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, Port().load);
        ASSERT_NE(nullptr, Port().save);
        DeleteFileA(kIniPath.c_str());
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, kIniPath.c_str());   // drop cached copies
    }
    void TearDown() override { DeleteFileA(kIniPath.c_str()); }
};

TEST_F(PortSetupIni, NoFileGivesDefaultsAndZero)
{
    SetupBytes s;
    memset(s.b, 0xAA, sizeof s.b);
    EXPECT_EQ(0, Port().load(s.b));
    EXPECT_EQ(1, s.portNo());
    EXPECT_EQ(1, s.irMode());
    EXPECT_EQ(9600, s.speed());
    EXPECT_EQ(0, s.parity());
    EXPECT_EQ(8, s.length());
    EXPECT_EQ(1, s.stop());
    EXPECT_EQ(0, s.csMon());
    EXPECT_EQ(1, s.xFlow());
}

TEST_F(PortSetupIni, ExistingFileReturnsTheWindowsDirectoryLength)
{
    IniWrite("PortNo", "3");
    SetupBytes s;
    char dir[MAX_PATH];
    UINT len = GetWindowsDirectoryA(dir, MAX_PATH);
    int16_t expected = (int16_t)(len + (dir[len - 1] == '\\' ? 0 : 1));
    EXPECT_EQ(expected, Port().load(s.b));
    EXPECT_EQ(3, s.portNo());
}

TEST_F(PortSetupIni, SaveWritesEveryKeyWithItsText)
{
    SetupBytes s = SetupBytes::Make(4, 2, 19200, 2, 7, 2, 1, 0);
    EXPECT_EQ(1, Port().save(s.b));
    EXPECT_EQ("4", IniValue("PortNo"));
    EXPECT_EQ("IR", IniValue("IRMode"));
    EXPECT_EQ("YES", IniValue("IrDA"));
    EXPECT_EQ("19200", IniValue("Speed"));
    EXPECT_EQ("EVEN", IniValue("Parity"));
    EXPECT_EQ("7", IniValue("Length"));
    EXPECT_EQ("2", IniValue("Stop"));
    EXPECT_EQ("ON", IniValue("CSMon"));
    EXPECT_EQ("OFF", IniValue("XFlow"));

    s = SetupBytes::Make(1, 1, 9600, 1, 8, 1, 0, 3);
    EXPECT_EQ(1, Port().save(s.b));
    EXPECT_EQ("NO", IniValue("IrDA"));
    EXPECT_EQ("ODD", IniValue("Parity"));
    EXPECT_EQ("OFF", IniValue("CSMon"));
    EXPECT_EQ("ON", IniValue("XFlow"));

    s = SetupBytes::Make(1, 0, 9600, 5, 8, 1, 0, 0);
    EXPECT_EQ(1, Port().save(s.b));
    EXPECT_EQ("NONE", IniValue("Parity"));
}

TEST_F(PortSetupIni, NumbersAreWrittenUnsignedAndSpeedSigned)
{
    SetupBytes s = SetupBytes::Make(65535, 0, -5, 0, 65534, 40000, 0, 0);
    EXPECT_EQ(1, Port().save(s.b));
    EXPECT_EQ("65535", IniValue("PortNo"));
    EXPECT_EQ("-5", IniValue("Speed"));
    EXPECT_EQ("65534", IniValue("Length"));
    EXPECT_EQ("40000", IniValue("Stop"));
}

TEST_F(PortSetupIni, IrModeRoundTripsAndCableLeavesIrdaAlone)
{
    for (uint16_t mode : {2, 1, 0}) {
        SetupBytes s = SetupBytes::Make(2, mode, 38400, 0, 8, 1, 0, 1);
        EXPECT_EQ(1, Port().save(s.b));
        SetupBytes back;
        Port().load(back.b);
        EXPECT_EQ(mode, back.irMode()) << "mode " << mode;
        EXPECT_EQ(38400, back.speed());
    }
    // The cable was saved last: "15", and the IrDA key kept from the IR save.
    EXPECT_EQ("15", IniValue("IRMode"));
    EXPECT_EQ("NO", IniValue("IrDA"));
}

TEST_F(PortSetupIni, TextsAreCaseSensitive)
{
    IniWrite("IRMode", "ir");
    IniWrite("IrDA", "YES");
    IniWrite("CSMon", "off");
    IniWrite("XFlow", "OFF");
    IniWrite("Parity", "even");
    SetupBytes s;
    Port().load(s.b);
    EXPECT_EQ(0, s.irMode());   // only "IR" means infrared
    EXPECT_EQ(1, s.csMon());    // only "OFF" means off
    EXPECT_EQ(0, s.xFlow());
    EXPECT_EQ(0, s.parity());

    IniWrite("IRMode", "IR");
    IniWrite("IrDA", "yes");
    IniWrite("Parity", "ODD");
    Port().load(s.b);
    EXPECT_EQ(1, s.irMode());
    EXPECT_EQ(1, s.parity());
}

TEST_F(PortSetupIni, MissingRecordIsRefusedWithoutWritingAnything)
{
    EXPECT_EQ(0, Port().load(nullptr));
    EXPECT_EQ(0, Port().save(nullptr));
    EXPECT_FALSE(FileExists(kIniPath));
}

TEST_F(PortSetupIni, SaveReportsAFailedWrite)
{
    // A directory where the INI file should be makes every write fail.
    ASSERT_TRUE(CreateDirectoryA(kIniPath.c_str(), nullptr));
    SetupBytes s = SetupBytes::Make(1, 0, 9600, 0, 8, 1, 0, 0);
    EXPECT_EQ(0, Port().save(s.b));
    RemoveDirectoryA(kIniPath.c_str());
}

class SearchFreePort : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (int n = 0; n <= 3; n++)
            MapComPort(n, nullptr);
    }
};

TEST_F(SearchFreePort, ZeroSearchesComOneToThree)
{
    ASSERT_NE(nullptr, Port().search);
    MapComPort(1, kMissingDevice);
    MapComPort(2, kOpenableDevice);
    MapComPort(3, kOpenableDevice);
    EXPECT_EQ(2, Port().search(0));

    MapComPort(1, kOpenableDevice);
    EXPECT_EQ(1, Port().search(0));

    MapComPort(1, nullptr);
    MapComPort(2, kMissingDevice);
    EXPECT_EQ(3, Port().search(0));

    MapComPort(3, nullptr);
    EXPECT_EQ(0, Port().search(0));
}

TEST_F(SearchFreePort, NumberProbesItsLastDigit)
{
    MapComPort(2, kOpenableDevice);
    MapComPort(3, kMissingDevice);
    EXPECT_EQ(2, Port().search(2));
    EXPECT_EQ(2, Port().search(12));
    EXPECT_EQ(0, Port().search(3));
    MapComPort(2, nullptr);
    EXPECT_EQ(0, Port().search(12));
}

}   // namespace
