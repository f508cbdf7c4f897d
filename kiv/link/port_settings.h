// The link settings of a kiv command: the settings file the Windows driver
// keeps (section "ComPort" of its INI file) or its defaults, then the
// command line's link options over them.
#pragma once
#include <string>
#include "records.h"

// Fills setup from the INI text as the Windows driver reads it: section and
// key names in any case, values compared exactly, defaults for what is
// missing (port 1, IR, 9600 baud, no parity, 8 bits, 1 stop bit, no RTS/CTS,
// XON/XOFF on). *portNoGiven tells whether the file names a port number.
void ReadPortSetupIni(const std::string& text, PortSetup* setup, bool* portNoGiven);

// The command line's link options; an empty or negative field leaves the
// setting as the file or the defaults have it.
struct LinkOptions {
    std::string port;
    std::string settingsFile;
    std::string link;     // cable, ir, irda
    std::string speed;    // as typed: checked here, not by the parser
    std::string parity;   // none, odd, even
    int dataBits = -1;
    int stopBits = -1;
    int cts = 0;       // above 0 on, below 0 off, 0 as the file says
    int xonXoff = 0;   // the same
    // Bounds the wait for the handheld's first byte; 0: the link's own timers.
    long timeoutSeconds = 0;
};

// Why the settings of a command cannot be used: an option (a speed that is
// no speed or that termios cannot set, an option the link kind ignores), or
// the settings file (missing, a folder, unreadable, not an INI file).
enum SettingsFault { SETTINGS_OK, SETTINGS_BAD_OPTION, SETTINGS_BAD_FILE };

// The transfer's PortParams from the options; a fault with *error set when
// they cannot be used. *notice receives lines for the user (one a line)
// when the file's port number is ignored, and for each value in it that the
// Windows driver never writes, with how it is read.
// The link kind's name as kiv's options spell it.
const char* LinkKindName(int32_t linkKind);
SettingsFault ResolvePortParams(const LinkOptions& options, PortParams* params, std::string* error,
                                std::string* notice);
