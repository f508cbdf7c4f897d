// The Windows driver's INI reading on POSIX: lines of "key=value" under
// "[section]", comments after ';', blanks around names and values ignored,
// a value in matching quotes taken without them; integers read as far as
// they are digits. Everything is checked before the port opens: a setting
// the link would ignore or could not set is refused, never dropped quietly.
#include "port_settings.h"
#include <strings.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include "posix_port.h"

namespace {

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

// The keys of section "ComPort", names in lower case; the first of a name wins.
std::map<std::string, std::string> ComPortKeys(const std::string& text)
{
    std::map<std::string, std::string> keys;
    std::istringstream in(text);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            inSection = close != std::string::npos && Lower(Trim(line.substr(1, close - 1))) == "comport";
            continue;
        }
        size_t eq = line.find('=');
        if (!inSection || eq == std::string::npos)
            continue;
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        keys.emplace(Lower(Trim(line.substr(0, eq))), value);
    }
    return keys;
}

struct Keys {
    std::map<std::string, std::string> map;
    std::string Text(const char* key, const char* def) const
    {
        auto it = map.find(Lower(key));
        return it == map.end() ? def : it->second;
    }
    long Number(const char* key, long def) const
    {
        auto it = map.find(Lower(key));
        return it == map.end() ? def : strtol(it->second.c_str(), nullptr, 10);
    }
};

// Where a text stops being an INI file: the 1-based line that is neither
// blank, a comment, a section nor a key=value pair, or 0 when none is; a
// NUL byte makes it binary (*nulAt, -1 when there is none).
size_t NotIniLine(const std::string& text, long* nulAt)
{
    size_t nul = text.find('\0');
    *nulAt = nul == std::string::npos ? -1 : (long)nul;
    std::istringstream in(text);
    std::string line;
    for (size_t n = 1; std::getline(in, line); n++) {
        line = Trim(line);
        bool section = !line.empty() && line[0] == '[' && line.find(']') != std::string::npos;
        if (!line.empty() && line[0] != ';' && !section && line.find('=') == std::string::npos)
            return n;
    }
    return 0;
}

// The settings file's text; false with *error saying what is wrong with it.
bool ReadSettingsFile(const std::string& path, std::string* text, std::string* error)
{
    const std::string p = path + ": ";
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *error = p + "cannot read the settings file: " + strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *error = p + "is a folder; --settings names the Windows driver's INI file";
        return false;
    }
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    if (f)
        s << f.rdbuf();
    if (!f || f.bad()) {
        *error = p + "cannot read the settings file: " + strerror(errno);
        return false;
    }
    *text = s.str();
    if (text->rfind("\xEF\xBB\xBF", 0) == 0)   // a UTF-8 byte order mark, as editors may add
        text->erase(0, 3);
    long nulAt;
    size_t line = NotIniLine(*text, &nulAt);
    if (nulAt >= 0)
        *error = p + "not an INI file: binary data (a NUL byte at offset " + std::to_string(nulAt) + ")";
    else if (line)
        *error = p + "not an INI file: line " + std::to_string(line) +
                 " is no [section], key=value or ; comment";
    return nulAt < 0 && !line;
}

// --speed as bits per second; false with *error when it is none.
bool ParseSpeed(const std::string& text, int32_t* speed, std::string* error)
{
    bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    unsigned long long value = digits ? strtoull(text.c_str(), nullptr, 10) : 0;
    if (value == 0) {
        *error = "--speed " + text + ": give the bits per second, a number above 0 (e.g. 9600)";
        return false;
    }
    if (value > INT32_MAX) {
        *error = "speed " + text + " cannot be set on a serial port here";
        return false;
    }
    *speed = (int32_t)value;
    return true;
}

// The options given that the link kind sets itself: the IR link always
// runs at 9600 8O1 without flow control, the IrDA link always with RTS/CTS
// and without XON/XOFF.
std::string IgnoredOptions(const LinkOptions& o, int linkKind)
{
    std::string names;
    auto add = [&names](bool given, const char* name) {
        if (given)
            names += (names.empty() ? "" : ", ") + std::string(name);
    };
    bool ir = linkKind == LINK_IR;
    add(ir && !o.speed.empty(), "--speed");
    add(ir && !o.parity.empty(), "--parity");
    add(ir && o.dataBits >= 0, "--data-bits");
    add(ir && o.stopBits >= 0, "--stop-bits");
    add(linkKind != LINK_CABLE && o.cts, o.cts > 0 ? "--cts" : "--no-cts");
    add(linkKind != LINK_CABLE && o.xonXoff, o.xonXoff > 0 ? "--xonxoff" : "--no-xonxoff");
    return names;
}

// The line for options the link ignores, saying where the link kind came from.
std::string IgnoredMessage(const LinkOptions& o, int linkKind, const std::string& names)
{
    std::string from = !o.link.empty()           ? "--link " + o.link
                       : !o.settingsFile.empty() ? "the link of " + o.settingsFile
                                                 : "the default link";
    std::string what = linkKind == LINK_IR ? "the IR link always runs at 9600 baud, 8 data bits, odd parity, "
                                             "1 stop bit, without flow control"
                                           : "the IrDA link always uses RTS/CTS and never XON/XOFF";
    return names + ": not used with " + from + " (" + what + "); leave " +
           (names.find(',') == std::string::npos ? "it" : "them") + " out, or give --link cable";
}

