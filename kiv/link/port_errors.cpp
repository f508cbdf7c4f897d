// What a person can do about each reason, from what the system tells:
// the device's owner, group and mode for a refused permission (a group to
// join, or a udev rule or sudo where only root may open it), the processes
// that hold a busy port, the ports present for a missing one.
#include "port_errors.h"
#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <cstdio>
#include "port_holders.h"
#include "posix_port.h"
#include "records.h"

namespace {

std::string GroupName(gid_t gid)
{
    struct group* g = getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

std::string UserName(uid_t uid)
{
    struct passwd* p = getpwuid(uid);
    return p ? p->pw_name : std::to_string(uid);
}

std::string PortsPresent(void)
{
    std::vector<std::string> ports = ListSerialPorts();
    if (ports.empty())
        return "no serial ports are present";
    std::string list = "ports present: ";
    for (size_t i = 0; i < ports.size(); i++)
        list += (i ? ", " : "") + ports[i];
    return list;
}

// The device's name as udev matches it: its path under /dev, links resolved.
std::string KernelName(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    std::string name = real ? real : path;
    free(real);
    return name.rfind("/dev/", 0) == 0 ? name.substr(5) : name;
}

std::string PermissionMessage(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return "permission denied";
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", (unsigned)(st.st_mode & 07777));
    std::string group = GroupName(st.st_gid);
    const mode_t groupRw = S_IRGRP | S_IWGRP;
    if ((st.st_mode & groupRw) == groupRw && st.st_gid != 0)
        return "permission denied: the port belongs to group " + group + " (mode " + mode +
               "); join it with 'sudo usermod -aG " + group + " $USER' and log in again";
    std::string who = st.st_uid == 0 ? "root" : "its owner " + UserName(st.st_uid) + " and root";
    return "permission denied: only " + who + " may open it (owner " + UserName(st.st_uid) + ", group " +
           group + ", mode " + mode + "); give it a group with a udev rule in /etc/udev/rules.d/, e.g. " +
           "SUBSYSTEM==\"tty\", KERNEL==\"" + KernelName(path) +
           "\", MODE=\"0660\", GROUP=\"dialout\", and join that group, or run kiv with sudo";
}

// What to do about a service that takes serial ports by itself.
std::string ServiceHint(const std::string& name)
{
    if (name == "ModemManager")
        return "; ModemManager probes every new port: 'sudo systemctl stop ModemManager'";
    if (name == "brltty")
        return "; brltty takes some USB serial adapters for braille displays: 'sudo systemctl stop brltty'";
    return "";
}

// The lock's owner when the lock refused the port (kiv locks it as other
// programs of its kind do), else whoever has it open: a program that took
// it for itself alone refuses every other opener.
std::string BusyMessage(const std::string& path, int sysError)
{
    std::vector<PortHolder> holders;
    if (sysError == EWOULDBLOCK)
        holders = PortLockHolders(path);
    if (holders.empty())
        holders = PortHolders(path);
    if (holders.empty())
        return "busy: held by a program this user cannot see (another user's, or in another container); "
               "its hold ends when it ends, so 'sudo fuser -v " +
               path + "' names the program to quit";
    std::string names, pids, hints;
    bool stopped = false;
    for (const PortHolder& h : holders) {
        std::string pid = std::to_string(h.pid);
        names += (names.empty() ? "" : ", ") + h.name + " (pid " + pid + (h.stopped ? ", stopped" : "") + ")";
        pids += " " + pid;
        hints += ServiceHint(h.name);
        stopped = stopped || h.stopped;
    }
    // A stopped program takes no signal but SIGKILL until it goes on.
    return "busy: held by " + names + "; quit that program or end it with 'kill" + (stopped ? " -9" : "") +
           pids + "'" + hints;
}

}

std::string PortOpenMessage(const std::string& path, int openError, int sysError)
{
    std::string p = path + ": ";
    switch (openError) {
    case PORT_NOT_FOUND: return p + "no such device; " + PortsPresent();
    case PORT_NO_PERMISSION: return p + PermissionMessage(path);
    case PORT_BUSY: return p + BusyMessage(path, sysError);
    case PORT_NOT_SERIAL: return p + "not a serial device";
    case PORT_BAD_SPEED: return p + "the speed cannot be set on this port";
    default: return p + "cannot be opened: " + strerror(sysError);
    }
}

std::string ResultMeaning(int resultCode)
{
    switch (resultCode) {
    case RC_OK: return "done";
    case RC_TIMEOUT: return "time-out: the handheld did not answer in time";
    case RC_RETRY_FAILED: return "retries failed: the handheld did not take a block";
    case RC_LINE_ERROR: return "line error: the bytes on the line were damaged or unexpected";
    case RC_NO_MEMORY: return "no memory for the block";
    case RC_PORT_UNAVAILABLE: return "port unavailable";
    case RC_CANCELLED: return "the handheld called the transfer off";
    default: return "failed";
    }
}

std::string CancelMessage(int signal)
{
    switch (signal) {
    case SIGINT: return "cancelled (Ctrl-C)";
    case SIGTERM: return "cancelled (SIGTERM)";
    case SIGHUP: return "cancelled (the terminal hung up)";
    default: return "cancelled (signal " + std::to_string(signal) + ")";
    }
}
