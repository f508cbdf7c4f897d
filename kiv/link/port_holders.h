// The processes that hold a device: the owners of its flock lock as the
// kernel lists them, the processes that have it open, as fuser finds them,
// and for a pseudo-terminal the program on its other side.
#pragma once
#include <sys/stat.h>
#include <sys/types.h>
#include <string>
#include <vector>

struct PortHolder {
    pid_t pid;
    std::string name;   // its command name
    bool stopped;       // stopped by a signal (Ctrl-Z): it keeps the port until it ends
};

// The running processes that hold an flock lock on the device at path.
std::vector<PortHolder> PortLockHolders(const std::string& path);
// The other processes with an open descriptor on it, in the order of their
// pids; those of other users are not visible to an ordinary user.
std::vector<PortHolder> PortHolders(const std::string& path);
// A pseudo-terminal's number (N of /dev/pts/N), or -1 for any other device.
int PseudoTerminalIndex(const struct stat& st);
// The other processes that hold the pseudo-terminal's master side: the
// program that made it (the simulated handheld, a forwarding of a port).
std::vector<PortHolder> PseudoTerminalMakers(const std::string& path);
