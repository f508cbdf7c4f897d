// The Windows driver's INI reading on POSIX: lines of "key=value" under
// "[section]", comments after ';', blanks around names and values ignored,
// a value in matching quotes taken without them; integers read as far as
// they are digits.
#include "port_settings.h"
#include <strings.h>
#include <cstdlib>
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

bool ReadFile(const std::string& path, std::string* text)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    std::stringstream s;
    s << f.rdbuf();
    *text = s.str();
    return !f.bad();
}

// The command line over the record, field by field.
void ApplyOptions(const LinkOptions& o, PortSetup* s)
{
    if (!o.link.empty())
        s->IRMode = o.link == "ir" ? LINK_IR : o.link == "irda" ? LINK_IRDA : LINK_CABLE;
    if (o.speed >= 0)
        s->Speed = (int32_t)o.speed;
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

bool ResolvePortParams(const LinkOptions& options, PortParams* params, std::string* error,
                       std::string* notice)
{
    std::string text;
    if (!options.settingsFile.empty() && !ReadFile(options.settingsFile, &text)) {
        *error = options.settingsFile + ": cannot read the settings file";
        return false;
    }
    PortSetup setup = {};
    bool portNoGiven = false;
    ReadPortSetupIni(text, &setup, &portNoGiven);
    if (portNoGiven)
        *notice = options.settingsFile +
                  ": the COM port number in it (PortNo=" + std::to_string(setup.PortNo) +
                  ") is ignored; the port is --port or KIV_PORT";
    ApplyOptions(options, &setup);
    PortParams saved = portParams;
    bool ok = SetupToParams(&setup, true);
    *params = portParams;
    portParams = saved;
    if (!ok) {
        *error = "the settings name a parity, data length or stop bits the link does not know";
        return false;
    }
    speed_t code;
    if (!SpeedCode(params->line.baudRate, &code)) {
        *error = "speed " + std::to_string(setup.Speed) + " cannot be set on a serial port here";
        return false;
    }
    return true;
}
