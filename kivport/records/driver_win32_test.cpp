#include "driver_win32.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

DCB Reported()
{
    // What a port driver might report: every member set to something.
    DCB dcb;
    memset(&dcb, 0xFF, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.Parity = MARKPARITY;
    dcb.XonChar = 0x21;
    dcb.XoffChar = 0x22;
    dcb.XonLim = 7;
    dcb.XoffLim = 9;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    return dcb;
}

TEST(ApplyLineSettings, CableWithXonXoff)
{
    DCB dcb = Reported();
    LineSettings line = {19200, 'e', 7, 1, 0, 1};
    ApplyLineSettings(dcb, &line);
    EXPECT_EQ(28u, sizeof(DCB));
    EXPECT_EQ(19200u, dcb.BaudRate);
    EXPECT_EQ(7, dcb.ByteSize);
    EXPECT_EQ(EVENPARITY, dcb.Parity);
    EXPECT_EQ(TWOSTOPBITS, dcb.StopBits);
    EXPECT_EQ(0u, dcb.fOutxCtsFlow);
    EXPECT_EQ((DWORD)RTS_CONTROL_ENABLE, dcb.fRtsControl);
    EXPECT_EQ(0u, dcb.fDsrSensitivity);
    EXPECT_EQ(1u, dcb.fOutX);
    EXPECT_EQ(1u, dcb.fInX);
    EXPECT_EQ(0x11, dcb.XonChar);
    EXPECT_EQ(0x13, dcb.XoffChar);
    EXPECT_EQ(513, dcb.XonLim);
    EXPECT_EQ(513, dcb.XoffLim);
    EXPECT_EQ(1u, dcb.fBinary);
    EXPECT_EQ(0u, dcb.fNull);
    EXPECT_EQ((DWORD)DTR_CONTROL_HANDSHAKE, dcb.fDtrControl);   // not ours to change
}

TEST(ApplyLineSettings, HandshakeWithoutXonXoffKeepsCharactersAndLimits)
{
    DCB dcb = Reported();
    LineSettings line = {9600, 'o', 8, 0, 1, 0};
    ApplyLineSettings(dcb, &line);
    EXPECT_EQ(ODDPARITY, dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
    EXPECT_EQ(1u, dcb.fOutxCtsFlow);
    EXPECT_EQ((DWORD)RTS_CONTROL_HANDSHAKE, dcb.fRtsControl);
    EXPECT_EQ(0u, dcb.fOutX);
    EXPECT_EQ(0u, dcb.fInX);
    EXPECT_EQ(0x21, dcb.XonChar);
    EXPECT_EQ(0x22, dcb.XoffChar);
    EXPECT_EQ(7, dcb.XonLim);
    EXPECT_EQ(9, dcb.XoffLim);
}

TEST(ApplyLineSettings, UnknownParityKeepsTheReportedOne)
{
    DCB dcb = Reported();
    LineSettings line = {9600, 'E', 8, 0, 0, 0};
    ApplyLineSettings(dcb, &line);
    EXPECT_EQ(MARKPARITY, dcb.Parity);
    line.parity = 'n';
    ApplyLineSettings(dcb, &line);
    EXPECT_EQ(NOPARITY, dcb.Parity);
}

}  // namespace
