// /proc/locks lists every flock lock with its owner's pid and the locked
// file's device and inode. Every process's open descriptors are links under
// /proc/PID/fd; one that leads to a character device with the port's device
// number has the port open, whatever name it opened it by.
#include "port_holders.h"
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

bool HasDeviceOpen(const std::string& procDir, dev_t device)
{
    DIR* fds = opendir((procDir + "/fd").c_str());
    if (!fds)
        return false;
    bool found = false;
    while (struct dirent* e = readdir(fds)) {
        struct stat st;
        std::string link = procDir + "/fd/" + e->d_name;
        if (e->d_name[0] != '.' && stat(link.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
            st.st_rdev == device)
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
    std::vector<PortHolder> holders;
    struct stat port;
    DIR* proc = opendir("/proc");
    if (stat(path.c_str(), &port) != 0 || !S_ISCHR(port.st_mode) || !proc) {
        if (proc)
            closedir(proc);
        return holders;
    }
    while (struct dirent* e = readdir(proc)) {
        pid_t pid = (pid_t)atoi(e->d_name);
        std::string dir = std::string("/proc/") + e->d_name;
        if (pid > 0 && pid != getpid() && HasDeviceOpen(dir, port.st_rdev))
            holders.push_back(Describe(pid, dir));
    }
    closedir(proc);
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}
