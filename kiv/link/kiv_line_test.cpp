// The line through kiv's command line when it goes wrong or stays quiet: a
// handheld or adapter that goes away, signals kiv was started to ignore,
// a close with output stopped, and the wait for the handheld's first byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <unistd.h>
#include <ctime>
#include <string>
#include <thread>
#include <vector>
#include "kiv_harness.h"

namespace {

const char kLost[] = "the line was lost (the handheld or the adapter went away)";

double NowSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

// The handheld vanishes (kivsim hangs the line up) at every point of every
// kind of transfer: kiv ends at once with the line error and says why, and
// while the handheld stays quiet before it goes, kiv waits without using
// the processor. The elapsed time is measured from outside, a lower bound
// on kiv's own; the allowance covers kiv's start, slower when sanitized.
TEST(KivLine, ALostLineEndsTheTransferAtOnceAndWaitingCostsLittle)
{
    struct Row {
        const char* name;
        std::string sim;   // with the vanishing point (bytes of the role, both ways)
        std::string kiv;
    } rows[] = {
        {"cable receive, before the first byte", "--role silent --vanish-after 0 --vanish-wait 3000",
         "receive -o @out --link cable"},
        {"cable receive, inside the block", "--role send --size 20000 --delay 1500 --vanish-after 3000",
         "receive -o @out --link cable"},
        {"cable send, inside the block", "--role receive --no-eof-stop --vanish-after 500",
         "send @data --link cable"},
        {"cable send, output stopped by XOFF",
         "--role receive --no-eof-stop --inject 13 --inject-after 100 --vanish-after 200 --vanish-wait 3000",
         "send @big --link cable --xonxoff"},
        // IR: ENQ and SYN (8 bytes each), a data frame of 529, ACK.
        {"ir receive, before the first frame", "--role ir-send --size 3000 --vanish-after 0",
         "receive -o @out --link ir"},
        {"ir receive, inside a frame", "--role ir-send --size 3000 --vanish-after 56 --vanish-wait 3000",
         "receive -o @out --link ir"},
        {"ir receive, between blocks", "--role ir-send --size 3000 --vanish-after 553",
         "receive -o @out --link ir"},
        {"ir send, before the first frame", "--role ir-receive --vanish-after 0", "send @data --link ir"},
        {"ir send, inside a frame", "--role ir-receive --vanish-after 56", "send @data --link ir"},
        {"ir send, between blocks", "--role ir-receive --vanish-after 553 --vanish-wait 3000",
         "send @data --link ir"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        WriteWhole(run.File("data"), Pattern(3000, 5));
        WriteWhole(run.File("big"), Pattern(100000, 6));
        bool ir = row.kiv.find("--link ir") != std::string::npos;
        ASSERT_TRUE(run.StartSim(
            std::string(ir ? "--baud 9600 --format 8O1 --probe-answer f4 " : "--baud 9600 ") + row.sim));
        double start = NowSeconds();
        double cpu = 0;
        EXPECT_EQ(3, ExitStatusAndCpu(run.StartKiv(row.kiv + " --port LINE -q"), &cpu)) << run.Err();
        double elapsed = NowSeconds() - start;
        run.FinishSim();
        EXPECT_NE(std::string::npos, run.Err().find(kLost)) << run.Err();
        EXPECT_LT(elapsed, 20.0);   // the link's own deadline is minutes away
        EXPECT_LT(cpu, 0.3 + 0.02 * elapsed) << elapsed << " s";
        EXPECT_FALSE(Exists(run.File("out")));
    }
}

// A signal ignored when kiv started (nohup, a background job of a script)
// stays ignored: the transfer goes on and succeeds.
TEST(KivLine, SignalsIgnoredAtTheStartStayIgnored)
{
    struct Row {
        int signal;
        std::string sim;
        std::string kiv;
    } rows[] = {
        {SIGHUP, "--role send --size 3000 --eof", "receive -o @out --link cable"},
        {SIGINT, "--format 8O1 --role ir-send --size 3000 --probe-answer f4", "receive -o @out --link ir"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kiv);
        KivRun run;
        ASSERT_TRUE(run.StartSim("--baud 9600 " + row.sim));
        signal(row.signal, SIG_IGN);   // kiv inherits it
        pid_t kiv = run.StartKiv(row.kiv + " -q --port LINE");
        signal(row.signal, SIG_DFL);
        usleep(1000 * 1000);
        kill(kiv, row.signal);
        EXPECT_EQ(0, ExitStatus(kiv)) << run.Err();
        run.StopSim();
        EXPECT_TRUE(Exists(run.File("out")));
    }
}

// The close discards what the bounded drain left before it puts the port's
// settings back, so nothing goes out at the old speed and the close never
// waits on stopped output; with nothing left it discards nothing, since a
// pseudo-terminal's queue reads empty while its other side still reads.
TEST(KivLine, TheCloseDiscardsOnlyWhatTheDrainLeft)
{
    struct Row {
        const char* name;
        std::string sim;
        std::string kiv;
        bool preload;   // without it, the queue is the pseudo-terminal's own
        int status;
        bool flushed;
    } rows[] = {
        {"left in the queue by a handheld that stopped reading, cancelled",
         "--role receive --no-eof-stop --vanish-after 100 --vanish-wait 60000", "send @big --link cable",
         true, 130, true},
        {"held back by XOFF, cancelled", "--role receive --no-eof-stop --inject 13 --inject-after 100",
         "send @big --link cable --xonxoff", true, 130, false},
        {"a receive that ended well", "--role send --size 2000 --eof", "receive -o @out --link cable", true,
         0, false},
        {"a send the other side is still reading", "--role receive",
         "send @block --link cable --speed 115200", false, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        WriteWhole(run.File("big"), Pattern(100000, 6));
        WriteWhole(run.File("block"), Pattern(40000, 7) + "\x1a");
        ASSERT_TRUE(run.StartSim((row.preload ? "--baud 9600 " : "--baud 115200 ") + row.sim));
        double start = NowSeconds();
        pid_t kiv = run.StartKiv(row.kiv + " -q --port LINE", "",
                                 row.preload ? std::vector<std::string>{}
                                             : std::vector<std::string>{"LD_PRELOAD="});
        if (row.status) {
            usleep(1500 * 1000);
            kill(kiv, SIGINT);
        }
        EXPECT_EQ(row.status, ExitStatus(kiv)) << run.Err();
        EXPECT_LT(NowSeconds() - start, 20.0);
        if (!row.preload) {
            EXPECT_EQ(0, run.FinishSim());
            EXPECT_EQ(ReadWhole(run.File("block")), ReadWhole(run.File("rec.bin")));
            continue;
        }
        run.StopSim();
        std::string log = ReadWhole(run.File("pty.log"));
        size_t flush = log.rfind(" flush queue=out");
        EXPECT_EQ(row.flushed, flush != std::string::npos) << log;
        size_t write = log.rfind(" write ");
        EXPECT_TRUE(flush == std::string::npos || write == std::string::npos || write < flush);
        EXPECT_TRUE(flush == std::string::npos || flush < log.rfind(" termios "));
    }
}

// kiv with its stderr on a terminal of its own, columns wide (0: as made):
// what it wrote there.
std::string KivOnTerminal(KivRun& run, const std::string& args, int* status, int columns = 0)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    struct winsize ws = {};
    ws.ws_col = (unsigned short)columns;
    ws.ws_row = 24;
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        (columns && ioctl(master, TIOCSWINSZ, &ws) != 0) ||
        symlink(ptsname(master), run.File("kiv.err").c_str()) != 0) {
        ADD_FAILURE() << "no terminal";
        return "";
    }
    std::string said;
    pid_t kiv = run.StartKiv(args);
    std::thread reader([&] {
        char buf[4096];
        ssize_t n;
        while ((n = read(master, buf, sizeof buf)) > 0)
            said.append(buf, (size_t)n);
    });
    *status = ExitStatus(kiv);
    reader.join();   // the terminal hangs up once kiv has gone
    close(master);
    return said;
}

// On a terminal kiv says what it waits for until the handheld's first byte;
// --timeout bounds that wait (a lower bound on the time is checked, the
// time-out status proves the bound). An IR send's progress counts blocks
// from 1 and ends at 100 %.
TEST(KivLine, WaitingIsVisibleAndBounded)
{
    struct Row {
        const char* name;
        std::string sim;
        std::string kiv;
        int status;
        double atLeastSeconds;
        std::vector<std::string> said;   // in this order
        std::string notSaid;
        int columns = 0;   // the terminal's width, every line shorter; 0: as made
    } rows[] = {
        {"cable receive",
         "--role send --size 2000 --eof --delay 1500",
         "receive -o @out --link cable",
         0,
         0,
         {"waiting for the handheld on LINE (Ctrl-C to stop)", "2001 bytes"},
         "block"},
        {"ir send",
         "--format 8O1 --role ir-receive --probe-answer f4",
         "send @data --link ir",
         0,
         0,
         {"waiting for the handheld on LINE", "block 1 ", "block 2 ", "1300 bytes", "100%", "block 3 "},
         "block 65535"},
        {"cable receive, silent",
         "--role silent",
         "receive -o @out --link cable --timeout 2",
         1,
         2.0,
         {"waiting for the handheld on LINE", "time-out"},
         "block"},
        {"ir send, silent",
         "--format 8O1 --role silent --probe-answer f4",
         "send @data --link ir --timeout 2",
         1,
         2.0,
         {"waiting for the handheld on LINE", "time-out"},
         "block 0"},
        // A narrow terminal: the line is shortened, never wrapped.
        {"ir send, 30 columns",
         "--format 8O1 --role ir-receive --probe-answer f4",
         "send @data --link ir",
         0,
         0,
         {"waiting for the handheld on \u2026", "1300 bytes  100%  block 3\033[K"},
         "B/s",
         30},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        WriteWhole(run.File("data"), Pattern(1300, 3));
        ASSERT_TRUE(run.StartSim("--baud 9600 " + row.sim));
        double start = NowSeconds();
        int status = -1;
        std::string said = KivOnTerminal(run, row.kiv + " --port LINE", &status, row.columns);
        EXPECT_EQ(row.status, status) << said;
        EXPECT_GE(NowSeconds() - start, row.atLeastSeconds);
        run.StopSim();
        size_t at = 0;
        for (std::string want : row.said) {
            if (want.find("LINE") != std::string::npos)
                want.replace(want.find("LINE"), 4, run.Line());
            at = said.find(want, at);
            EXPECT_NE(std::string::npos, at) << want << " in " << said;
        }
        EXPECT_EQ(std::string::npos, said.find(row.notSaid)) << said;
        for (size_t from = 0, end; row.columns && from < said.size(); from = end + 1) {
            end = std::min(said.find_first_of("\r\n", from), said.size());
            std::string line = said.substr(from, end - from);
            if (line.find("\033[K") != std::string::npos)
                line.erase(line.find("\033[K"));
            size_t shown = 0;
            for (unsigned char c : line)
                shown += (c & 0xC0) != 0x80;
            EXPECT_GT((size_t)row.columns, shown) << line;
        }
    }
}

}
