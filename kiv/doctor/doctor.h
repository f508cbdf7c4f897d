// kiv doctor: what stands between this user and a working port, one
// finding per check, each with what to do about a failure.
#pragma once
#include <sys/stat.h>
#include <string>

enum FindingLevel { FINDING_OK, FINDING_WARNING, FINDING_FAIL };

struct Finding {
    FindingLevel level;
    const char* check;   // the check's one-word name, e.g. "access"
    std::string text;    // what was found; for a failure, the fix too
};

// Whether this user may open the device, from its owner, group and mode
// against the process's user and groups; doctor_access.cpp.
Finding AccessFinding(const std::string& path, const struct stat& st);
// The driver behind the device from sysfs, with a USB adapter's ids and a
// note on drivers known to need care; doctor_usb.cpp.
Finding DriverFinding(const std::string& path, const struct stat& st);
