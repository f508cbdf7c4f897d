// Reads, writes, the line status and purges of the open port. A write the
// port takes only in part keeps the rest here and counts it in the output
// queue; the poll loop hands it on as the port becomes writable. So the
// engine sees every write accepted whole and the queue drain at the line
// rate, as with a Windows driver's own output buffer.
#include <errno.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>
#include "posix_port.h"

bool outputBusy;
bool lineLost;

namespace {

std::vector<uint8_t> held;
size_t heldStart;   // held[heldStart..] is still to be written
// The counters at the last report: their growth is what the next report shows.
LineErrorCounts lastCounts;
bool haveCounts;

// The system's CE_ bits, as the engine reads them from clearCommError.
enum : uint32_t { CE_RXOVER = 0x01, CE_OVERRUN = 0x02, CE_RXPARITY = 0x04, CE_FRAME = 0x08, CE_BREAK = 0x10 };

uint32_t NewLineErrors(int fd)
{
    LineErrorCounts now;
    if (!haveCounts || !ReadLineErrorCounts(fd, &now))
        return 0;
    uint32_t errors = 0;
    if (now.frame != lastCounts.frame)
        errors |= CE_FRAME;
    if (now.parity != lastCounts.parity)
        errors |= CE_RXPARITY;
    if (now.overrun != lastCounts.overrun)
        errors |= CE_OVERRUN;
    if (now.brk != lastCounts.brk)
        errors |= CE_BREAK;
    if (now.bufferOverrun != lastCounts.bufferOverrun)
        errors |= CE_RXOVER;
    lastCounts = now;
    return errors;
}

// The errors of a port whose device is gone: a hung-up line, an unplugged adapter.
void NoteError(void)
{
    if (errno == EIO || errno == ENXIO || errno == ENODEV)
        lineLost = true;
}

void DropHeld(void)
{
    held.clear();
    heldStart = 0;
}

int32_t Read(KivHandle port, uint8_t* buffer, uint32_t max)
{
    int fd = PortFd(port);
    if (fd < 0 || max == 0)
        return 0;
    ssize_t n = read(fd, buffer, max);
    if (n < 0)
        NoteError();
    return n > 0 ? (int32_t)n : 0;
}

int32_t Write(KivHandle port, const uint8_t* buffer, uint32_t n)
{
    int fd = PortFd(port);
    if (fd < 0)
        return 0;
    if (n == 0)
        return 0;
    size_t done = 0;
    if (HeldOutput() == 0) {
        ssize_t w = write(fd, buffer, n);
        if (w < 0 && errno != EAGAIN && errno != EINTR) {
            NoteError();
            return -1;
        }
        done = w > 0 ? (size_t)w : 0;
    }
    held.insert(held.end(), buffer + done, buffer + n);
    outputBusy = true;
    return (int32_t)n;
}

int32_t Status(KivHandle port, PortStatus* status)
{
    int fd = PortFd(port);
    if (fd < 0)
        return 0;
    int inQueue = 0;
    if (ioctl(fd, FIONREAD, &inQueue) != 0) {
        NoteError();
        return 0;
    }
    *status = PortStatus{};
    status->inQueue = inQueue > 0 ? (uint32_t)inQueue : 0;
    status->outQueue = OutputQueue(fd);
    status->errors = NewLineErrors(fd);
    int lines = 0;
    if (portParams.line.ctsFlow && ioctl(fd, TIOCMGET, &lines) == 0)
        status->ctsHold = (lines & TIOCM_CTS) ? 0 : 1;
    return 1;
}

// The system's PURGE_ flags: an abort ends pending I/O, which here is only
// the held output; a clear empties the driver's queue as well.
void Purge(KivHandle port, uint32_t flags)
{
    int fd = PortFd(port);
    if (fd < 0)
        return;
    if (flags & (LINK_PURGE_TXABORT | LINK_PURGE_TXCLEAR))
        DropHeld();
    bool out = flags & LINK_PURGE_TXCLEAR;
    bool in = flags & LINK_PURGE_RXCLEAR;
    if (out || in)
        tcflush(fd, out && in ? TCIOFLUSH : out ? TCOFLUSH : TCIFLUSH);
}

int32_t PrepareLine(KivHandle port) { return PrepareIrLine(PortFd(port)); }

}

size_t HeldOutput(void) { return held.size() - heldStart; }

bool WriteHeldOutput(int fd)
{
    while (HeldOutput()) {
        ssize_t w = write(fd, held.data() + heldStart, HeldOutput());
        if (w < 0) {
            NoteError();
            return errno == EAGAIN || errno == EINTR;
        }
        heldStart += (size_t)w;
    }
    DropHeld();
    return true;
}

uint32_t OutputQueue(int fd)
{
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued < 0)
        queued = 0;
    return (uint32_t)queued + (uint32_t)HeldOutput();
}

void ResetPortIo(int fd)
{
    DropHeld();
    outputBusy = false;
    lineLost = false;
    haveCounts = fd >= 0 && ReadLineErrorCounts(fd, &lastCounts);
}

void InstallPosixPort(void)
{
    linkPlatform.readPort = Read;
    linkPlatform.writePort = Write;
    linkPlatform.clearCommError = Status;
    linkPlatform.purgePort = Purge;
    linkPlatform.prepareIrLine = PrepareLine;
}
