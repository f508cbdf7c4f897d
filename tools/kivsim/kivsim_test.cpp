// kivsim run as the tests under Wine run it, with this test on the slave side
// of its pseudo-terminal in the driver's place: the line paced to the frame
// format in both directions (through the same pacer as the in-process line,
// which runs the same rows), the IR line device's probe answers, and the
// receive role's end byte and its bytes sent during a PC send; and the
// preload library's view of a line whose kivsim has gone.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "../ptyshim/kivpty_line.h"
#include "kiv_version.h"
#include "line_pacer.h"
#include "link_sim.h"
#include "sim_data.h"

namespace {

double NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct Sim {
    std::string dir;
    pid_t pid = -1;
    int fd = -1;
    std::string File(const char* name) const { return dir + "/" + name; }
};

// Starts kivsim with the given scenario flags and opens its line.
void StartSim(Sim& sim, const std::vector<std::string>& flags)
{
    char tmpl[] = "/tmp/kivsim-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    sim.dir = tmpl;
    std::vector<std::string> args = {KIVSIM_PATH,
                                     "--link",
                                     sim.File("line"),
                                     "--ready",
                                     sim.File("ready"),
                                     "--record",
                                     sim.File("rec"),
                                     "--stop",
                                     sim.File("stop"),
                                     "--timeout",
                                     "10000",
                                     "--linger",
                                     "0"};
    args.insert(args.end(), flags.begin(), flags.end());
    sim.pid = fork();
    if (sim.pid == 0) {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    for (int i = 0; i < 500 && access(sim.File("ready").c_str(), F_OK) != 0; i++)
        usleep(10000);
    sim.fd = open(sim.File("line").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(sim.fd, 0) << "kivsim did not come up";
}

// Waits for kivsim to end (asking it to stop when stop is set) and returns
// its event log.
std::string FinishSim(Sim& sim, bool stop)
{
    if (stop)
        std::ofstream(sim.File("stop")).put('\n');
    int status = 0;
    for (int i = 0; i < 1000 && waitpid(sim.pid, &status, WNOHANG) == 0; i++)
        usleep(10000);
    if (waitpid(sim.pid, &status, WNOHANG) == 0) {
        kill(sim.pid, SIGKILL);
        waitpid(sim.pid, &status, 0);
        ADD_FAILURE() << "kivsim did not end";
    }
    close(sim.fd);
    return ReadWhole(sim.File("rec.log"));
}

void RemoveSim(const Sim& sim)
{
    std::string cmd = "rm -rf '" + sim.dir + "'";
    EXPECT_EQ(0, system(cmd.c_str()));
}

// Reads n bytes from fd, with the arrival time of the first and the last.
std::string ReadBytes(int fd, size_t n, double timeoutMs, double* firstMs = nullptr, double* lastMs = nullptr)
{
    std::string got;
    double end = NowMs() + timeoutMs;
    while (got.size() < n && NowMs() < end) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 5) <= 0)
            continue;
        char buf[4096];
        ssize_t r = read(fd, buf, sizeof buf);
        if (r <= 0)
            continue;
        if (got.empty() && firstMs)
            *firstMs = NowMs();
        got.append(buf, r);
        if (lastMs)
            *lastMs = NowMs();
    }
    return got;
}

// The times of the log's events of one kind ("rx", "tx").
std::vector<double> EventTimes(const std::string& log, const std::string& kind)
{
    std::vector<double> times;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        double ms;
        std::string k;
        if (words >> ms >> k && k == kind)
            times.push_back(ms);
    }
    return times;
}

// The pacer on its own, at clock values like a machine's uptime: an idle line
// lets a byte go at once, and a busy one carries its rate, never less.
TEST(KivsimPacer, CarriesTheLineRateAtAnyClockValue)
{
    struct Row {
        uint32_t baud;
        const char* format;
        double bytesPerSecond;
    } rows[] = {
        {115200, "8N1", 11520},
        {115200, "8N2", 10472.7},
        {9600, "8O1", 872.7},
        {57600, "7E1", 5760},
    };
    for (const Row& row : rows) {
        for (uint64_t origin : {0ull, 2893579625000ull, 9000000000000000ull}) {
            SCOPED_TRACE(std::string(row.format) + " at " + std::to_string(origin));
            LineFormat f = {row.baud, 8, 'n', 1};
            ASSERT_TRUE(ParseLineFormat(row.format, f));
            LinePacer p;
            PacerInit(p, f.baud, BitsPerByte(f));
            ASSERT_EQ(1u, PacerAllowance(p, origin, 1));
            PacerConsume(p, 1, true);
            double total = 1;
            for (uint64_t t = origin + 2000; t <= origin + 1000000; t += 2000) {
                uint32_t n = PacerAllowance(p, t, 1000000);
                PacerConsume(p, n, true);
                total += n;
            }
            EXPECT_NEAR(row.bytesPerSecond, total, 2);
        }
    }
}

