// The driver behind a serial device, as sysfs tells it: the tty's device
// links to its driver, and for a USB adapter one of the device's parents
// is the USB device with its vendor and product ids. A pseudo-terminal or
// a virtual port has no device in sysfs at all.
#include <stdlib.h>
#include <unistd.h>
#include <fstream>
#include "doctor.h"
#include "port_holders.h"

namespace {

std::string RealPath(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    std::string s = real ? real : "";
    free(real);
    return s;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FirstLine(const std::string& path)
{
    std::string line;
    std::getline(std::ifstream(path), line);
    return line;
}

// The USB device above a tty's device: the nearest parent with a vendor id.
std::string UsbDevice(std::string dir)
{
    for (int up = 0; up < 4 && dir.size() > 1; up++) {
        if (access((dir + "/idVendor").c_str(), F_OK) == 0)
            return dir;
        dir = dir.substr(0, dir.rfind('/'));
    }
    return "";
}

// What to know about drivers that do not behave as the others.
std::string DriverNote(const std::string& driver)
{
    if (driver == "ch341")
        return "; note: older kernels' ch341 driver ignores parity, which the IR link's 8O1 needs: if IR "
               "transfers fail, try a newer kernel or another adapter";
    if (driver == "cdc_acm")
        return "; note: a modem-class device, which ModemManager may probe when it appears: "
               "'sudo systemctl stop ModemManager' if transfers fail right after plugging it in";
    return "";
}

}

Finding DriverFinding(const std::string& path, const struct stat& st)
{
    if (PseudoTerminalIndex(st) >= 0)
        return {FINDING_OK, "driver", "none: a pseudo-terminal has no driver or adapter to check"};
    std::string device = RealPath("/sys/class/tty/" + BaseName(RealPath(path)) + "/device");
    if (device.empty())
        return {FINDING_OK, "driver",
                "none in sysfs: not a USB adapter (a pseudo-terminal or a virtual port)"};
    std::string driver = BaseName(RealPath(device + "/driver"));
    if (driver.empty())
        driver = "no driver bound";
    std::string usb = UsbDevice(device);
    if (usb.empty())
        return {FINDING_OK, "driver", driver + " (not a USB adapter)"};
    std::string product = FirstLine(usb + "/product");
    return {FINDING_OK, "driver",
            driver + ", USB " + FirstLine(usb + "/idVendor") + ":" + FirstLine(usb + "/idProduct") +
                (product.empty() ? "" : " (" + product + ")") + DriverNote(driver)};
}
