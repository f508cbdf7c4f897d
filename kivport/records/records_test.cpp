#include "records.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

PortSetup MakeSetup(uint16_t port, uint16_t mode, int32_t speed, uint16_t parity, uint16_t length,
                    uint16_t stop, uint16_t csmon, uint16_t xflow)
{
    return PortSetup{port, mode, speed, parity, length, stop, csmon, xflow};
}

TEST(PortSetupLayout, IsEighteenLittleEndianBytes)
{
    PortSetup s = MakeSetup(3, 2, 0x01020304, 1, 7, 2, 1, 0);
    unsigned char b[18];
    memcpy(b, &s, sizeof b);
    const unsigned char want[18] = {3, 0, 2, 0, 4, 3, 2, 1, 1, 0, 7, 0, 2, 0, 1, 0, 0, 0};
    EXPECT_EQ(0, memcmp(b, want, 18));
}

const long kKept = -1;   // the member keeps what portParams held before

struct SetupRow {
    PortSetup setup;
    bool irOverride, ok;
    const char* portName;
    long linkKind, baudRate, parity, dataBits, twoStopBits, ctsFlow, xonXoff;
};

// portParams after the row, from a record filled with fill: the row's values,
// the fill where the row says kKept.
void CheckParams(const SetupRow& r, int fill)
{
    char name[sizeof portParams.portName];
    memset(name, fill, sizeof name);
    memcpy(name, r.portName, strlen(r.portName) + 1);
    EXPECT_EQ(0, memcmp(name, portParams.portName, sizeof name)) << portParams.portName;
    auto want = [fill](long value, long filled) { return value == kKept ? filled : value; };
    const long f8 = fill, f32 = fill ? -1 : 0, u32 = fill ? 0xFFFFFFFFL : 0;
    EXPECT_EQ(want(r.linkKind, f32), portParams.linkKind);
    EXPECT_EQ(want(r.baudRate, u32), (long)portParams.line.baudRate);
    EXPECT_EQ(want(r.parity, (char)f8), portParams.line.parity);
    EXPECT_EQ(want(r.dataBits, f8), portParams.line.dataBits);
    EXPECT_EQ(want(r.twoStopBits, f32), portParams.line.twoStopBits);
    EXPECT_EQ(want(r.ctsFlow, f32), portParams.line.ctsFlow);
    EXPECT_EQ(want(r.xonXoff, f32), portParams.line.xonXoff);
}

// Every row runs twice, from a portParams filled with 0x00 and with 0xFF, so
// a member set where it should be kept, or kept where it should be set, shows.
TEST(SetupToParams, TableOfSetups)
{
    const long K = kKept;
    const SetupRow rows[] = {
        // IR with the override: the adapter's 9600 8O1 whatever the record says.
        {MakeSetup(4, 1, 38400, 2, 7, 2, 1, 1), true, true, "COM4", LINK_IR, 9600, 'o', 8, 0, 0, 0},
        {MakeSetup(4, 1, 38400, 9, 9, 9, 1, 1), true, true, "COM4", LINK_IR, 9600, 'o', 8, 0, 0, 0},
        // IR without it keeps the record's line.
        {MakeSetup(2, 1, 19200, 2, 7, 2, 1, 1), false, true, "COM2", LINK_IR, 19200, 'e', 7, 1, 1, 1},
        // IrDA forces RTS/CTS without XON/XOFF.
        {MakeSetup(1, 2, 115200, 0, 8, 1, 0, 0), true, true, "COM1", LINK_IRDA, 115200, 'n', 8, 0, 1, 0},
        {MakeSetup(1, 2, 115200, 0, 8, 1, 1, 0), true, true, "COM1", LINK_IRDA, 115200, 'n', 8, 0, 1, 0},
        {MakeSetup(1, 2, 115200, 0, 8, 1, 0, 1), true, true, "COM1", LINK_IRDA, 115200, 'n', 8, 0, 1, 0},
        {MakeSetup(1, 2, 115200, 0, 8, 1, 1, 1), true, true, "COM1", LINK_IRDA, 115200, 'n', 8, 0, 1, 0},
        // The cable takes every field; any non-zero flag means on; unknown modes are the cable.
        {MakeSetup(9, 0, 4800, 1, 8, 1, 0, 5), true, true, "COM9", LINK_CABLE, 4800, 'o', 8, 0, 0, 1},
        {MakeSetup(9, 7, 4800, 1, 8, 1, 0, 5), true, true, "COM9", LINK_CABLE, 4800, 'o', 8, 0, 0, 1},
        // The first out-of-range field stops the conversion; later members are kept.
        {MakeSetup(1, 0, 2400, 0, 9, 1, 1, 1), true, false, "COM1", LINK_CABLE, 2400, 'n', K, K, K, K},
        {MakeSetup(1, 0, 2400, 3, 8, 1, 1, 1), true, false, "COM1", LINK_CABLE, 2400, K, K, K, K, K},
        {MakeSetup(1, 0, 2400, 2, 7, 0, 1, 1), true, false, "COM1", LINK_CABLE, 2400, 'e', 7, K, K, K},
        // The port number has no range check.
        {MakeSetup(65535, 0, 9600, 0, 8, 1, 0, 0), false, true, "COM65535", LINK_CABLE, 9600, 'n', 8, 0, 0,
         0},
    };
    for (const SetupRow& r : rows) {
        for (int fill : {0x00, 0xFF}) {
            SCOPED_TRACE(testing::Message()
                         << r.portName << " mode " << r.setup.IRMode << " parity " << r.setup.Parity
                         << " length " << r.setup.Length << " stop " << r.setup.Stop << " fill " << fill);
            memset(&portParams, fill, sizeof portParams);
            EXPECT_EQ(r.ok, SetupToParams(&r.setup, r.irOverride));
            CheckParams(r, fill);
        }
    }
}