// A queue emptied behind the pacer's back (the PC purged its output) leaves
// no credit: the next bytes start afresh, one at once, then at the line rate.
TEST(KivsimPacer, AQueuePurgedWhileBusyLetsNoBurstThrough)
{
    struct Row {
        uint32_t baud;
        int bits;
        uint64_t idleUs;    // from the purge to the next bytes
        uint64_t laterUs;   // how long after those the pacer is asked again
        uint32_t crossedLater;
    } rows[] = {
        {9600, 10, 500000, 2100, 3},   // 1041.7 us a byte: at once, 1041.7, 2083.3
        {115200, 11, 40000, 300, 4},   // 95.5 us a byte
        {38400, 10, 2000000, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.baud);
        LinePacer p;
        PacerInit(p, row.baud, row.bits);
        const uint64_t start = 5000000;
        ASSERT_EQ(1u, PacerAllowance(p, start, 100));
        PacerConsume(p, 1, true);   // 99 left waiting ...
        uint64_t purged = start + 1000;
        EXPECT_EQ(0u, PacerAllowance(p, purged, 0));   // ... and purged
        uint64_t next = purged + row.idleUs;
        ASSERT_EQ(1u, PacerAllowance(p, next, 1000));
        PacerConsume(p, 1, true);
        EXPECT_EQ(row.crossedLater - 1, PacerAllowance(p, next + row.laterUs, 1000));
    }
}

// Handheld events of one kind, from the record of a run written by WriteRecord.
std::vector<double> RecordTimes(const std::string& prefix, const std::string& kind)
{
    return EventTimes(ReadWhole(prefix + ".log"), kind);
}

struct PaceRow {
    uint32_t baud;
    const char* format;
    int bits;   // start, data, parity and stop bits of the format
    uint32_t size, piece, gapMs;
};

// The in-process line, with the engine receiving what the handheld model
// sends, or sending to it; returns the record's prefix.
std::string InProcessRun(const PaceRow& row, bool handheldSends, const std::string& data,
                         const std::string& dir)
{
    SimOptions o;
    o.direction = handheldSends ? 0 : 1;
    o.line.baudRate = row.baud;
    o.bitsPerByte = (uint32_t)row.bits;
    SimScenario s;
    EXPECT_TRUE(ParseLineFormat(row.format, s.line));
    s.line.baud = row.baud;
    if (handheldSends) {
        s.role = ROLE_RAW_SEND;
        s.sendData.assign(data.begin(), data.end());
        s.pieceSize = row.piece;
        s.gapMs = row.gapMs;
    } else {
        s.role = ROLE_RAW_RECEIVE;
        s.stopAtEof = false;
        s.stopCount = (uint32_t)data.size();
        o.block = data;
    }
    SimHandheld h;
    SimDevice d = HandheldDevice(h, s);
    SimResult r = RunSimTransfer(o, d);
    EXPECT_EQ(RC_OK, r.resultCode);
    EXPECT_EQ(data, handheldSends ? r.block : std::string(h.received.begin(), h.received.end()));
    std::string prefix = dir + "/in-process";
    EXPECT_TRUE(WriteRecord(h, prefix));
    return prefix;
}

