#include "records.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

PortSetup MakeSetup(uint16_t port, uint16_t mode, int32_t speed, uint16_t parity, uint16_t length,
                uint16_t stop, uint16_t csmon, uint16_t xflow)
{
    return PortSetup{port, mode, speed, parity, length, stop, csmon, xflow};
}

// Marks every field so a test can see which ones a conversion left alone.
void Poison()
{
    memset(&portParams, 0, sizeof portParams);
    portParams.linkKind = 77;
    portParams.line = LineSettings{1, 'x', 99, 42, 42, 42};
}

TEST(PortSetupLayout, IsEighteenLittleEndianBytes)
{
    PortSetup s = MakeSetup(3, 2, 0x01020304, 1, 7, 2, 1, 0);
    unsigned char b[18];
    memcpy(b, &s, sizeof b);
    const unsigned char want[18] = {3, 0, 2, 0, 4, 3, 2, 1, 1, 0, 7, 0, 2, 0, 1, 0, 0, 0};
    EXPECT_EQ(0, memcmp(b, want, 18));
}

TEST(SetupToParams, IrOverrideForcesTheAdapterLine)
{
    Poison();
    PortSetup s = MakeSetup(4, 1, 38400, 2, 7, 2, 1, 1);
    EXPECT_TRUE(SetupToParams(&s, true));
    EXPECT_STREQ("COM4", portParams.portName);
    EXPECT_EQ(LINK_IR, portParams.linkKind);
    EXPECT_EQ(9600u, portParams.line.baudRate);
    EXPECT_EQ('o', portParams.line.parity);
    EXPECT_EQ(8, portParams.line.dataBits);
    EXPECT_EQ(0, portParams.line.twoStopBits);
    EXPECT_EQ(0, portParams.line.ctsFlow);
    EXPECT_EQ(0, portParams.line.xonXoff);

    // Even out-of-range fields do not matter then.
    s = MakeSetup(4, 1, 38400, 9, 9, 9, 1, 1);
    EXPECT_TRUE(SetupToParams(&s, true));
}

TEST(SetupToParams, IrWithoutOverrideKeepsTheRecordsLine)
{
    Poison();
    PortSetup s = MakeSetup(2, 1, 19200, 2, 7, 2, 1, 1);
    EXPECT_TRUE(SetupToParams(&s, false));
    EXPECT_EQ(LINK_IR, portParams.linkKind);
    EXPECT_EQ(19200u, portParams.line.baudRate);
    EXPECT_EQ('e', portParams.line.parity);
    EXPECT_EQ(7, portParams.line.dataBits);
    EXPECT_EQ(1, portParams.line.twoStopBits);
    EXPECT_EQ(1, portParams.line.ctsFlow);
    EXPECT_EQ(1, portParams.line.xonXoff);
}

TEST(SetupToParams, IrdaForcesRtsCtsWithoutXonXoff)
{
    for (uint16_t flags = 0; flags < 4; flags++) {
        Poison();
        PortSetup s = MakeSetup(1, 2, 115200, 0, 8, 1, flags & 1, flags >> 1);
        EXPECT_TRUE(SetupToParams(&s, true));
        EXPECT_EQ(LINK_IRDA, portParams.linkKind);
        EXPECT_EQ(115200u, portParams.line.baudRate);
        EXPECT_EQ(1, portParams.line.ctsFlow);
        EXPECT_EQ(0, portParams.line.xonXoff);
    }
}

TEST(SetupToParams, CableTakesEveryField)
{
    Poison();
    PortSetup s = MakeSetup(9, 0, 4800, 1, 8, 1, 0, 5);
    EXPECT_TRUE(SetupToParams(&s, true));
    EXPECT_EQ(LINK_CABLE, portParams.linkKind);
    EXPECT_EQ('o', portParams.line.parity);
    EXPECT_EQ(0, portParams.line.ctsFlow);
    EXPECT_EQ(1, portParams.line.xonXoff);   // any non-zero means on

    s.IRMode = 7;   // unknown modes are the cable
    EXPECT_TRUE(SetupToParams(&s, true));
    EXPECT_EQ(LINK_CABLE, portParams.linkKind);
}

TEST(SetupToParams, StopsAtTheFirstOutOfRangeField)
{
    Poison();
    PortSetup s = MakeSetup(1, 0, 2400, 0, 9, 1, 1, 1);
    EXPECT_FALSE(SetupToParams(&s, true));
    EXPECT_EQ(2400u, portParams.line.baudRate);
    EXPECT_EQ('n', portParams.line.parity);
    EXPECT_EQ(99, portParams.line.dataBits);
    EXPECT_EQ(42, portParams.line.twoStopBits);
    EXPECT_EQ(42, portParams.line.ctsFlow);
    EXPECT_EQ(42, portParams.line.xonXoff);

    Poison();
    s = MakeSetup(1, 0, 2400, 3, 8, 1, 1, 1);
    EXPECT_FALSE(SetupToParams(&s, true));
    EXPECT_EQ('x', portParams.line.parity);
    EXPECT_EQ(99, portParams.line.dataBits);

    Poison();
    s = MakeSetup(1, 0, 2400, 2, 7, 0, 1, 1);
    EXPECT_FALSE(SetupToParams(&s, true));
    EXPECT_EQ(7, portParams.line.dataBits);
    EXPECT_EQ(42, portParams.line.twoStopBits);
}

TEST(SetupToParams, PortNameHasNoRangeCheck)
{
    PortSetup s = MakeSetup(65535, 0, 9600, 0, 8, 1, 0, 0);
    SetupToParams(&s, false);
    EXPECT_STREQ("COM65535", portParams.portName);
}

TEST(ParamsToSetup, ReadsBackOneDigitAndKeepsIrMode)
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

}  // namespace
