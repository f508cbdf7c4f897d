// What only Linux offers: the line-error counters of the serial driver and
// the list of serial ports from /dev/serial/by-id and sysfs. Another system
// builds serial_portable.cpp in this file's place.
#include <dirent.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include "posix_port.h"

namespace {

std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return names;
    while (struct dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool HasPrefix(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// A tty with a device behind it: the legacy ttyS ports all exist, but only
// those the serial driver found a UART for have a port type.
bool HasHardware(const std::string& name)
{
    struct stat st;
    std::string sys = "/sys/class/tty/" + name + "/device";
    if (stat(sys.c_str(), &st) != 0)
        return false;
    if (!HasPrefix(name, "ttyS"))
        return true;
    FILE* f = fopen(("/sys/class/tty/" + name + "/type").c_str(), "r");
    int type = 0;
    if (f) {
        if (fscanf(f, "%d", &type) != 1)
            type = 0;
        fclose(f);
    }
    return type != 0;
}

}

bool ReadLineErrorCounts(int fd, LineErrorCounts* counts)
{
    struct serial_icounter_struct c = {};
    if (ioctl(fd, TIOCGICOUNT, &c) != 0)
        return false;
    counts->frame = (uint32_t)c.frame;
    counts->parity = (uint32_t)c.parity;
    counts->overrun = (uint32_t)c.overrun;
    counts->brk = (uint32_t)c.brk;
    counts->bufferOverrun = (uint32_t)c.buf_overrun;
    return true;
}

std::vector<std::string> ListSerialPorts(void)
{
    std::vector<std::string> ports;
    const std::string byId = "/dev/serial/by-id/";
    for (const std::string& name : Entries(byId)) {
        char target[PATH_MAX];
        if (realpath((byId + name).c_str(), target))
            ports.push_back(byId + name + " -> " + target);
    }
    for (const char* prefix : {"ttyUSB", "ttyACM", "ttyS"})
        for (const std::string& name : Entries("/sys/class/tty"))
            if (HasPrefix(name, prefix) && HasHardware(name))
                ports.push_back("/dev/" + name);
    return ports;
}
