// The link through kiv's command line: blocks byte for byte both ways on the
// cable and the IR link, the line settings the port was given and given
// back, cancels by signal and the port errors a person meets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

const char kSetUpEvent[] = "setup 0b 21 37 45 50 64 70 d1 56 d0 87 91 11";
const std::string kCanFrame("\0\0\0\0\0\x96\x82\x18", 8);
const char kIrda[] = "--link irda --speed 115200 -q";

// Each row moves one block; the side that receives must hold exactly what
// the other sent. IR rows prove the line device's probe and set-up too.
TEST(KivLink, MovesBlocksByteForByte)
{
    struct Row {
        const char* name;
        bool kivSends;
        size_t size;
        std::string sim;   // kivsim's role flags
        std::string kiv;   // kiv's link flags
        int status;
        std::string event;   // in kivsim's log
    } rows[] = {
        {"cable receive 1", false, 1, "--role send", kCable, 0, ""},
        {"cable receive 513", false, 513, "--role send", kCable, 0, ""},
        {"cable receive 64K", false, 65536, "--role send", kCable, 0, ""},
        {"cable send 1", true, 1, "--role receive --no-eof-stop", kCable, 0, ""},
        {"cable send 513", true, 513, "--role receive --no-eof-stop", kCable, 0, ""},
        {"cable send 64K", true, 65536, "--role receive --no-eof-stop", kCable, 0, ""},
        {"ir receive", false, 1300, "--role ir-send --probe-answer f4", "--link ir -q", 0, kSetUpEvent},
        {"ir send", true, 1300, "--role ir-receive --probe-answer f5", "--link ir -q", 0, kSetUpEvent},
        // The handheld answers the first ENQ with CAN: the transfer is called off.
        {"ir refused", true, 600, "--role ir-receive --probe-answer f4 --plan none,can", "--link ir -q", 255,
         ""},
        // The adapter raises CTS for the wake byte and drops it once the block
        // has come, which completes the send; dropped before, the link is lost.
        {"irda send", true, 3000, "--role receive --no-eof-stop --irda-adapter", kIrda, 0, "cts up"},
        {"irda send, link lost", true, 3000,
         "--role receive --no-eof-stop --irda-adapter --cts-drop-after 1000", kIrda, 3,
         "cts down: link lost"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        std::string data = Pattern(row.size, (uint32_t)row.size);
        WriteWhole(run.File("data"), data + (row.kivSends ? "" : "\x1A"));
        bool ir = row.kiv.find("--link ir ") != std::string::npos;
        // A receiving handheld is done when the whole block has come, not
        // after a pause that a busy machine can make at any point of it.
        std::string count = row.kivSends && !ir ? " --count " + std::to_string(row.size) : "";
        ASSERT_TRUE(run.StartSim(std::string(ir ? kSimIr : kSimCable) + " --data " + run.File("data") + " " +
                                 row.sim + count));
        std::string cmd = row.kivSends ? "send @data" : "receive -o @out";
        EXPECT_EQ(row.status, run.Kiv(cmd + " --port LINE " + row.kiv)) << run.Err();
        std::ofstream(run.File("stop")).put('\n');
        run.FinishSim();
        std::string got = ReadWhole(run.File(row.kivSends ? "rec.bin" : "out"));
        if (row.status == 0) {
            std::string want = row.kivSends ? data : data + "\x1A";
            EXPECT_EQ(want.size(), got.size());
            EXPECT_TRUE(want == got);
        }
        EXPECT_NE(std::string::npos, ReadWhole(run.File("rec.log")).find(row.event));
    }
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1)
        lines.push_back(text.substr(at, (end = std::min(text.find('\n', at), text.size())) - at));
    return lines;
}

