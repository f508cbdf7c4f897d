#include "port_setup_test.h"
#include <string>
#include <vector>

namespace {

const std::string kIniPath = WindowsDirectoryFile("ruvodod.ini");

// The user's copy, in the application-data folder the environment names.
std::string UserIniPath()
{
    char buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("APPDATA", buf, sizeof buf);
    std::string folder(buf, n < sizeof buf ? n : 0);
    return folder + (folder.empty() || folder.back() == '\\' ? "" : "\\") + "ruvodod.ini";
}
const std::string kUserIniPath = UserIniPath();

// Removes both settings files, or the folders a test put in their place.
void RemoveInis()
{
    for (const std::string& path : {kIniPath, kUserIniPath}) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        RemoveDirectoryA(path.c_str());
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());   // drop cached copies
    }
}

std::string IniValue(const char* key, const std::string& path = kIniPath)
{
    char buf[256];
    GetPrivateProfileStringA("ComPort", key, "<missing>", buf, sizeof buf, path.c_str());
    return buf;
}

void IniWrite(const char* key, const char* value, const std::string& path = kIniPath)
{
    WritePrivateProfileStringA("ComPort", key, value, path.c_str());
}

class PortSetupIni : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, Port().load);
        ASSERT_NE(nullptr, Port().save);
        ASSERT_NE("ruvodod.ini", kUserIniPath) << "no application-data folder";
        RemoveInis();
    }
    void TearDown() override { RemoveInis(); }
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

// "PortNo" as the file on disk holds it.
std::string PortNoOnDisk(const std::string& path)
{
    std::string bytes = ReadFileBytes(path);
    size_t at = bytes.find("PortNo=");
    if (at == std::string::npos)
        return "<missing>";
    at += strlen("PortNo=");
    return bytes.substr(at, bytes.find_first_of("\r\n", at) - at);
}

// Where a save goes and what the next load reads: the Windows directory's
// file (holding port 3) writable or not, and the user's own copy absent,
// left from an earlier save (port 5), or unwritable (a folder in its place).
// Wine lets root write a read-only file, so the Windows directory's file is
// made unwritable as another program does it: held open for reading, with
// others allowed to read it only.
TEST_F(PortSetupIni, SaveFallsBackToTheUserFolderWhoseCopyLoadsFirst)
{
    enum UserCopy { ABSENT, EARLIER, UNWRITABLE };
    const struct {
        const char* what;
        bool windowsWritable;
        UserCopy user;
        int16_t saved;
        const char* windowsPort;   // "PortNo" in each file after the save
        const char* userPort;
        bool loadsUserCopy;   // else the Windows directory's file
        uint16_t loadedPort;
    } rows[] = {
        {"Windows directory writable", true, ABSENT, 1, "7", "<missing>", false, 7},
        {"Windows directory read-only", false, ABSENT, 1, "3", "7", true, 7},
        {"user copy from an earlier save", true, EARLIER, 1, "7", "7", true, 7},
        {"read-only, then the user copy", false, EARLIER, 1, "3", "7", true, 7},
        {"neither can be written", false, UNWRITABLE, 0, "3", "<missing>", false, 3},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        RemoveInis();
        IniWrite("PortNo", "3");
        HANDLE held = INVALID_HANDLE_VALUE;
        if (!r.windowsWritable) {
            held = CreateFileA(kIniPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
        }
        if (r.user == EARLIER)
            IniWrite("PortNo", "5", kUserIniPath);
        if (r.user == UNWRITABLE) {
            ASSERT_TRUE(CreateDirectoryA(kUserIniPath.c_str(), nullptr));
        }

        SetupBytes s = SetupBytes::Make(7, 2, 19200, 2, 7, 2, 1, 0);
        EXPECT_EQ(r.saved, Port().save(s.b));
        EXPECT_EQ(r.windowsPort, PortNoOnDisk(kIniPath));
        EXPECT_EQ(r.userPort, PortNoOnDisk(kUserIniPath));
        if (std::string(r.userPort) == "7") {
            // The same keys and texts as in the Windows directory.
            std::string texts;
            for (const char* key : {"IRMode", "IrDA", "Speed", "Parity", "Length", "Stop", "CSMon", "XFlow"})
                texts += IniValue(key, kUserIniPath) + " ";
            EXPECT_EQ("IR YES 19200 EVEN 7 2 ON OFF ", texts);
        }

        // Drop the copy the profile services keep in memory, while the file
        // still cannot be written, so the load reads what is on disk.
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, kIniPath.c_str());
        SetupBytes back;
        const std::string& file = r.loadsUserCopy ? kUserIniPath : kIniPath;   // its folder's length
        EXPECT_EQ((int16_t)(file.size() - strlen("ruvodod.ini")), Port().load(back.b));
        EXPECT_EQ(r.loadedPort, back.portNo());
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
    }
}

class SearchFreePort : public ::testing::Test {
protected:
    void SetUp() override
    {
        WidenComOpens(Port().dll);
        TakeComOpenNames();
    }
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
    // Through the device namespace, where COM10 and above are found too.
    EXPECT_EQ((std::vector<std::string>{"\\\\.\\COM1", "\\\\.\\COM2"}), TakeComOpenNames());

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
