#include "driver_win32.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

struct LineRow {
    LineSettings line;
    int parity;   // expected; -1: what the port driver reported stays
    BYTE stopBits;
    DWORD ctsFlow, rtsControl;
    bool xonXoff;   // sets fOutX, fInX, the characters and the limits
};

// The DCB that the row should leave, from the one the port driver reported.
DCB Expected(const LineRow& r, const DCB& reported)
{
    DCB want = reported;
    want.BaudRate = r.line.baudRate;
    want.ByteSize = r.line.dataBits;
    if (r.parity >= 0)
        want.Parity = (BYTE)r.parity;
    want.StopBits = r.stopBits;
    want.fOutxCtsFlow = r.ctsFlow;
    want.fRtsControl = r.rtsControl;
    want.fDsrSensitivity = 0;
    want.fOutX = want.fInX = r.xonXoff;
    if (r.xonXoff) {
        want.XonChar = 0x11;
        want.XoffChar = 0x13;
        want.XonLim = 513;
        want.XoffLim = 513;
    }
    want.fBinary = 1;
    want.fNull = 0;
    return want;
}

std::string Hex(const DCB& dcb)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < sizeof dcb; i++) {
        snprintf(b, sizeof b, "%02X ", ((const unsigned char*)&dcb)[i]);
        s += b;
    }
    return s;
}

// Every row runs on a DCB filled with 0x00 and on one filled with 0xFF, and
// the whole DCB is compared: a member changed that is not ours (fDtrControl,
// the XON/XOFF characters without XON/XOFF) or one forgotten shows in one of
// the two.
TEST(ApplyLineSettings, TableOfLineSettings)
{
    EXPECT_EQ(28u, sizeof(DCB));
    const LineRow rows[] = {
        {{19200, 'e', 7, 1, 0, 1}, EVENPARITY, TWOSTOPBITS, 0, RTS_CONTROL_ENABLE, true},
        {{9600, 'o', 8, 0, 1, 0}, ODDPARITY, ONESTOPBIT, 1, RTS_CONTROL_HANDSHAKE, false},
        {{115200, 'n', 8, 0, 1, 1}, NOPARITY, ONESTOPBIT, 1, RTS_CONTROL_HANDSHAKE, true},
        {{9600, 'E', 8, 0, 0, 0}, -1, ONESTOPBIT, 0, RTS_CONTROL_ENABLE, false},   // unknown parity
    };
    for (const LineRow& r : rows) {
        for (int fill : {0x00, 0xFF}) {
            DCB dcb;
            memset(&dcb, fill, sizeof dcb);
            DCB want = Expected(r, dcb);
            ApplyLineSettings(dcb, &r.line);
            EXPECT_EQ(0, memcmp(&want, &dcb, sizeof dcb))
                << r.line.baudRate << " " << r.line.parity << ", fill " << fill << "\n got  " << Hex(dcb)
                << "\n want " << Hex(want);
        }
    }
}

}   // namespace