// kivsim on its pseudo-terminal, with this test in the PC's place.
std::string KivsimRun(const PaceRow& row, bool handheldSends, const std::string& data, Sim& sim)
{
    std::vector<std::string> flags = {"--baud", std::to_string(row.baud), "--format", row.format};
    if (handheldSends) {
        flags.insert(flags.end(), {"--role", "send", "--size", std::to_string(row.size - 1), "--pattern",
                                   "binary", "--seed", "7", "--eof", "--piece", std::to_string(row.piece),
                                   "--gap", std::to_string(row.gapMs)});
    } else {
        flags.insert(flags.end(),
                     {"--role", "receive", "--no-eof-stop", "--count", std::to_string(row.size)});
    }
    StartSim(sim, flags);
    if (handheldSends) {
        EXPECT_EQ(data, ReadBytes(sim.fd, data.size(), 5000));
    } else {
        EXPECT_EQ((ssize_t)data.size(), write(sim.fd, data.data(), data.size()));
    }
    FinishSim(sim, false);
    EXPECT_EQ(data, ReadWhole(sim.File(handheldSends ? "rec.sent" : "rec.bin")));
    return sim.File("rec");
}

// One pacer serves both lines the handheld plays on: each row runs on the
// in-process line and through kivsim, the handheld sending in pieces (each
// after the pause that follows the piece before) and receiving, and both
// records show the bytes crossing at the rate of the frame format.
TEST(SharedPacer, BothLinesKeepToTheRateOfTheFrameFormatInBothDirections)
{
    const PaceRow rows[] = {
        {38400, "8N1", 10, 600, 0, 0},
        {19200, "7E2", 11, 400, 100, 40},
        {9600, "8O1", 11, 150, 50, 100},
        {115200, "8N2", 11, 2000, 500, 20},
    };
    for (const PaceRow& row : rows) {
        double byteMs = 1000.0 * row.bits / row.baud;
        uint32_t pieces = row.piece ? (row.size + row.piece - 1) / row.piece : 1;
        std::vector<uint8_t> generated = GenerateBlock("binary", row.size - 1, 7);
        std::string data(generated.begin(), generated.end());
        for (bool handheldSends : {true, false}) {
            std::string sent = handheldSends ? data + "\x1A" : data + "z";
            double expected = handheldSends ? (row.size - pieces) * byteMs + (pieces - 1) * row.gapMs
                                            : (row.size - 1) * byteMs;
            const char* kind = handheldSends ? "tx" : "rx";
            Sim sim;
            std::string kivsim = KivsimRun(row, handheldSends, sent, sim);
            std::string inProcess = InProcessRun(row, handheldSends, sent, sim.dir);
            // The in-process line runs on the link's virtual millisecond
            // clock, so it must keep the rate exactly; kivsim runs on the
            // real clock, where a busy machine can only make the bytes
            // later: it must never be faster than the line.
            struct {
                const char* line;
                std::string prefix;
                double tolerance;
                bool realClock;
            } lines[] = {
                {"in-process", inProcess, 1.5 * (pieces + 1), false},
                {"kivsim", kivsim, 0.06 * expected + 3.0 * pieces, true},
            };
            for (const auto& line : lines) {
                SCOPED_TRACE(std::string(line.line) + " " + kind + " " + std::to_string(row.baud) + " " +
                             row.format);
                std::vector<double> times = RecordTimes(line.prefix, kind);
                ASSERT_FALSE(times.empty());
                double took = times.back() - times.front();
                if (line.realClock)
                    EXPECT_GE(took, expected - line.tolerance);
                else
                    EXPECT_NEAR(expected, took, line.tolerance);
            }
            RemoveSim(sim);
        }
    }
}

// Command lines kivsim refuses before it opens a line, and what it says.
TEST(KivsimFlags, RefusesWhatItCannotUnderstandAndSaysWhy)
{
    struct Row {
        const char* args;
        int exitCode;
        const char* says;
    } rows[] = {
        {"--help", 0, "Usage: kivsim --link PATH"},
        {"--version", 0, "kivsim " KIV_VERSION_TEXT "\n"},
        {"--role send", 2, "kivsim: --link is required\nUsage:"},
        {"--link L --baud fast", 2, "kivsim: bad value for --baud: fast\n"},
        {"--link L --role dance", 2, "kivsim: bad value for --role: dance\n"},
        {"--link L --probe-answer f4,f5", 2, "kivsim: bad value for --probe-answer: f4,f5\n"},
        {"--link L --fault-rate 1.5", 2, "kivsim: bad value for --fault-rate: 1.5\n"},
        {"--link L --plan drop,sing", 2, "kivsim: bad value for --plan: drop,sing\n"},
        {"--link L --vanish-after soon", 2, "kivsim: bad value for --vanish-after: soon\n"},
        {"--link L --wobble 1", 2, "kivsim: unknown flag --wobble\n"},
        {"--link L --eof --count", 2, "kivsim: --count needs a value\n"},
        {"--link L --data /nonexistent/kivsim-data", 2, "kivsim: cannot read /nonexistent/kivsim-data\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        std::string command = std::string(KIVSIM_PATH) + " " + row.args + " 2>&1";
        FILE* out = popen(command.c_str(), "r");
        ASSERT_NE(nullptr, out);
        std::string said;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, out)) > 0)
            said.append(buf, n);
        int status = pclose(out);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(row.exitCode, WEXITSTATUS(status));
        EXPECT_EQ(0u, said.find(row.says)) << said;
    }
}

