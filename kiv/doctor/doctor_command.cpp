// kiv doctor: the checks in the order a person fixes them, one line each,
// "ok", "warning" or "fail" first. A device that is missing or no serial
// device ends the checks; the others all run, and the IR line device is
// probed only on request and only when nothing failed before it.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include "doctor.h"
#include "kiv_commands.h"
#include "kiv_convert.h"
#include "port_errors.h"
#include "port_holders.h"
#include "posix_port.h"

namespace {

const char* LevelName(FindingLevel level)
{
    return level == FINDING_OK ? "ok" : level == FINDING_WARNING ? "warning" : "fail";
}

// Whether the device opens and is a terminal: 0 for one, else the errno.
int OpenError(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = isatty(fd) ? 0 : ENOTTY;
    close(fd);
    return error;
}

Finding DeviceFinding(const std::string& path, const struct stat& st, int openError)
{
    if (!S_ISCHR(st.st_mode) || openError == ENOTTY)
        return {FINDING_FAIL, "device",
                PortOpenMessage(path, PORT_NOT_SERIAL, ENOTTY) +
                    "; give a serial port: 'kiv ports' lists them"};
    bool pty = PseudoTerminalIndex(st) >= 0;
    if (openError == 0 && pty)
        return {FINDING_OK, "device",
                path + " is a pseudo-terminal: the simulated handheld's line or a forwarding of a port, "
                       "not a serial port of this machine"};
    if (openError == 0)
        return {FINDING_OK, "device", path + " is a serial device (a terminal)"};
    if (openError == EACCES || openError == EPERM || openError == EBUSY)
        return {FINDING_OK, "device",
                path + " is a " + (pty ? "pseudo-terminal" : "character device") +
                    " (not opened: see below)"};
    return {FINDING_FAIL, "device", path + ": cannot be opened: " + strerror(openError)};
}

std::string Names(const std::vector<PortHolder>& holders)
{
    std::string names;
    for (const PortHolder& h : holders)
        names += (names.empty() ? "" : ", ") + h.name + " (pid " + std::to_string(h.pid) + ")";
    return names;
}

// A lock or an exclusive open keeps kiv out; a program that merely has the
// port open lets kiv in but may read the handheld's bytes before kiv does.
// On a pseudo-terminal the program on its other side (which may keep this
// side open too, as kivsim does) is the handheld or the port it forwards.
Finding HoldersFinding(const std::string& path, int openError)
{
    std::vector<PortHolder> locks = PortLockHolders(path), open, makers = PseudoTerminalMakers(path);
    for (const PortHolder& h : PortHolders(path))
        if (std::none_of(makers.begin(), makers.end(), [&](const PortHolder& m) { return m.pid == h.pid; }))
            open.push_back(h);
    if (!locks.empty() || openError == EBUSY) {
        std::string message = PortOpenMessage(path, PORT_BUSY, locks.empty() ? EBUSY : EWOULDBLOCK);
        return {FINDING_FAIL, "holders", message.substr(path.size() + 2)};
    }
    if (!open.empty())
        return {FINDING_WARNING, "holders",
                "open in " + Names(open) +
                    ": a program that reads the port takes the handheld's bytes; "
                    "quit it before a transfer"};
    return {FINDING_OK, "holders",
            std::string("no other program has it open") +
                (getuid() == 0 ? "" : " (other users' programs are not visible)") +
                (makers.empty() ? "" : "; on its other side: " + Names(makers))};
}

Finding ProbeFinding(const std::string& path)
{
    const LineSettings ir = {9600, 'o', 8, 0, 0, 0};
    PortOpenError error;
    int sysError = 0;
    int fd = OpenSerialPort(path.c_str(), ir, &error, &sysError);
    if (fd < 0)
        return {FINDING_FAIL, "probe", PortOpenMessage(path, error, sysError)};
    int answer = ProbeIrLine(fd);
    CloseSerialPort(fd);
    char text[160];
    if (answer == 0xF4 || answer == 0xF5)
        snprintf(text, sizeof text, "the IR line device answered the probe f0 with %02x", answer);
    else if (answer < 0)
        snprintf(text, sizeof text,
                 "no answer to the probe f0 within a second: plug in the IR adapter, or "
                 "use --link cable for a cable");
    else
        snprintf(text, sizeof text,
                 "the probe f0 was answered with %02x, not f4 or f5: not the IR line device", answer);
    return {answer == 0xF4 || answer == 0xF5 ? FINDING_OK : FINDING_FAIL, "probe", text};
}

bool Report(const Finding& f, bool* failed)
{
    std::cout << std::left << std::setw(8) << LevelName(f.level) << f.check << ": " << f.text << "\n";
    *failed = *failed || f.level == FINDING_FAIL;
    return f.level != FINDING_FAIL;
}

}

int DoctorCommand(const std::string& path, bool probe)
{
    if (path.empty()) {
        Complain("no port: give --port PATH or set KIV_PORT (kiv ports lists them)");
        return KIV_EXIT_USAGE;
    }
    bool failed = false;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        Report({FINDING_FAIL, "device", PortOpenMessage(path, PORT_NOT_FOUND, errno)}, &failed);
        return RC_PORT_UNAVAILABLE;
    }
    int openError = S_ISCHR(st.st_mode) ? OpenError(path) : ENOTTY;
    if (!Report(DeviceFinding(path, st, openError), &failed))
        return RC_PORT_UNAVAILABLE;
    Report(AccessFinding(path, st), &failed);
    Report(HoldersFinding(path, openError), &failed);
    Report(DriverFinding(path, st), &failed);
    if (probe && failed)
        Report({FINDING_WARNING, "probe", "not run until the checks above pass"}, &failed);
    else if (probe)
        Report(ProbeFinding(path), &failed);
    return failed ? (int)RC_PORT_UNAVAILABLE : (int)KIV_EXIT_OK;
}
