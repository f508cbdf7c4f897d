// Who may open the device: the system's own answer (access(2)) decides,
// the owner, group and mode explain it. A user added to the port's group
// has it only from the next login on, so the group database is compared
// with the groups this process runs with. A pseudo-terminal's owner and
// mode are what the program that made it gave it, for as long as it lasts:
// no udev rule reaches it and no group is its own, so the fix is that
// program's user or its mode.
#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <climits>
#include <cstdio>
#include <vector>
#include "doctor.h"
#include "port_errors.h"
#include "port_holders.h"
#include "posix_port.h"

namespace {

std::string GroupName(gid_t gid)
{
    struct group* g = getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

bool InProcessGroups(gid_t gid)
{
    std::vector<gid_t> groups(NGROUPS_MAX + 1);
    int n = getgroups((int)groups.size(), groups.data());
    for (int i = 0; i < n; i++)
        if (groups[(size_t)i] == gid)
            return true;
    return getgid() == gid || getegid() == gid;
}

// Whether the group database makes this user a member of gid.
bool InGroupDatabase(gid_t gid)
{
    struct passwd* p = getpwuid(getuid());
    if (!p)
        return false;
    int n = NGROUPS_MAX + 1;
    std::vector<gid_t> groups((size_t)n);
    if (getgrouplist(p->pw_name, p->pw_gid, groups.data(), &n) < 0)
        return false;
    for (int i = 0; i < n; i++)
        if (groups[(size_t)i] == gid)
            return true;
    return false;
}

std::string Why(const struct stat& st)
{
    if (getuid() == 0)
        return "as root";
    if (st.st_uid == getuid())
        return "as its owner";
    if ((st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP) && InProcessGroups(st.st_gid))
        return "as a member of group " + GroupName(st.st_gid);
    return "as everyone may";
}

std::string Mode(const struct stat& st)
{
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", (unsigned)(st.st_mode & 07777));
    return mode;
}

std::string UserName(uid_t uid)
{
    struct passwd* p = getpwuid(uid);
    return p ? p->pw_name : std::to_string(uid);
}

std::string PseudoTerminalDenied(const std::string& path, const struct stat& st)
{
    const mode_t groupRw = S_IRGRP | S_IWGRP;
    std::string owner = UserName(st.st_uid);
    std::string who = "its owner " + owner;
    if ((st.st_mode & groupRw) == groupRw)
        who += " and group " + GroupName(st.st_gid);
    std::string fixes =
        "run that program (the simulated handheld, the forwarding) as this user, run kiv as " + owner +
        ", or have " + owner + " 'chmod 0666 " + path + "' while it lasts";
    return "permission denied: the program that made this pseudo-terminal lets only " + who +
           " open it (mode " + Mode(st) + "); " + fixes + " (no udev rule applies to a pseudo-terminal)";
}

}

Finding AccessFinding(const std::string& path, const struct stat& st)
{
    if (access(path.c_str(), R_OK | W_OK) == 0)
        return {FINDING_OK, "access",
                "this user may open it " + Why(st) + " (group " + GroupName(st.st_gid) + ", mode " +
                    Mode(st) + ")"};
    const mode_t groupRw = S_IRGRP | S_IWGRP;
    std::string group = GroupName(st.st_gid);
    if ((st.st_mode & groupRw) == groupRw && InGroupDatabase(st.st_gid) && !InProcessGroups(st.st_gid))
        return {FINDING_FAIL, "access",
                "this user was added to group " + group + " (mode " + Mode(st) +
                    ") but this login does not have it yet; log out and in again, or run 'newgrp " + group +
                    "' in this shell"};
    if (PseudoTerminalIndex(st) >= 0)
        return {FINDING_FAIL, "access", PseudoTerminalDenied(path, st)};
    std::string message = PortOpenMessage(path, PORT_NO_PERMISSION, EACCES);
    return {FINDING_FAIL, "access", message.substr(path.size() + 2)};
}
