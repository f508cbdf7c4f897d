// kivsim: the simulated handheld on a pseudo-terminal, for the link driver's
// tests under Wine and for anyone writing macros against the driver without
// a device. It opens a pseudo-terminal, links its slave where the COM port is
// mapped, plays one scenario on the master side with the line paced to the
// configured rate, writes a record and exits.
//
//   kivsim --link $WINEPREFIX/dosdevices/com5 --ready /tmp/x/ready
//          --record /tmp/x/rec --role send --size 4096 --eof --baud 38400
//
// Flags (also `kivsim --help`):
//   --link PATH       symlink made to the slave (required)
//   --ready FILE      written ("slave=...", "pid=...") once the line is up
//   --record PREFIX   PREFIX.bin received, PREFIX.sent sent, PREFIX.log events
//                     (the log appears last, whole)
//   --go FILE         the role starts once FILE exists; --stop FILE ends the run
//   --timeout MS      bound of the whole run (default 60000)
//   --linger MS       line kept up after the PC read the last byte (default 300)
//   --baud N --format 8N1   line rate and frame (0 baud: unpaced)
//   --role silent|send|receive
//   send:    --data FILE | --size N [--pattern text|binary] [--seed N],
//            --eof, --piece N, --gap MS, --delay MS
//   receive: --count N, --no-eof-stop, --silence MS, --inject HEX --inject-after N
//   IR line device first: --probe-answer f4|f5|HEX|none
//
// The slave stays open here for the whole run: the pseudo-terminal must
// survive the driver opening and closing the port, and bytes written to the
// master would be lost if the slave side hung up. Event times in the record
// are CLOCK_MONOTONIC milliseconds, the clock the preload library's log uses.
// kivsim also keeps a count of the bytes it took off the line where the
// preload library in the driver's process finds it, so that the driver sees
// a UART's output queue drain at the line rate.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>
#include "../ptyshim/kivpty_line.h"
#include "sim_data.h"
#include "sim_options.h"

namespace {

volatile sig_atomic_t signalled;

void OnSignal(int) { signalled = 1; }

uint64_t NowUs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

speed_t SpeedCode(uint32_t baud)
{
    static const struct {
        uint32_t bps;
        speed_t code;
    } table[] = {
        {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
        {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
    };
    for (const auto& row : table)
        if (row.bps == baud)
            return row.code;
    return B9600;
}

// The slave in raw mode from the start, so that nothing is echoed or
// translated before the driver configures the port itself.
void MakeRaw(int fd, uint32_t baud)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&t, SpeedCode(baud));
    tcsetattr(fd, TCSANOW, &t);
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    std::string tmp = path + ".tmp";
    FILE* f = fopen(tmp.c_str(), "w");
    if (!f)
        return false;
    fputs(text.c_str(), f);
    if (fclose(f) != 0)
        return false;
    return rename(tmp.c_str(), path.c_str()) == 0;
}

int QueuedBytes(int fd)
{
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

struct Line {
    int master = -1;
    int slave = -1;
    std::string slavePath;
    std::string countPath;
    kivpty_line* count = nullptr;   // shared with the preload library
};

// The count of bytes taken off the line, in a file the preload library reads.
void ShareLineCount(Line& line)
{
    int pts = atoi(line.slavePath.c_str() + strlen("/dev/pts/"));
    char path[64];
    snprintf(path, sizeof path, KIVPTY_LINE_PATH, pts);
    int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, sizeof(kivpty_line)) != 0) {
        if (fd >= 0)
            close(fd);
        return;
    }
    void* p = mmap(nullptr, sizeof(kivpty_line), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED)
        return;
    line.countPath = path;
    line.count = static_cast<kivpty_line*>(p);
    line.count->consumed = 0;
    line.count->owner = (uint32_t)getpid();
    line.count->magic = KIVPTY_LINE_MAGIC;
}

bool OpenLine(const SimRun& run, uint32_t baud, Line& line)
{
    line.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line.master < 0 || grantpt(line.master) != 0 || unlockpt(line.master) != 0) {
        perror("kivsim: pseudo-terminal");
        return false;
    }
    line.slavePath = ptsname(line.master);
    line.slave = open(line.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line.slave < 0) {
        perror("kivsim: slave");
        return false;
    }
    MakeRaw(line.slave, baud);
    ShareLineCount(line);
    unlink(run.link.c_str());
    if (symlink(line.slavePath.c_str(), run.link.c_str()) != 0) {
        fprintf(stderr, "kivsim: cannot link %s: %s\n", run.link.c_str(), strerror(errno));
        return false;
    }
    return true;
}

void CloseLine(const SimRun& run, Line& line)
{
    // Leave no link behind that a later run's pseudo-terminal could reuse.
    char target[256];
    ssize_t n = readlink(run.link.c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = 0;
        if (line.slavePath == target)
            unlink(run.link.c_str());
    }
    if (line.count) {
        unlink(line.countPath.c_str());
        munmap(line.count, sizeof(kivpty_line));
    }
    if (line.slave >= 0)
        close(line.slave);
    if (line.master >= 0)
        close(line.master);
}

// The pump between the model and the master side, one pass. Returns the time
// of the next pass that has work, and whether to wait for input.
struct Pump {
    SimPacer tx, rx;
    std::vector<uint8_t> pendingOut;   // crossed the line, not yet written
    bool wantInput = true;
    bool wantOutput = false;
};

