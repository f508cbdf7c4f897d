// kiv doctor through the command line: each port a person may meet, with
// the lines it must print and its exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>
#include <string>
#include <vector>
#include "kiv_harness.h"

namespace {

// LINE: kivsim's line as given; <pid>: this test's pid; <sim>: kivsim's.
std::string Fill(std::string text, const KivRun& run)
{
    for (const auto& [word, value] : {std::make_pair(std::string("LINE"), run.Line()),
                                      std::make_pair(std::string("<pid>"), std::to_string(getpid())),
                                      std::make_pair(std::string("<sim>"), std::to_string(run.sim))})
        for (size_t at; (at = text.find(word)) != std::string::npos;)
            text.replace(at, word.size(), value);
    return text;
}

bool HasLineStarting(const std::string& out, const std::string& start)
{
    return out.rfind(start, 0) == 0 || out.find("\n" + start) != std::string::npos;
}

TEST(KivDoctor, SaysWhatStandsBetweenThisUserAndThePort)
{
    const char* other = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups";
    const char* pty = "ok      driver: none: a pseudo-terminal has no driver or adapter to check";
    enum Hold { NONE, OPEN, LOCK };
    struct Row {
        const char* name;
        std::string sim;                  // kivsim's flags; none when empty
        std::string args;                 // kiv's
        std::string prefix;               // run kiv through this (another user)
        std::string access;               // the line's owner:group and mode then
        Hold hold;                        // this test opens the line, or locks it too
        std::vector<std::string> lines;   // each the start of a line of kiv's output
        int status;
        std::string err;
    } rows[] = {
        {"missing",
         "",
         "doctor -p /dev/ttyKIVNONE",
         "",
         "",
         NONE,
         {"fail    device: /dev/ttyKIVNONE: no such device; ports present"},
         5,
         ""},
        {"not serial",
         "",
         "doctor --port /dev/null",
         "",
         "",
         NONE,
         {"fail    device: /dev/null: not a serial device; give a serial port: 'kiv ports' lists them"},
         5,
         ""},
        {"kivsim's line",
         "--role silent",
         "doctor -p LINE",
         "",
         "",
         NONE,
         {"ok      device: LINE is a pseudo-terminal: the simulated handheld's line or a forwarding of a "
          "port, "
          "not a serial port of this machine\n",
          "ok      access: this user may open it as root",
          "ok      holders: no other program has it open; on its other side: kivsim (pid <sim>)\n", pty},
         0,
         ""},
        {"opened beside kivsim",
         "--role silent",
         "doctor -p LINE",
         "",
         "",
         OPEN,
         {"warning holders: open in kiv_doctor_test (pid <pid>): a program that reads the port takes the "
          "handheld's bytes"},
         0,
         ""},
        {"held",
         "--role silent",
         "doctor -p LINE",
         "",
         "",
         LOCK,
         {"fail    holders: busy: held by kiv_doctor_test (pid <pid>); quit that program or end it with "
          "'kill "
          "<pid>'",
          pty},
         5,
         ""},
        {"no permission",
         "--role silent",
         "doctor -p LINE",
         other,
         "0:dialout 0660",
         NONE,
         {"ok      device: LINE is a pseudo-terminal (not opened: see below)",
          "fail    access: permission denied: the program that made this pseudo-terminal lets only its owner "
          "root and group dialout open it (mode 0660); run that program (the simulated handheld, the "
          "forwarding) as this user, run kiv as root, or have root 'chmod 0666 LINE' while it lasts (no udev "
          "rule applies to a pseudo-terminal)",
          "ok      holders: no other program has it open (other users' programs are not visible)\n"},
         5,
         ""},
        {"no permission, group may only write",
         "--role silent",
         "doctor -p LINE",
         other,
         "0:tty 0620",
         NONE,
         {"fail    access: permission denied: the program that made this pseudo-terminal lets only its owner "
          "root open it (mode 0620); run that program"},
         5,
         ""},
        {"probe answered",
         std::string(kSimIr) + " --role silent --probe-answer f4",
         "doctor -p LINE --probe",
         "",
         "",
         NONE,
         {"ok      probe: the IR line device answered the probe f0 with f4\n"},
         0,
         ""},
        {"probe unanswered",
         std::string(kSimIr) + " --role silent --probe-answer none",
         "doctor -p LINE --probe",
         "",
         "",
         NONE,
         {"fail    probe: no answer to the probe f0 within a second: plug in the IR adapter"},
         5,
         ""},
        {"no port", "", "doctor", "", "", NONE, {}, 64, "kiv: no port: give --port PATH or set KIV_PORT"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        if (!row.sim.empty()) {
            ASSERT_TRUE(run.StartSim(row.sim));   // the run ends it
        }
        int holder = -1;
        if (row.hold != NONE) {
            holder = open(run.Line().c_str(), O_RDWR | O_NOCTTY);
            ASSERT_LE(0, holder);
        }
        if (row.hold == LOCK) {
            ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
        }
        pid_t kiv;
        if (row.prefix.empty()) {
            kiv = run.StartKiv(row.args);
        } else {
            chmod(run.dir.c_str(), 0755);   // the other user reaches the line, not the device behind it
            std::vector<std::string> access = Words(row.access);
            std::string cmd = "chown " + access[0] + " " + run.Line() + " && chmod " + access[1] + " " +
                              run.Line();
            ASSERT_EQ(0, system(cmd.c_str()));
            std::vector<std::string> argv = Words(row.prefix + " " KIV_PATH " " + Fill(row.args, run));
            kiv = Spawn(argv, {}, run.File("kiv.err"), "", run.File("kiv.out"));
        }
        EXPECT_EQ(row.status, ExitStatus(kiv)) << run.Out() << run.Err();
        for (const std::string& line : row.lines)
            EXPECT_TRUE(HasLineStarting(run.Out(), Fill(line, run))) << Fill(line, run) << "\nin:\n"
                                                                     << run.Out();
        EXPECT_NE(std::string::npos, run.Err().find(row.err)) << run.Err();
        if (holder >= 0)
            close(holder);
    }
}

}