TEST(ParamsToSetup, ReadsBackTheSettingsAndKeepsIrMode)
{
    PortSetup in = MakeSetup(7, 0, 57600, 2, 7, 2, 1, 0);
    SetupToParams(&in, false);
    PortSetup out = MakeSetup(0, 2, 0, 0, 0, 0, 0, 0);
    ParamsToSetup(&out);
    EXPECT_EQ(7, out.PortNo);
    EXPECT_EQ(2, out.IRMode);
    EXPECT_EQ(57600, out.Speed);
    EXPECT_EQ(2, out.Parity);
    EXPECT_EQ(7, out.Length);
    EXPECT_EQ(2, out.Stop);
    EXPECT_EQ(1, out.CSMon);
    EXPECT_EQ(0, out.XFlow);
}

TEST(ParamsToSetup, ParityIgnoresCaseFlowsMustBeExactlyOne)
{
    strcpy(portParams.portName, "COM3");
    portParams.line = LineSettings{9600, 'E', 8, 0, 2, 1};
    PortSetup out = {};
    ParamsToSetup(&out);
    EXPECT_EQ(2, out.Parity);
    EXPECT_EQ(1, out.Stop);
    EXPECT_EQ(0, out.CSMon);
    EXPECT_EQ(1, out.XFlow);
    portParams.line.parity = 'O';
    ParamsToSetup(&out);
    EXPECT_EQ(1, out.Parity);
    portParams.line.parity = '?';
    ParamsToSetup(&out);
    EXPECT_EQ(0, out.Parity);
}

// The number after "COM", every digit of it, as the setup dialog hands a
// typed port name back.
TEST(ParamsToSetup, PortNumberReadsEveryDigit)
{
    const struct {
        const char* name;
        uint16_t portNo;
    } rows[] = {
        {"COM1", 1},     {"COM9", 9},  {"COM10", 10}, {"COM12", 12}, {"COM256", 256}, {"COM65535", 65535},
        {"COM65536", 0}, {"COM2x", 2}, {"COM", 0},    {"", 0},       {"COMx1", 0},
    };
    for (const auto& r : rows) {
        memset(portParams.portName, 0x55, sizeof portParams.portName);
        strcpy(portParams.portName, r.name);
        PortSetup out = MakeSetup(99, 0, 0, 0, 0, 0, 0, 0);
        ParamsToSetup(&out);
        EXPECT_EQ(r.portNo, out.PortNo) << r.name;
    }
}

}   // namespace