TEST(KivsimIrLine, AnswersTheProbeAndTakesTheSetupBytesOnlyAfterF4OrF5)
{
    const std::string setup("\x0B\x21\x37\x45\x50\x64\x70\xD1\x56\xD0\x87\x91\x11", 13);
    struct Row {
        const char* answer;
        const char* expectRead;   // what comes back for 0xF0
        bool takesSetup;
    } rows[] = {
        {"f4", "\xF4", true},
        {"f5", "\xF5", true},
        {"33", "\x33", false},
        {"none", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        Sim sim;
        StartSim(sim, {"--probe-answer", row.answer, "--role", "silent"});
        ASSERT_EQ(1, write(sim.fd, "\xF0", 1));
        EXPECT_EQ(row.expectRead, ReadBytes(sim.fd, 1, 300));
        ASSERT_EQ(13, write(sim.fd, setup.data(), 13));
        usleep(100000);
        std::string log = FinishSim(sim, true);
        bool loggedSetup = log.find(" setup 0b 21 37 45 50 64 70 d1 56 d0 87 91 11\n") != std::string::npos;
        EXPECT_EQ(row.takesSetup, loggedSetup) << log;
        // Without the set-up, the bytes reach the role as data.
        EXPECT_EQ(row.takesSetup ? "" : setup, ReadWhole(sim.File("rec.bin")));
        RemoveSim(sim);
    }
}

TEST(KivsimReceive, EndsAtTheEndByteOrCountAndTalksWhenTold)
{
    struct Row {
        std::vector<std::string> flags;
        std::string first, expectRead, second, expectBin, reason;
    } rows[] = {
        {{},
         "abc\x1A"
         "def",
         "",
         "",
         "abc\x1A",
         "eof"},
        {{"--no-eof-stop", "--count", "5"},
         "ab\x1A"
         "cdef",
         "",
         "",
         "ab\x1A"
         "cd",
         "count"},
        {{"--inject", "41,42", "--inject-after", "3", "--count", "6"}, "abc", "AB", "def", "abcdef", "count"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reason + " " + row.first);
        std::vector<std::string> flags = {"--role", "receive", "--baud", "0"};
        flags.insert(flags.end(), row.flags.begin(), row.flags.end());
        Sim sim;
        StartSim(sim, flags);
        ASSERT_EQ((ssize_t)row.first.size(), write(sim.fd, row.first.data(), row.first.size()));
        EXPECT_EQ(row.expectRead, ReadBytes(sim.fd, row.expectRead.size(), 2000));
        if (!row.second.empty()) {
            ASSERT_EQ((ssize_t)row.second.size(), write(sim.fd, row.second.data(), row.second.size()));
        }
        std::string log = FinishSim(sim, false);
        EXPECT_EQ(row.expectBin, ReadWhole(sim.File("rec.bin")));
        EXPECT_NE(std::string::npos, log.find("end reason=" + row.reason)) << log;
        RemoveSim(sim);
    }
}

// The preload library, loaded here rather than preloaded: this test is the
// driver's process, asking what the driver's port asks through it.
struct Shim {
    void* lib = dlopen(KIV_PTY_SHIM, RTLD_NOW | RTLD_LOCAL);
    int (*ioctl)(int, unsigned long, ...) = lib ? (int (*)(int, unsigned long, ...))dlsym(lib, "ioctl")
                                                : nullptr;
    ssize_t (*write)(int, const void*,
                     size_t) = lib ? (ssize_t(*)(int, const void*, size_t))dlsym(lib, "write") : nullptr;
};

std::string LineRecordPath(const std::string& slave)
{
    return "/tmp/kivpty-" + std::to_string(atoi(slave.c_str() + strlen("/dev/pts/"))) + ".line";
}

// A UART shifts its output out whether or not anyone listens: once kivsim
// has gone, its line reads drained (the queue empty, and the line status's
// "empty" that ends the driver's wait for the drain) and an adapter's CTS
// stays as it left it. A line kivsim never served is the pseudo-terminal's.
TEST(KivsimLineRecord, ALineWhoseKivsimHasGoneReadsDrainedAsAUartWould)
{
    Shim shim;
    ASSERT_TRUE(shim.ioctl && shim.write) << dlerror();
    const std::vector<std::string> takesFive = {"--baud",        "0",       "--role", "receive",
                                                "--no-eof-stop", "--count", "5"};
    struct Row {
        const char* what;
        std::vector<std::string> extra;   // kivsim's flags beyond takesFive
        bool served, askBeforeGone;       // drained only once kivsim has gone
        bool adapter;                     // stays, CTS down when done, until stopped
        int lsrResult, cts;
    } rows[] = {
        {"gone after the block", {}, true, false, false, 0, TIOCM_CTS},
        {"gone before the drain is seen",
         {"--leave-before-drain", "--linger", "2000"},
         true,
         true,
         false,
         0,
         TIOCM_CTS},
        {"an IrDA adapter's", {"--irda-adapter"}, true, false, true, 0, 0},
        {"never served", {}, false, false, false, -1, TIOCM_CTS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Sim sim;
        int master = -1;
        std::string slave;
        if (!row.served) {
            master = posix_openpt(O_RDWR | O_NOCTTY);
            ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
            slave = ptsname(master);
            sim.fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
            ASSERT_GE(sim.fd, 0);
        } else {
            std::vector<std::string> flags = takesFive;
            flags.insert(flags.end(), row.extra.begin(), row.extra.end());
            StartSim(sim, flags);
            char target[64] = {};
            ASSERT_LT(0, readlink(sim.File("line").c_str(), target, sizeof target - 1));
            slave = target;
        }
        ASSERT_EQ(5, shim.write(sim.fd, "hello", 5));
        int queued = -1, lsr = -1, modem = -1;
        if (row.askBeforeGone) {   // once kivsim says it has taken the block, and lingers
            kivpty_line rec = {};
            for (int i = 0; i < 5000 && !rec.holdDrain; i++) {
                std::ifstream(LineRecordPath(slave), std::ios::binary).read((char*)&rec, sizeof rec);
                usleep(1000);
            }
            ASSERT_EQ(5u, rec.consumed);
            EXPECT_EQ(0, shim.ioctl(sim.fd, TIOCOUTQ, &queued));
            EXPECT_LT(0, queued) << "drained while kivsim was there";
        }
        if (row.adapter) {   // the adapter has taken the block once CTS drops
            for (int i = 0; i < 5000 && (shim.ioctl(sim.fd, TIOCMGET, &modem), modem & TIOCM_CTS); i++)
                usleep(1000);
            ASSERT_EQ(0, modem & TIOCM_CTS) << "the adapter never dropped CTS";
        }
        int fd = sim.fd;
        if (master < 0) {
            sim.fd = dup(fd);   // FinishSim closes one; the port stays open
            std::string log = FinishSim(sim, row.adapter);
            EXPECT_NE(std::string::npos, log.find("end reason=")) << log;
        }
        EXPECT_EQ(0, shim.ioctl(fd, TIOCOUTQ, &queued));
        EXPECT_EQ(0, queued);
        EXPECT_EQ(row.lsrResult, shim.ioctl(fd, TIOCSERGETLSR, &lsr));
        if (row.lsrResult == 0) {
            EXPECT_EQ(TIOCSER_TEMT, lsr);
        }
        EXPECT_EQ(0, shim.ioctl(fd, TIOCMGET, &modem));
        EXPECT_EQ(row.cts, modem & TIOCM_CTS);
        close(fd);
        if (master >= 0)
            close(master);
        else
            RemoveSim(sim);
    }
}

}   // namespace
