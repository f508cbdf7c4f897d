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
//   --vanish-after N [--vanish-wait MS]   the handheld goes quiet after N
//                     bytes of its role, and away (the line hangs up) MS later
//   --unlink-pause MS the link, found still this run's, is removed once
//                     another run has linked the path, or MS later
//   --leave-before-drain  the PC's output reads drained only once this run
//                     has gone
//   --replay FILE     the handheld's side of a session kiv traced; exit 3
//                     when kiv's bytes differ from the recording
//
// The slave stays open here for the whole run, unless the handheld vanishes: the pseudo-terminal must
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
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>
#include "../ptyshim/kivpty_line.h"
#include "kiv_version.h"
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

struct PtyLine {
    int master = -1;
    int slave = -1;
    std::string slavePath;
    std::string countPath;
    kivpty_line* count = nullptr;   // shared with the preload library
};

// The count of bytes taken off the line, in a file the preload library reads.
void ShareLineCount(PtyLine& line)
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

bool OpenLine(const SimRun& run, uint32_t baud, PtyLine& line)
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

std::string LinkTarget(const std::string& link)
{
    char target[256];
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return std::string(target, n > 0 ? n : 0);
}

void CloseLine(const SimRun& run, PtyLine& line)
{
    // Leave no link behind that a later run's pseudo-terminal could reuse.
    if (!line.slavePath.empty() && LinkTarget(run.link) == line.slavePath) {
        // Not atomic with the check: a run that links the same path before
        // this one has exited can lose its link here.
        uint64_t until = NowUs() + (uint64_t)run.unlinkPauseMs * 1000;
        while (NowUs() < until && LinkTarget(run.link) == line.slavePath)
            usleep(1000);
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

// The pump between the model and the master side, one pass at a time, each
// direction through its own pacer.
struct Pump {
    LinePacer tx, rx;
    std::vector<uint8_t> pendingOut;   // crossed the line, not yet written
    bool wantInput = true;
    bool wantOutput = false;
    int64_t vanishLeft = -1;   // role bytes still to cross before the handheld goes; -1: it stays
    uint64_t quietSince = 0;   // when they were spent
};

// Of n bytes about to cross, those that may before the handheld vanishes.
size_t BeforeVanishing(const SimHandheld& h, const Pump& p, size_t n)
{
    if (p.vanishLeft < 0 || h.stage != STAGE_ROLE)
        return n;
    return std::min(n, (size_t)p.vanishLeft);
}

void Crossed(const SimHandheld& h, Pump& p, size_t n)
{
    if (p.vanishLeft >= 0 && h.stage == STAGE_ROLE)
        p.vanishLeft -= (int64_t)n;
}

// What the line has carried from the handheld by now goes to the master.
// Returns when the next byte is due.
uint64_t PumpOutput(SimHandheld& h, PtyLine& line, Pump& p, uint64_t now)
{
    uint64_t next = HandheldPaceOutput(h, p.tx, now, p.pendingOut);
    p.wantOutput = false;
    size_t n = BeforeVanishing(h, p, p.pendingOut.size());
    if (n) {
        ssize_t w = write(line.master, p.pendingOut.data(), n);
        if (w > 0) {
            Crossed(h, p, (size_t)w);
            p.pendingOut.erase(p.pendingOut.begin(), p.pendingOut.begin() + w);
        }
        p.wantOutput = !p.pendingOut.empty();   // the PC's input queue is full
    }
    return next;
}

// The adapter's CTS, for the preload library to report: down once the role
// is done, so that the PC's IrDA send can tell the block has gone.
void ShareModemInputs(const SimHandheld& h, PtyLine& line)
{
    if (!line.count || !h.scenario.irdaAdapter)
        return;
    bool up = h.ctsUp && !HandheldFinished(h);
    uint32_t inputs = TIOCM_DSR | TIOCM_CAR | (up ? TIOCM_CTS : 0);
    __atomic_store_n(&line.count->inputs, inputs, __ATOMIC_RELEASE);
    __atomic_store_n(&line.count->drives, 1u, __ATOMIC_RELEASE);
}

// What the PC wrote reaches the handheld no faster than the line could have
// delivered it. Returns when the next byte is due.
uint64_t PumpInput(SimHandheld& h, PtyLine& line, Pump& p, uint64_t now)
{
    int avail = QueuedBytes(line.master);
    p.wantInput = true;
    uint32_t allow = PacerAllowance(p.rx, now, avail > 0 ? (uint32_t)avail : 0);
    allow = (uint32_t)BeforeVanishing(h, p, allow);
    if (allow > 0) {
        std::vector<uint8_t> buf(allow);
        ssize_t r = read(line.master, buf.data(), allow);
        if (r > 0) {
            Crossed(h, p, (size_t)r);
            PacerConsume(p.rx, (uint32_t)r, QueuedBytes(line.master) > 0);
            HandheldReceive(h, buf.data(), (size_t)r, now);
            // What these bytes did to the adapter's CTS is on the line before
            // the PC can see them gone: a UART whose queue has drained
            // already shows the hold they caused.
            ShareModemInputs(h, line);
            if (line.count)
                __atomic_add_fetch(&line.count->consumed, (uint64_t)r, __ATOMIC_RELEASE);
        }
    }
    if (avail <= 0 || QueuedBytes(line.master) == 0)
        return UINT64_MAX;
    p.wantInput = false;   // readable already; wake when the pacer allows
    return PacerNextUs(p.rx, now);
}

// One pass; returns the time of the next pass that has work.
uint64_t PumpOnce(SimHandheld& h, PtyLine& line, Pump& p, uint64_t now)
{
    ShareModemInputs(h, line);
    HandheldTick(h, now);
    uint64_t next = HandheldNextTickUs(h);
    next = std::min(next, PumpOutput(h, line, p, now));
    return std::min(next, PumpInput(h, line, p, now));
}

void WaitUntil(const PtyLine& line, const Pump& p, uint64_t now, uint64_t until)
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

// The flags, or the exit code when there is nothing to run.
bool ReadCommandLine(int argc, char** argv, SimScenario& scenario, SimRun& run, int& exitCode)
{
    std::string error;
    if (!ParseSimArgs(argc, argv, scenario, run, error)) {
        fprintf(stderr, "kivsim: %s\n%s", error.c_str(), kSimUsage);
        exitCode = 2;
        return false;
    }
    if (run.help) {
        fputs(kSimUsage, stdout);
        exitCode = 0;
        return false;
    }
    if (run.version) {
        puts("kivsim " KIV_VERSION_TEXT);
        exitCode = 0;
        return false;
    }
    return true;
}

void CatchSignals()
{
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    signal(SIGPIPE, SIG_IGN);
}

void AnnounceReady(const SimRun& run, const PtyLine& line)
{
    if (!run.ready.empty() &&
        !WriteTextFile(run.ready, "slave=" + line.slavePath + "\npid=" + std::to_string(getpid()) + "\n"))
        fprintf(stderr, "kivsim: cannot write %s\n", run.ready.c_str());
}

// Waits for the go file when there is one; the reason the run ended
// instead, or null.
const char* AwaitGo(const SimRun& run, uint64_t deadline)
{
    while (!run.go.empty() && !Exists(run.go)) {
        if (signalled || Exists(run.stop))
            return "stopped";
        if (NowUs() >= deadline)
            return "timeout";
        usleep(1000);
    }
    return nullptr;
}

// A stop from outside, or the run's bound: the reason, or null. The stop
// file is looked for every 20 ms.
const char* StopReason(const SimRun& run, uint64_t now, uint64_t deadline, uint64_t& lastStopCheck)
{
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
    return stop;
}

// Once the role is done: true when the PC has read what was sent and the
// line has lingered. Bytes written to the master reach the slave's queue a
// little later, so the queue must stay empty for a while to count as read.
bool ReadAndLingered(const SimRun& run, const PtyLine& line, uint64_t now, uint64_t& drainedAt)
{
    if (QueuedBytes(line.slave) != 0)
        drainedAt = 0;
    else if (drainedAt == 0)
        drainedAt = now;
    uint64_t settleUs = 20000 + (uint64_t)run.lingerMs * 1000;
    return drainedAt && now - drainedAt >= settleUs;
}

// The handheld goes away: once its role's bytes are spent nothing more
// crosses, and --vanish-wait later closing the master hangs the line up, so
// the PC's side reads a hang-up and its writes fail.
bool Vanish(SimHandheld& h, const SimRun& run, PtyLine& line, Pump& p, uint64_t now)
{
    if (!p.quietSince) {
        if (p.vanishLeft != 0 || h.stage != STAGE_ROLE)
            return false;
        p.quietSince = now;
        HandheldEvent(h, now, "quiet");
    }
    if (now - p.quietSince < (uint64_t)run.vanishWaitMs * 1000)
        return false;
    close(line.master);
    close(line.slave);
    line.master = line.slave = -1;
    HandheldStop(h, "vanished", now);
    return true;
}

// Plays the scenario on the line until the handheld is done and the PC has
// its bytes, or a stop or the bound ends it at once, whatever is still queued.
void PlayScenario(SimHandheld& h, const SimRun& run, PtyLine& line, uint64_t deadline)
{
    Pump pump;
    pump.vanishLeft = run.vanishAfter;
    PacerInit(pump.tx, h.scenario.line.baud, BitsPerByte(h.scenario.line));
    PacerInit(pump.rx, h.scenario.line.baud, BitsPerByte(h.scenario.line));
    uint64_t lastStopCheck = 0, drainedAt = 0;
    for (;;) {
        uint64_t now = NowUs();
        if (const char* stop = StopReason(run, now, deadline, lastStopCheck)) {
            HandheldStop(h, stop, now);
            return;
        }
        uint64_t next = PumpOnce(h, line, pump, now);
        if (Vanish(h, run, line, pump, now))
            return;
        if (HandheldFinished(h) && pump.pendingOut.empty()) {
            // Everything taken: the PC sees its output drain only once we have gone.
            if (run.leaveBeforeDrain && line.count)
                __atomic_store_n(&line.count->holdDrain, 1u, __ATOMIC_RELEASE);
            // An adapter stays on the line, CTS down, until it is stopped:
            // that CTS is how the PC learns its send is complete.
            // A PC that called the transfer off reads no more of it.
            if (!h.scenario.irdaAdapter && (h.ir.cancelled || ReadAndLingered(run, line, now, drainedAt)))
                return;
            next = now + 5000;
        }
        uint64_t until = std::min(next, now + 20000);
        WaitUntil(line, pump, now, std::min(until, deadline));
    }
}

// A replay that kiv did not follow: why, on stderr, and the exit status 3.
int ReplayStatus(const SimHandheld& h)
{
    if (h.scenario.role != ROLE_REPLAY)
        return 0;
    std::string failure = ReplayFailure(h);
    if (failure.empty())
        return 0;
    fprintf(stderr, "kivsim: %s\n", failure.c_str());
    return 3;
}

bool SaveRecord(const SimHandheld& h, const SimRun& run)
{
    if (run.record.empty() || WriteRecord(h, run.record))
        return true;
    fprintf(stderr, "kivsim: cannot write the record %s\n", run.record.c_str());
    return false;
}

}   // namespace

int main(int argc, char** argv)
{
    SimScenario scenario;
    SimRun run;
    int exitCode = 0;
    if (!ReadCommandLine(argc, argv, scenario, run, exitCode))
        return exitCode;
    CatchSignals();
    PtyLine line;
    if (!OpenLine(run, scenario.line.baud, line)) {
        CloseLine(run, line);
        return 1;
    }
    uint64_t deadline = NowUs() + (uint64_t)run.timeoutMs * 1000;
    AnnounceReady(run, line);
    const char* early = AwaitGo(run, deadline);
    SimHandheld h;
    HandheldStart(h, scenario, NowUs());
    if (early)
        HandheldStop(h, early, NowUs());
    else
        PlayScenario(h, run, line, deadline);
    bool recorded = SaveRecord(h, run);
    CloseLine(run, line);
    int replayed = ReplayStatus(h);
    return !recorded ? 1 : replayed;
}
