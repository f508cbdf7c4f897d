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
    const char* pty =
        "ok      driver: none in sysfs: not a USB adapter (a pseudo-terminal or a virtual port)";
    struct Row {
        const char* name;
        std::string sim;                  // kivsim's flags; none when empty
        std::string args;                 // kiv's
        std::string prefix;               // run kiv through this (another user)
        bool holdPort;                    // this test holds the line
        std::vector<std::string> lines;   // each the start of a line of kiv's output
        int status;
        std::string err;
    } rows[] = {
        {"missing",
         "",
         "doctor -p /dev/ttyKIVNONE",
         "",
         false,
         {"fail    device: /dev/ttyKIVNONE: no such device; ports present"},
         5,
         ""},
        {"not serial",
         "",
         "doctor --port /dev/null",
         "",
         false,
         {"fail    device: /dev/null: not a serial device; give a serial port: 'kiv ports' lists them"},
         5,
         ""},
        {"kivsim's line",
         "--role silent",
         "doctor -p LINE",
         "",
         false,
         {"ok      device: LINE is a serial device (a terminal)\n",
          "ok      access: this user may open it as root",
          "warning holders: open in kivsim (pid <sim>): a program that reads the port takes the handheld's "
          "bytes",
          pty},
         0,
         ""},
        {"held",
         "--role silent",
         "doctor -p LINE",
         "",
         true,
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
         false,
         {"ok      device: LINE is a character device (not opened: see below)",
          "fail    access: permission denied: the port belongs to group dialout (mode 0660); join it with "
          "'sudo "
          "usermod -aG dialout $USER' and log in again",
          "ok      holders: no other program has it open (other users' programs are not visible)"},
         5,
         ""},
        {"probe answered",
         std::string(kSimIr) + " --role silent --probe-answer f4",
         "doctor -p LINE --probe",
         "",
         false,
         {"ok      probe: the IR line device answered the probe f0 with f4\n"},
         0,
         ""},
        {"probe unanswered",
         std::string(kSimIr) + " --role silent --probe-answer none",
         "doctor -p LINE --probe",
         "",
         false,
         {"fail    probe: no answer to the probe f0 within a second: plug in the IR adapter"},
         5,
         ""},
        {"no port", "", "doctor", "", false, {}, 64, "kiv: no port: give --port PATH or set KIV_PORT"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KivRun run;
        if (!row.sim.empty()) {
            ASSERT_TRUE(run.StartSim(row.sim));   // the run ends it
        }
        int holder = -1;
        if (row.holdPort) {
            holder = open(run.Line().c_str(), O_RDWR | O_NOCTTY);
            ASSERT_EQ(0, flock(holder, LOCK_EX | LOCK_NB));
        }
        pid_t kiv;
        if (row.prefix.empty()) {
            kiv = run.StartKiv(row.args);
        } else {
            chmod(run.dir.c_str(), 0755);   // the other user reaches the line, not the device behind it
            std::string cmd = "chown 0:dialout " + run.Line() + " && chmod 0660 " + run.Line();
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