uint64_t PumpOnce(SimHandheld& h, Line& line, Pump& p, uint64_t now)
{
    HandheldTick(h, now);
    uint64_t next = HandheldNextTickUs(h);

    // Output: what the line has carried by now goes to the master.
    size_t waiting = HandheldOutputWaiting(h);
    if (waiting > 0) {
        uint32_t allow = PacerAllowance(p.tx, now, (uint32_t)waiting);
        if (allow > 0) {
            size_t old = p.pendingOut.size();
            p.pendingOut.resize(old + allow);
            size_t n = HandheldTakeOutput(h, p.pendingOut.data() + old, allow, now);
            p.pendingOut.resize(old + n);
            PacerConsume(p.tx, (uint32_t)n, HandheldOutputWaiting(h) > 0);
        }
        if (HandheldOutputWaiting(h) > 0) {
            uint64_t due = PacerNextUs(p.tx, now);
            next = due < next ? due : next;
        }
    }
    p.wantOutput = false;
    if (!p.pendingOut.empty()) {
        ssize_t w = write(line.master, p.pendingOut.data(), p.pendingOut.size());
        if (w > 0)
            p.pendingOut.erase(p.pendingOut.begin(), p.pendingOut.begin() + w);
        p.wantOutput = !p.pendingOut.empty();   // the PC's input queue is full
    }

    // Input: no faster than the line could have delivered it.
    int avail = QueuedBytes(line.master);
    p.wantInput = true;
    if (avail > 0) {
        uint32_t allow = PacerAllowance(p.rx, now, (uint32_t)avail);
        if (allow > 0) {
            std::vector<uint8_t> buf(allow);
            ssize_t r = read(line.master, buf.data(), allow);
            if (r > 0) {
                if (line.count)
                    __atomic_add_fetch(&line.count->consumed, (uint64_t)r, __ATOMIC_RELEASE);
                PacerConsume(p.rx, (uint32_t)r, QueuedBytes(line.master) > 0);
                HandheldReceive(h, buf.data(), (size_t)r, now);
            }
        }
        if (QueuedBytes(line.master) > 0) {
            p.wantInput = false;   // readable already; wake when the pacer allows
            uint64_t due = PacerNextUs(p.rx, now);
            next = due < next ? due : next;
        }
    }
    return next;
}

void WaitUntil(const Line& line, const Pump& p, uint64_t now, uint64_t until)
{
    // Never sleep for less than two milliseconds: the pacer catches up in
    // bursts, which the driver, reading what is queued, cannot tell from
    // steady flow.
    uint64_t span = until > now ? until - now : 0;
    if (span < 2000)
        span = 2000;
    struct pollfd pfd = {line.master, 0, 0};
    if (p.wantInput)
        pfd.events |= POLLIN;
    if (p.wantOutput)
        pfd.events |= POLLOUT;
    struct timespec ts = {(time_t)(span / 1000000), (long)(span % 1000000) * 1000};
    ppoll(&pfd, 1, &ts, nullptr);
}

}   // namespace

int main(int argc, char** argv)
{
    SimScenario scenario;
    SimRun run;
    std::string error;
    if (!ParseSimArgs(argc, argv, scenario, run, error)) {
        fprintf(stderr, "kivsim: %s\n%s", error.c_str(), kSimUsage);
        return 2;
    }
    if (run.help) {
        fputs(kSimUsage, stdout);
        return 0;
    }
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    signal(SIGPIPE, SIG_IGN);

    Line line;
    if (!OpenLine(run, scenario.line.baud, line)) {
        CloseLine(run, line);
        return 1;
    }
    uint64_t start = NowUs();
    uint64_t deadline = start + (uint64_t)run.timeoutMs * 1000;
    if (!run.ready.empty() &&
        !WriteTextFile(run.ready, "slave=" + line.slavePath + "\npid=" + std::to_string(getpid()) + "\n"))
        fprintf(stderr, "kivsim: cannot write %s\n", run.ready.c_str());

    SimHandheld h;
    const char* early = nullptr;
    while (!run.go.empty() && !Exists(run.go) && !early) {
        if (signalled || Exists(run.stop))
            early = "stopped";
        else if (NowUs() >= deadline)
            early = "timeout";
        else
            usleep(1000);
    }
    HandheldStart(h, scenario, NowUs());
    if (early)
        HandheldStop(h, early, NowUs());

    Pump pump;
    PacerInit(pump.tx, scenario.line);
    PacerInit(pump.rx, scenario.line);
    uint64_t lastStopCheck = 0, drainedAt = 0;
    for (;;) {
        uint64_t now = NowUs();
        // A stop from outside ends the run at once, whatever is still queued.
        const char* stop = nullptr;
        if (signalled)
            stop = "stopped";
        if (now - lastStopCheck >= 20000) {
            lastStopCheck = now;
            if (Exists(run.stop))
                stop = "stopped";
        }
        if (now >= deadline)
            stop = "timeout";
        if (stop || early) {
            HandheldStop(h, stop ? stop : early, now);
            break;
        }
        uint64_t next = PumpOnce(h, line, pump, now);
        if (HandheldFinished(h) && pump.pendingOut.empty()) {
            // Done: wait until the PC has read what we sent, then linger so
            // that it can close the port before the line goes away. Bytes
            // written to the master reach the slave's queue a little later,
            // so the queue must stay empty for a while to count as read.
            if (QueuedBytes(line.slave) != 0)
                drainedAt = 0;
            else if (drainedAt == 0)
                drainedAt = now;
            uint64_t settleUs = 20000 + (uint64_t)run.lingerMs * 1000;
            if (drainedAt && now - drainedAt >= settleUs)
                break;
            next = now + 5000;
        }
        uint64_t until = next < now + 20000 ? next : now + 20000;
        WaitUntil(line, pump, now, until < deadline ? until : deadline);
    }
    bool recorded = run.record.empty() || WriteRecord(h, run.record);
    if (!recorded)
        fprintf(stderr, "kivsim: cannot write the record %s\n", run.record.c_str());
    CloseLine(run, line);
    return recorded ? 0 : 1;
}
