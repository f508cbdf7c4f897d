// The IR line device on the serial line: probed with 0xF0 (it answers 0xF4
// or 0xF5) after a pulse on RTS and DTR, then sent its 13 set-up bytes. The
// device's waits are fixed and short, so they are plain sleeps; its bytes
// move with waits bounded at one second, as the port's time-outs bound them
// on Windows.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <cstring>
#include "posix_port.h"

namespace {

const uint8_t kProbe = 0xF0;
const uint8_t kSetUp[13] = {0x0B, 0x21, 0x37, 0x45, 0x50, 0x64, 0x70, 0xD1, 0x56, 0xD0, 0x87, 0x91, 0x11};
const int kIoLimitMs = 1000;
const LineSettings kProbeLine = {9600, 'n', 8, 0, 0, 0};

void Lines(int fd, unsigned long request, int bits) { ioctl(fd, request, &bits); }

// Waits up to the I/O limit for the port to be ready; false when it was not.
bool AwaitPort(int fd, short events, uint64_t deadline)
{
    uint64_t now = NowMs();
    if (now >= deadline)
        return false;
    struct pollfd p = {fd, events, 0};
    return poll(&p, 1, (int)(deadline - now)) == 1 && (p.revents & events);
}

// Writes n bytes within the I/O limit; the bytes written.
size_t WriteWithin(int fd, const uint8_t* bytes, size_t n)
{
    uint64_t deadline = NowMs() + kIoLimitMs;
    size_t done = 0;
    while (done < n && AwaitPort(fd, POLLOUT, deadline)) {
        ssize_t w = write(fd, bytes + done, n - done);
        if (w < 0)
            break;
        done += (size_t)w;
    }
    return done;
}

// Gives the bytes the port still holds the time they take on the wire, so
// that the purge after them does not throw set-up bytes away.
void AwaitSent(int fd)
{
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0)
        PauseMs((uint32_t)(queued * 10 * 1000 / 9600) + 2);
}

// The byte the line device answered the probe with, or -1 for none.
int ProbeLineDevice(int fd)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0 || !LineToTermios(kProbeLine, &t) || tcsetattr(fd, TCSANOW, &t) != 0)
        return -1;
    Lines(fd, TIOCMBIS, TIOCM_RTS);
    Lines(fd, TIOCMBIS, TIOCM_DTR);
    PauseMs(100);
    Lines(fd, TIOCMBIC, TIOCM_RTS);
    PauseMs(50);
    Lines(fd, TIOCMBIS, TIOCM_RTS);
    PauseMs(50);
    Lines(fd, TIOCMBIC, TIOCM_DTR);

    if (WriteWithin(fd, &kProbe, 1) != 1)
        return -1;
    PauseMs(10);
    uint8_t answer = 0;
    if (!AwaitPort(fd, POLLIN, NowMs() + kIoLimitMs) || read(fd, &answer, 1) != 1)
        return -1;
    return answer;
}

bool IsLineDevice(int answer) { return answer == 0xF4 || answer == 0xF5; }

void RestoreLine(int fd, const struct termios& saved)
{
    tcsetattr(fd, TCSANOW, &saved);
    Lines(fd, TIOCMBIS, TIOCM_RTS);
    Lines(fd, TIOCMBIS, TIOCM_DTR);
}

void SetUpLineDevice(int fd)
{
    WriteWithin(fd, kSetUp, sizeof kSetUp);
    AwaitSent(fd);
    tcflush(fd, TCIOFLUSH);
    PauseMs(3);
    Lines(fd, TIOCMBIS, TIOCM_DTR);
    struct termios t;
    if (tcgetattr(fd, &t) == 0) {
        t.c_cflag |= PARENB | PARODD;
        tcsetattr(fd, TCSANOW, &t);
    }
    Lines(fd, TIOCMBIS, TIOCM_RTS);
    Lines(fd, TIOCMBIS, TIOCM_DTR);
}

}

int32_t PrepareIrLine(int fd)
{
    struct termios saved;
    if (fd < 0 || !isatty(fd) || tcgetattr(fd, &saved) != 0)
        return 0;
    if (IsLineDevice(ProbeLineDevice(fd))) {
        SetUpLineDevice(fd);
        return 1;
    }
    RestoreLine(fd, saved);
    return 0;
}

int ProbeIrLine(int fd)
{
    struct termios saved;
    if (fd < 0 || !isatty(fd) || tcgetattr(fd, &saved) != 0)
        return -1;
    int answer = ProbeLineDevice(fd);
    RestoreLine(fd, saved);
    return answer;
}
