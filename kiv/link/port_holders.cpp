// /proc/locks lists every flock lock with its owner's pid and the locked
// file's device and inode. Every process's open descriptors are links under
// /proc/PID/fd; one that leads to a character device with the port's device
// number has the port open, whatever name it opened it by. A pseudo-
// terminal's master is a descriptor on the multiplexer whose fdinfo names
// the terminal's number.
#include "port_holders.h"
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// The majors of Unix98 pseudo-terminals' slaves, 256 minors each on older
// kernels; newer ones number them all under the first.
const unsigned kPtySlaveMajor = 136;
// The multiplexer's device number, /dev/ptmx or /dev/pts/ptmx alike.
const dev_t kPtmx = makedev(5, 2);

// Whether one of the process's descriptors is a character device for which
// match(its number under fd/, its stat) holds.
template <class Match>
bool AnyDescriptor(const std::string& procDir, Match match)
{
    DIR* fds = opendir((procDir + "/fd").c_str());
    if (!fds)
        return false;
    bool found = false;
    while (struct dirent* e = readdir(fds)) {
        struct stat st;
        std::string link = procDir + "/fd/" + e->d_name;
        if (e->d_name[0] != '.' && stat(link.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
            match(std::string(e->d_name), st))
            found = true;
    }
    closedir(fds);
    return found;
}

PortHolder Describe(pid_t pid, const std::string& procDir)
{
    PortHolder h{pid, "", false};
    std::getline(std::ifstream(procDir + "/comm"), h.name);
    std::string stat;
    std::getline(std::ifstream(procDir + "/stat"), stat);
    size_t close = stat.rfind(')');   // the name in parentheses may hold anything
    h.stopped = close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T';
    return h;
}

// The pid of a granted flock lock on the file (dev, ino) in a line of
// /proc/locks ("1: FLOCK ADVISORY WRITE 812 00:1a:3 0 EOF"), or 0.
pid_t LockOwner(const std::string& line, dev_t dev, ino_t ino)
{
    std::istringstream in(line);
    std::string id, kind, mode, access, file;
    pid_t pid = 0;
    if (!(in >> id >> kind >> mode >> access >> pid >> file) || kind != "FLOCK")
        return 0;   // a waiter ("->") or another kind of lock
    unsigned maj = 0, min = 0;
    unsigned long inode = 0;
    if (sscanf(file.c_str(), "%x:%x:%lu", &maj, &min, &inode) != 3)
        return 0;
    return maj == major(dev) && min == minor(dev) && inode == ino ? pid : 0;
}

// The pseudo-terminal a descriptor on the multiplexer (/dev/ptmx) stands
// for, from its fdinfo's "tty-index:" line; -1 without one.
int TtyIndex(const std::string& fdinfo)
{
    std::ifstream in(fdinfo);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("tty-index:", 0) == 0)
            return atoi(line.c_str() + strlen("tty-index:"));
    return -1;
}

// Every other process for which has(its /proc directory) holds, in the
// order of their pids.
template <class Has>
std::vector<PortHolder> ProcessesThat(Has has)
{
    std::vector<PortHolder> holders;
    DIR* proc = opendir("/proc");
    if (!proc)
        return holders;
    while (struct dirent* e = readdir(proc)) {
        pid_t pid = (pid_t)atoi(e->d_name);
        std::string dir = std::string("/proc/") + e->d_name;
        if (pid > 0 && pid != getpid() && has(dir))
            holders.push_back(Describe(pid, dir));
    }
    closedir(proc);
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}

}

std::vector<PortHolder> PortLockHolders(const std::string& path)
{
    std::vector<PortHolder> holders;
    struct stat node;
    if (stat(path.c_str(), &node) != 0)
        return holders;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        pid_t pid = LockOwner(line, node.st_dev, node.st_ino);
        std::string dir = "/proc/" + std::to_string(pid);
        if (pid > 0 && access(dir.c_str(), F_OK) == 0)
            holders.push_back(Describe(pid, dir));
    }
    return holders;
}

std::vector<PortHolder> PortHolders(const std::string& path)
{
    struct stat port;
    if (stat(path.c_str(), &port) != 0 || !S_ISCHR(port.st_mode))
        return {};
    return ProcessesThat([&](const std::string& dir) {
        return AnyDescriptor(
            dir, [&](const std::string&, const struct stat& st) { return st.st_rdev == port.st_rdev; });
    });
}

int PseudoTerminalIndex(const struct stat& st)
{
    unsigned m = major(st.st_rdev);
    if (!S_ISCHR(st.st_mode) || m < kPtySlaveMajor || m >= kPtySlaveMajor + 8)
        return -1;
    return (int)((m - kPtySlaveMajor) * 256 + minor(st.st_rdev));
}

std::vector<PortHolder> PseudoTerminalMakers(const std::string& path)
{
    struct stat slave;
    int index = stat(path.c_str(), &slave) == 0 ? PseudoTerminalIndex(slave) : -1;
    if (index < 0)
        return {};
    return ProcessesThat([&](const std::string& dir) {
        return AnyDescriptor(dir, [&](const std::string& fd, const struct stat& st) {
            return st.st_rdev == kPtmx && TtyIndex(dir + "/fdinfo/" + fd) == index;
        });
    });
}
