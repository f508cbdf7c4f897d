// kivsim run as the tests under Wine run it, with this test on the slave side
// of its pseudo-terminal in the driver's place: the line paced to the frame
// format in both directions, the IR line device's probe answers, and the
// receive role's end byte and its bytes sent during a PC send.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "line_pacer.h"

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

TEST(KivsimLine, BothDirectionsKeepToTheLineRateOfTheFrameFormat)
{
    struct Row {
        const char* baud;
        const char* format;
        int bits;
    } rows[] = {
        {"38400", "8N1", 10},
        {"38400", "8O1", 11},
        {"19200", "7E2", 11},
        {"115200", "8N2", 11},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.baud) + " " + row.format);
        double byteMs = 1000.0 * row.bits / atoi(row.baud);
        size_t n = (size_t)(300 / byteMs);   // about 0.3 s of line time

        Sim send;
        StartSim(send, {"--baud", row.baud, "--format", row.format, "--role", "send", "--size",
                        std::to_string(n), "--pattern", "binary", "--seed", "7"});
        double first = 0, last = 0;
        std::string got = ReadBytes(send.fd, n, 5000, &first, &last);
        FinishSim(send, false);
        EXPECT_EQ(ReadWhole(send.File("rec.sent")), got);
        EXPECT_EQ(n, got.size());
        EXPECT_NEAR((n - 1) * byteMs, last - first, 0.06 * n * byteMs);
        RemoveSim(send);

        Sim receive;
        StartSim(receive, {"--baud", row.baud, "--format", row.format, "--role", "receive", "--count",
                           std::to_string(n)});
        std::string data(n, 'x');
        ASSERT_EQ((ssize_t)n, write(receive.fd, data.data(), n));
        std::vector<double> rx = EventTimes(FinishSim(receive, false), "rx");
        ASSERT_FALSE(rx.empty());
        EXPECT_EQ(data, ReadWhole(receive.File("rec.bin")));
        EXPECT_NEAR((n - 1) * byteMs, rx.back() - rx.front(), 0.06 * n * byteMs);
        RemoveSim(receive);
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

}   // namespace
