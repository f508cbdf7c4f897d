// The driver's line settings as termios, row by row, from a record filled
// with zeros and with ones so that a bit left alone shows; and the speeds
// that termios cannot set, refused.
#include <gtest/gtest.h>
#include <cstring>
#include "posix_port.h"

namespace {

TEST(LineTermios, MapsEverySettingThroughTheTable)
{
    const tcflag_t frameBits = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL | CREAD;
    struct Row {
        LineSettings line;
        bool ok;
        speed_t speed;
        tcflag_t cflag;   // of frameBits
        tcflag_t iflag;   // of IXON | IXOFF | INPCK
    } rows[] = {
        {{9600, 'n', 8, 0, 0, 0}, true, B9600, CS8 | CLOCAL | CREAD, 0},
        {{9600, 'o', 8, 0, 0, 0}, true, B9600, CS8 | PARENB | PARODD | CLOCAL | CREAD, INPCK},
        {{19200, 'e', 7, 1, 1, 1},
         true,
         B19200,
         CS7 | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD,
         IXON | IXOFF | INPCK},
        {{115200, 'n', 8, 0, 0, 1}, true, B115200, CS8 | CLOCAL | CREAD, IXON | IXOFF},
        {{300, 'n', 7, 1, 1, 0}, true, B300, CS7 | CSTOPB | CRTSCTS | CLOCAL | CREAD, 0},
        {{12345, 'n', 8, 0, 0, 0}, false, 0, 0, 0},
        {{0, 'n', 8, 0, 0, 0}, false, 0, 0, 0},
        {{4000000000u, 'n', 8, 0, 0, 0}, false, 0, 0, 0},
    };
    for (const Row& row : rows) {
        for (int fill : {0x00, 0xFF}) {
            SCOPED_TRACE(std::to_string(row.line.baudRate) + row.line.parity + " fill " +
                         std::to_string(fill));
            struct termios t;
            memset(&t, fill, sizeof t);
            struct termios before = t;
            ASSERT_EQ(row.ok, LineToTermios(row.line, &t));
            if (!row.ok) {
                EXPECT_EQ(0, memcmp(&before, &t, sizeof t)) << "a refused speed changes nothing";
                continue;
            }
            EXPECT_EQ(row.speed, cfgetospeed(&t));
            EXPECT_EQ(row.speed, cfgetispeed(&t));
            EXPECT_EQ(row.cflag, t.c_cflag & frameBits);
            EXPECT_EQ(row.iflag, t.c_iflag & (IXON | IXOFF | INPCK));
            EXPECT_EQ(0u, t.c_lflag & (ICANON | ECHO | ISIG));
            EXPECT_EQ(0, t.c_cc[VMIN]);
            EXPECT_EQ(0, t.c_cc[VTIME]);
        }
    }
}

}
