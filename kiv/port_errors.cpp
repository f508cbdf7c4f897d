// What a person can do about each reason: join the group that owns the
// device, pick one of the ports present, close the other program.
#include "port_errors.h"
#include <grp.h>
#include <string.h>
#include <sys/stat.h>
#include "posix_port.h"
#include "records.h"

namespace {

std::string OwningGroup(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return "";
    struct group* g = getgrgid(st.st_gid);
    return g ? g->gr_name : std::to_string(st.st_gid);
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

}

std::string PortOpenMessage(const std::string& path, int openError, int sysError)
{
    std::string p = path + ": ";
    switch (openError) {
    case PORT_NOT_FOUND: return p + "no such device; " + PortsPresent();
    case PORT_NO_PERMISSION: {
        std::string group = OwningGroup(path);
        if (group.empty())
            return p + "permission denied";
        return p + "permission denied: the port belongs to group " + group + "; join it with 'usermod -aG " +
               group + " $USER' and log in again";
    }
    case PORT_BUSY: return p + "busy: another program holds the port";
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
    case RC_CANCELLED: return "cancelled: the transfer was called off";
    default: return "failed";
    }
}