// The command line over the record, field by field.
void ApplyOptions(const LinkOptions& o, PortSetup* s)
{
    if (!o.link.empty())
        s->IRMode = o.link == "ir" ? LINK_IR : o.link == "irda" ? LINK_IRDA : LINK_CABLE;
    if (!o.parity.empty())
        s->Parity = o.parity == "odd" ? 1 : o.parity == "even" ? 2 : 0;
    if (o.dataBits >= 0)
        s->Length = (uint16_t)o.dataBits;
    if (o.stopBits >= 0)
        s->Stop = (uint16_t)o.stopBits;
    if (o.cts)
        s->CSMon = o.cts > 0;
    if (o.xonXoff)
        s->XFlow = o.xonXoff > 0;
}

}

void ReadPortSetupIni(const std::string& text, PortSetup* setup, bool* portNoGiven)
{
    Keys k{ComPortKeys(text)};
    *portNoGiven = k.map.count("portno") != 0;
    setup->PortNo = (uint16_t)k.Number("PortNo", 1);
    if (k.Text("IRMode", "IR") == "IR")
        setup->IRMode = k.Text("IrDA", "NO") == "YES" ? LINK_IRDA : LINK_IR;
    else
        setup->IRMode = LINK_CABLE;
    setup->Speed = (int32_t)k.Number("Speed", 9600);
    std::string parity = k.Text("Parity", "NONE");
    setup->Parity = parity == "EVEN" ? 2 : parity == "ODD" ? 1 : 0;
    setup->Length = (uint16_t)k.Number("Length", 8);
    setup->Stop = (uint16_t)k.Number("Stop", 1);
    setup->CSMon = k.Text("CSMon", "OFF") != "OFF";
    setup->XFlow = k.Text("XFlow", "ON") != "OFF";
}

namespace {

// The text keys' values the Windows driver writes, and how it reads any
// other one. kiv reads the file as the driver does, so that both take the
// same link from it; a value it would not write costs a warning instead.
struct TextKey {
    const char* key;
    const char* written[3];
    const char* otherwise;
};
const TextKey kTextKeys[] = {
    {"IRMode", {"IR", "15"}, "15 (the cable)"},
    {"IrDA", {"YES", "NO"}, "NO (the IR link)"},
    {"Parity", {"NONE", "ODD", "EVEN"}, "NONE"},
    {"CSMon", {"ON", "OFF"}, "ON"},
    {"XFlow", {"ON", "OFF"}, "ON"},
};

// One line per value in the file that the driver never writes.
std::string OddValues(const Keys& k, const std::string& file)
{
    std::string lines;
    for (const TextKey& t : kTextKeys) {
        auto it = k.map.find(Lower(t.key));
        bool read = it != k.map.end() && (Lower(t.key) != "irda" || k.Text("IRMode", "IR") == "IR");
        bool written = false;
        std::string values;
        for (const char* w : t.written) {
            if (!w)
                continue;
            written = written || (read && it->second == w);
            values += (values.empty() ? "" : " or ") + std::string(w);
        }
        if (read && !written)
            lines += (lines.empty() ? "" : "\n") + file + ": " + t.key + "=" + it->second + " is not " +
                     values + "; taken as " + t.otherwise + ", as the Windows driver reads it";
    }
    return lines;
}

}

SettingsFault ResolvePortParams(const LinkOptions& options, PortParams* params, std::string* error,
                                std::string* notice)
{
    std::string text;
    if (!options.settingsFile.empty() && !ReadSettingsFile(options.settingsFile, &text, error))
        return SETTINGS_BAD_FILE;
    PortSetup setup = {};
    bool portNoGiven = false;
    ReadPortSetupIni(text, &setup, &portNoGiven);
    if (portNoGiven)
        *notice = options.settingsFile +
                  ": the COM port number in it (PortNo=" + std::to_string(setup.PortNo) +
                  ") is ignored; the port is --port or KIV_PORT";
    std::string odd = OddValues(Keys{ComPortKeys(text)}, options.settingsFile);
    if (!odd.empty())
        *notice += (notice->empty() ? "" : "\n") + odd;
    ApplyOptions(options, &setup);
    std::string ignored = IgnoredOptions(options, setup.IRMode);
    if (!ignored.empty()) {
        *error = IgnoredMessage(options, setup.IRMode, ignored);
        return SETTINGS_BAD_OPTION;
    }
    if (!options.speed.empty() && !ParseSpeed(options.speed, &setup.Speed, error))
        return SETTINGS_BAD_OPTION;
    PortParams saved = portParams;
    bool ok = SetupToParams(&setup, true);
    *params = portParams;
    portParams = saved;
    if (!ok) {
        *error = "the settings name a parity, data length or stop bits the link does not know";
        return SETTINGS_BAD_OPTION;
    }
    speed_t code;
    if (!SpeedCode(params->line.baudRate, &code)) {
        *error = "speed " + std::to_string(setup.Speed) + " cannot be set on a serial port here";
        return SETTINGS_BAD_OPTION;
    }
    return SETTINGS_OK;
}

const char* LinkKindName(int32_t linkKind)
{
    return linkKind == LINK_IR ? "ir" : linkKind == LINK_IRDA ? "irda" : "cable";
}
