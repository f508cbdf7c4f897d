// Opening and closing the port of a transfer. The port is held exclusively
// (TIOCEXCL for other openers, an flock lock for other programs that take
// it the same way), its settings are saved first and put back at close, so
// a terminal program that uses the port afterwards finds it as it was. The
// close never blocks: what the bounded drain left in the driver's queue is
// discarded first, so no byte goes out at the restored speed and the
// driver's closing wait finds nothing to wait for, even with the output
// stopped by XOFF or a low CTS.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include "posix_port.h"

namespace {

// The settings the port had before it was opened; restored at close.
struct termios savedSettings;
bool haveSaved;

PortOpenError OpenErrorOf(int err)
{
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return PORT_NOT_FOUND;
    case EACCES:
    case EPERM: return PORT_NO_PERMISSION;
    case EBUSY:
    case EWOULDBLOCK: return PORT_BUSY;
    case ENOTTY: return PORT_NOT_SERIAL;
    default: return PORT_FAILED;
    }
}

int Fail(int fd, PortOpenError reason, int err, PortOpenError* error, int* sysError)
{
    if (fd >= 0)
        close(fd);
    *error = reason;
    *sysError = err;
    return -1;
}

void ModemLines(int fd, unsigned long request)
{
    int bits = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, request, &bits);   // a port without modem lines has nothing to drop
}

}

KivHandle PortHandle(int fd) { return (KivHandle)(intptr_t)fd; }

int PortFd(KivHandle port) { return port == KIV_INVALID_HANDLE ? -1 : (int)(intptr_t)port; }

int OpenSerialPort(const char* path, const LineSettings& line, PortOpenError* error, int* sysError)
{
    struct termios t;
    if (!LineToTermios(line, &t))
        return Fail(-1, PORT_BAD_SPEED, EINVAL, error, sysError);
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail(-1, OpenErrorOf(errno), errno, error, sysError);
    if (!isatty(fd))
        return Fail(fd, PORT_NOT_SERIAL, ENOTTY, error, sysError);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return Fail(fd, PORT_BUSY, errno, error, sysError);
    ioctl(fd, TIOCEXCL);
    if (tcgetattr(fd, &savedSettings) != 0)
        return Fail(fd, PORT_NOT_SERIAL, errno, error, sysError);
    haveSaved = true;
    ModemLines(fd, TIOCMBIS);
    struct termios current = savedSettings;
    LineToTermios(line, &current);
    if (tcsetattr(fd, TCSANOW, &current) != 0) {
        int err = errno;
        CloseSerialPort(fd);
        return Fail(-1, PORT_FAILED, err, error, sysError);
    }
    ResetPortIo(fd);
    *error = PORT_OPENED;
    *sysError = 0;
    return fd;
}

void CloseSerialPort(int fd)
{
    if (fd < 0)
        return;
    ResetPortIo(-1);
    // What is left is discarded, and output an XOFF stopped goes on with
    // nothing to send, so the driver's closing wait has nothing to wait for.
    // Only then: a pseudo-terminal's queue always reads empty, and a flush
    // there takes what the other side has not read yet.
    if (OutputQueue(fd))
        tcflush(fd, TCOFLUSH);
    tcflow(fd, TCOON);
    ModemLines(fd, TIOCMBIC);
    if (haveSaved)
        tcsetattr(fd, TCSANOW, &savedSettings);
    haveSaved = false;
    ioctl(fd, TIOCNXCL);
    close(fd);
}
