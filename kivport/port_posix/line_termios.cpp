// The driver's line settings as termios, through one table per setting, so
// that the mapping is read and tested in one place.
#include "posix_port.h"

namespace {

struct SpeedRow {
    uint32_t baud;
    speed_t code;
};
const SpeedRow kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

struct ParityRow {
    char letter;
    tcflag_t cflag;
};
const ParityRow kParities[] = {{'n', 0}, {'o', PARENB | PARODD}, {'e', PARENB}};

}

bool SpeedCode(uint32_t baud, speed_t* code)
{
    for (const SpeedRow& row : kSpeeds) {
        if (row.baud == baud) {
            *code = row.code;
            return true;
        }
    }
    return false;
}

uint32_t BitsPerByte(const LineSettings& line)
{
    return 1 + line.dataBits + (line.parity == 'n' ? 0 : 1) + (line.twoStopBits ? 2 : 1);
}

bool LineToTermios(const LineSettings& line, struct termios* t)
{
    speed_t speed;
    if (!SpeedCode(line.baudRate, &speed))
        return false;
    cfmakeraw(t);
    t->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t->c_cflag |= CLOCAL | CREAD | (line.dataBits == 7 ? CS7 : CS8);
    for (const ParityRow& row : kParities)
        if (row.letter == line.parity)
            t->c_cflag |= row.cflag;
    if (line.twoStopBits)
        t->c_cflag |= CSTOPB;
    if (line.ctsFlow)
        t->c_cflag |= CRTSCTS;
    t->c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (line.xonXoff)
        t->c_iflag |= IXON | IXOFF;
    // A parity error reaches the error counters, not the data.
    if (line.parity != 'n')
        t->c_iflag |= INPCK;
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
    cfsetispeed(t, speed);
    cfsetospeed(t, speed);
    return true;
}