// The settings of a few records as the port got them, DTR and RTS dropped
// at the end, and the port's own settings put back.
TEST(KivLink, GivesThePortItsSettingsAndGivesThemBack)
{
    struct Row {
        std::string kiv;
        std::string ini;       // written to settings.ini and passed when not empty
        std::string format;    // kivsim's frame format
        std::string termios;   // as the port was given it
        bool portNoNotice;
        // Warnings, one a line, for values the Windows driver never writes.
        std::string warns = "";
    } rows[] = {
        {"--link cable --speed 19200 --parity even --data-bits 7 --stop-bits 2 --cts", "", "7E2",
         "termios speed=19200 data=7 parity=e stop=2 crtscts=1 ixon=1 ixoff=1", false},
        {"", "[ComPort]\nPortNo=3\nIRMode=15\nSpeed=4800\nParity=ODD\nXFlow=OFF\n", "8O1",
         "termios speed=4800 data=8 parity=o stop=1 crtscts=0 ixon=0 ixoff=0", true},
        {"--link cable --speed 57600", "[comport]\nxflow = \"ON\"\nCSMon=ON\n", "8N1",
         "termios speed=57600 data=8 parity=n stop=1 crtscts=1 ixon=1 ixoff=1", false},
        {"--link cable", "\xEF\xBB\xBF[ComPort]\nSpeed=19200\nXFlow=OFF\n", "8N1",
         "termios speed=19200 data=8 parity=n stop=1 crtscts=0 ixon=0 ixoff=0", false},
        {"--link irda --speed 38400", "", "8N1",
         "termios speed=38400 data=8 parity=n stop=1 crtscts=1 ixon=0 ixoff=0", false},
        {"", "[ComPort]\nIRMode=ir\nIrDA=YES\nParity=odd\nCSMon=0\nXFlow=0\n", "8N1",
         "termios speed=9600 data=8 parity=n stop=1 crtscts=1 ixon=1 ixoff=1", false,
         "IRMode=ir is not IR or 15; taken as 15 (the cable), as the Windows driver reads it\n"
         "Parity=odd is not NONE or ODD or EVEN; taken as NONE\n"
         "CSMon=0 is not ON or OFF; taken as ON\nXFlow=0 is not ON or OFF; taken as ON\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kiv + row.ini);
        KivRun run;
        ASSERT_TRUE(run.StartSim("--baud 9600 --format " + row.format + " --role send --size 40 --eof"));
        std::string settings;
        if (!row.ini.empty()) {
            WriteWhole(run.File("settings.ini"), row.ini);
            settings = " --settings @settings.ini";
        }
        EXPECT_EQ(0, run.Kiv("receive -o @out --port LINE -q " + row.kiv + settings)) << run.Err();
        run.FinishSim();
        std::vector<std::string> termios = run.Log("termios");
        std::vector<std::string> modem = run.Log("modem");
        ASSERT_EQ(2u, termios.size());
        EXPECT_EQ(row.termios, termios[0]);
        EXPECT_EQ("termios speed=9600 data=8 parity=n stop=1 crtscts=0 ixon=0 ixoff=0", termios[1]);
        ASSERT_FALSE(modem.empty());
        EXPECT_EQ("modem op=bis dtr=1 rts=1", modem.front());
        EXPECT_EQ("modem op=bic dtr=0 rts=0", modem.back());
        EXPECT_EQ(row.portNoNotice, run.Err().find("PortNo=3) is ignored") != std::string::npos) << run.Err();
        size_t warnings = 0;
        for (const std::string& line : Lines(row.warns)) {
            EXPECT_NE(std::string::npos, run.Err().find("settings.ini: " + line)) << run.Err();
            warnings++;
        }
        EXPECT_EQ(warnings, Lines(run.Err()).size() - row.portNoNotice) << run.Err();
    }
}

// A signal in the middle of a transfer cancels it: the status tells which
// signal, no output is left behind, and the IR link tells the handheld. One
// that comes as kiv closes the port, when the transfer is over and can no
// longer be cancelled, ends kiv with the same status once a received block
// is saved, and the handheld hears no CAN.
TEST(KivLink, SignalsCancelTheTransfer)
{
    struct Row {
        int signal;
        std::string sim;
        std::string kiv;
        int status;
        bool canOnLine;
        // Raised by the preload library as kiv drops the port's lines (the
        // sim then gives the run's data): what kiv says after the cancel
        // message.
        const char* atClose = nullptr;
    } rows[] = {
        {SIGINT, "--baud 9600 --role send --size 20000 --eof", "receive -o @out --link cable --no-xonxoff",
         130, false},
        {SIGTERM, "--baud 9600 --role receive --no-eof-stop", "send @data --link cable", 143, false},
        {SIGINT, "--baud 9600 --format 8O1 --role silent --probe-answer f4", "send @data --link ir", 130,
         true},
        // The handheld taking the block stops at the CAN, not at its time-out.
        {SIGINT, "--baud 9600 --format 8O1 --role ir-receive --probe-answer f5", "send @data --link ir", 130,
         true},
        {SIGHUP, "--baud 9600 --format 8O1 --role ir-send --size 9000 --probe-answer f4",
         "receive -o @out --link ir", 129, false},
        {SIGINT, std::string(kSimCable) + " --role send", "receive -o @out " + std::string(kCable), 130,
         false, "; the block is kept in "},
        {SIGHUP, std::string(kSimIr) + " --role ir-send --probe-answer f4", "receive -o @out --link ir", 129,
         false, "; the block is kept in "},
        {SIGTERM, std::string(kSimCable) + " --role receive", "send @data " + std::string(kCable), 143, false,
         " too late to stop the send: the handheld has the block"},
        {SIGINT, std::string(kSimIr) + " --role ir-receive --probe-answer f5", "send @data --link ir", 130,
         false, " too late to stop the send: the handheld has the block"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.kiv + (row.atClose ? " at close" : ""));
        KivRun run;
        std::string data = row.atClose ? Pattern(1300, 7) + "\x1A" : Pattern(20000, 7);
        WriteWhole(run.File("data"), data);
        pid_t kiv;
        if (row.atClose) {
            ASSERT_TRUE(run.StartSim(row.sim + " --data " + run.File("data")));
            kiv = run.StartKiv(row.kiv + " -q --port LINE", "",
                               {"KIV_PTY_RAISE=" + std::to_string(row.signal)});
        } else {
            ASSERT_TRUE(run.StartSim(row.sim));
            kiv = run.StartKiv(row.kiv + " -q --port LINE");
            usleep(1500 * 1000);
            kill(kiv, row.signal);
        }
        EXPECT_EQ(row.status, ExitStatus(kiv)) << run.Err();
        std::string said = row.signal == SIGINT    ? "kiv: cancelled (Ctrl-C)"
                           : row.signal == SIGTERM ? "kiv: cancelled (SIGTERM)"
                                                   : "kiv: cancelled (the terminal hung up)";
        std::string then = row.atClose ? row.atClose : "";
        bool kept = then.find("kept in") != std::string::npos;
        EXPECT_NE(std::string::npos, run.Err().find(said + then + (kept ? run.File("out") : "") + "\n"))
            << run.Err();
        bool heardCan = row.canOnLine && row.sim.find("--role ir-") != std::string::npos;
        if (!heardCan)
            std::ofstream(run.File("stop")).put('\n');
        run.FinishSim();
        if (heardCan) {
            EXPECT_NE(std::string::npos, ReadWhole(run.File("rec.log")).find("end reason=ir-cancelled"));
        }
        EXPECT_EQ(kept, Exists(run.File("out")));
        if (kept) {
            EXPECT_TRUE(data == ReadWhole(run.File("out")));
        }
        if (row.atClose && !kept && row.kiv.find("cable") != std::string::npos) {
            EXPECT_TRUE(data == ReadWhole(run.File("rec.bin")));   // the handheld has it all
        }
        std::string line = ReadWhole(run.File("rec.bin"));
        bool can = line.size() >= kCanFrame.size() &&
                   line.substr(line.size() - kCanFrame.size()) == kCanFrame;
        if (!heardCan) {   // a handheld in an IR role records the block it took, not the line
            EXPECT_EQ(row.canOnLine, can);
        }
        EXPECT_EQ("modem op=bic dtr=0 rts=0", run.Log("modem").back());
        EXPECT_EQ(0, system(("! ls -a " + run.dir + " | grep -q '^\\.kiv-'").c_str()))
            << "a temporary file was left";
    }
}

// The files to-csv writes for a Kcsv file addr.kcsv in the folder sub.
std::vector<std::string> TableFiles(const KivRun& run, const std::string& sub)
{
    std::vector<std::string> files;
    for (const char* ext : {"", ".table", ".rec", ".num", ".tab", ".0.jpg", ".1.png", ".2.gif"})
        files.push_back(ReadWhole(run.File(sub + "/addr.kcsv" + ext)));
    return files;
}

// The sample table to the handheld and back: push sends the table from-csv
// writes (the same files come out of both), and pull writes what to-csv
// writes for the bytes that come back. A table carries the time it was
// made, so tables are compared by what they convert to.
TEST(KivLink, PushAndPullCarryTheSampleTable)
{
    KivRun run;
    ASSERT_EQ(0, system(("mkdir " + run.File("out") + " " + run.File("made") + " " + run.File("sent") +
                         " && cp " KIV_SAMPLES "/* " + run.File("out"))
                            .c_str()));
    ASSERT_TRUE(run.StartSim(std::string(kSimCable) + " --role receive"));
    EXPECT_EQ(0, run.Kiv(std::string("push --classic addr.table addr.txt --port LINE ") + kCable, "out"))
        << run.Err();
    std::ofstream(run.File("stop")).put('\n');
    run.FinishSim();
    std::string sent = ReadWhole(run.File("rec.bin"));
    WriteWhole(run.File("sent/addr.kcsv"), sent);
    EXPECT_EQ(0, run.Kiv("from-csv --classic addr.table addr.txt -o ../made/addr.kcsv", "out")) << run.Err();
    EXPECT_EQ(0, run.Kiv("to-csv --classic addr.kcsv", "made")) << run.Err();
    EXPECT_EQ(0, run.Kiv("to-csv --classic addr.kcsv", "sent")) << run.Err();

    KivRun back;
    WriteWhole(back.File("table"), sent);
    ASSERT_TRUE(back.StartSim(std::string(kSimCable) + " --role send --data " + back.File("table")));
    ASSERT_EQ(0, mkdir(back.File("got").c_str(), 0755));
    EXPECT_EQ(0, back.Kiv(std::string("pull --classic --name addr --port LINE ") + kCable, "got"))
        << back.Err();
    back.FinishSim();

    std::vector<std::string> made = TableFiles(run, "made"), viaLink = TableFiles(run, "sent");
    std::vector<std::string> pulled = TableFiles(back, "got");
    ASSERT_EQ(made.size(), pulled.size());
    EXPECT_EQ(made[0].size(), sent.size());
    EXPECT_TRUE(sent == pulled[0]);
    for (size_t i = 1; i < made.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(made[i].empty());
        if (i != 4) {   // the .tab file holds the table's time too
            EXPECT_TRUE(made[i] == viaLink[i]);
        }
        EXPECT_TRUE(pulled[i] == viaLink[i]);
    }
}

// Ports that cannot be used, each with a line that says what to do and the
// port-unavailable status.
TEST(KivLink, PortErrorsSayWhatToDo)
{
    const char* other = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups";
    const std::string rootOnly =
        "; give it a group with a udev rule in /etc/udev/rules.d/, e.g. SUBSYSTEM==\"tty\", "
        "KERNEL==\"<dev>\", "
        "MODE=\"0660\", GROUP=\"dialout\", and join that group, or run kiv with sudo";
    struct Row {
        const char* name;
        std::string port;      // LINE: kivsim's line
        std::string prefix;    // run kiv through this (another user)
        bool holdPort;         // this test holds the line
        std::string access;    // the line's owner:group and mode, when changed
        std::string message;   // <pid>: this test's, <dev>: the line under /dev
        int status;
    } rows[] = {
        {"missing", "/dev/ttyKIVNONE", "", false, "", "/dev/ttyKIVNONE: no such device; ", 5},
        {"not serial", "/dev/null", "", false, "", "/dev/null: not a serial device", 5},
        {"busy", "LINE", "", true, "",
         "busy: held by kiv_link_tests (pid <pid>); quit that program or end it with 'kill <pid>'", 5},
        {"group dialout", "LINE", other, false, "0:dialout 0660",
         "permission denied: the port belongs to group dialout (mode 0660); join it with 'sudo usermod -aG "
         "dialout $USER' and log in again",
         5},
        {"group root", "LINE", other, false, "0:0 0660",
         "permission denied: only root may open it (owner root, group root, mode 0660)" + rootOnly, 5},
        {"group may only write", "LINE", other, false, "0:tty 0620",
         "permission denied: only root may open it (owner root, group tty, mode 0620)" + rootOnly, 5},
        {"no port", "", "", false, "", "no port: give --port PATH or set KIV_PORT", 64},
        {"bad speed", "LINE", "", false, "", "speed 12345 cannot be set", 64},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        ASSERT_TRUE(run.StartSim("--role silent"));   // the run ends it
        chmod(run.dir.c_str(), 0755);   // the other user reaches the line, not the device behind it
        if (!row.access.empty()) {
            std::vector<std::string> access = Words(row.access);
            std::string cmd = "chown " + access[0] + " " + run.Line() + " && chmod " + access[1] + " " +
                              run.Line();
            ASSERT_EQ(0, system(cmd.c_str()));
        }
        int holder = -1;
        if (row.holdPort) {
            holder = open(run.Line().c_str(), O_RDWR | O_NOCTTY);
            ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
        }
        std::string port = row.port.empty() ? "" : " --port " + row.port;
        std::string speed = std::string(row.name) == "bad speed" ? " --speed 12345" : "";
        pid_t kiv;
        if (row.prefix.empty()) {
            kiv = run.StartKiv("send /dev/null --link cable" + port + speed);
        } else {
            std::vector<std::string> argv = Words(row.prefix);
            for (const std::string& w : {std::string(KIV_PATH), std::string("send"), std::string("/dev/null"),
                                         std::string("--port"), run.Line()})
                argv.push_back(w);
            kiv = Spawn(argv, {}, run.File("kiv.err"));
        }
        EXPECT_EQ(row.status, ExitStatus(kiv));
        std::string message = row.message;
        char* line = realpath(run.Line().c_str(), nullptr);
        for (const auto& [word, value] :
             {std::make_pair(std::string("<pid>"), std::to_string(getpid())),
              std::make_pair(std::string("<dev>"), std::string(line ? line + 5 : ""))})
            for (size_t at; (at = message.find(word)) != std::string::npos;)
                message.replace(at, word.size(), value);
        free(line);
        EXPECT_NE(std::string::npos, run.Err().find(message)) << run.Err();
        if (holder >= 0)
            close(holder);
    }
}

}
