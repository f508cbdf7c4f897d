// The plain POSIX form of what serial_linux.cpp does with Linux's own calls:
// no line-error counters, and the serial devices found by name in /dev.
#include <dirent.h>
#include <algorithm>
#include "posix_port.h"

bool ReadLineErrorCounts(int, LineErrorCounts*) { return false; }

std::vector<std::string> ListSerialPorts(void)
{
    std::vector<std::string> ports;
    DIR* d = opendir("/dev");
    if (!d)
        return ports;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind("cu.", 0) == 0 || name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0)
            ports.push_back("/dev/" + name);
    }
    closedir(d);
    std::sort(ports.begin(), ports.end());
    return ports;
}
