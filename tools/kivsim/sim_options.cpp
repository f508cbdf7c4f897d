// Parsing kivsim's flags into a scenario and run settings.
#include "sim_options.h"
#include <strings.h>
#include <cstdlib>
#include <cstring>
#include "sim_data.h"

const char kSimUsage[] =
    "Usage: kivsim --link PATH [options]\n"
    "Plays the handheld on the master side of a pseudo-terminal whose slave is\n"
    "linked at PATH (for Wine: $WINEPREFIX/dosdevices/comN), runs one scenario,\n"
    "writes a record and exits.\n"
    "\n"
    "run:\n"
    "  --ready FILE         written (slave path, pid) once the line is up\n"
    "  --record PREFIX      PREFIX.bin received, PREFIX.sent sent, PREFIX.log events\n"
    "  --go FILE            start the role only once FILE exists\n"
    "  --stop FILE          end the run once FILE exists\n"
    "  --timeout MS         end the run after MS in any case (default 60000)\n"
    "  --linger MS          after the last byte was read, keep the line up (default 300)\n"
    "  --vanish-after N     go quiet once N bytes of the role have crossed, both\n"
    "                       ways together (IR: after the set-up), and away (hang\n"
    "                       the line up) --vanish-wait MS later (default 0)\n"
    "  --unlink-pause MS    at the end, between finding the link still this run's\n"
    "                       and removing it, wait up to MS for another run to\n"
    "                       link the path (default 0)\n"
    "  --leave-before-drain the PC sees its output drain only after this run\n"
    "                       has gone (its preload library waits for that)\n"
    "line:\n"
    "  --baud N             pace both directions to N bit/s (default 9600; 0 unpaced)\n"
    "  --format DPS         data bits, parity n/o/e, stop bits (default 8N1)\n"
    "role:\n"
    "  --role silent|send|receive|ir-send|ir-receive   (default silent: record\n"
    "                       what arrives; ir-*: the framed IR protocol, sending\n"
    "                       the send data or taking the PC's block)\n"
    "send:\n"
    "  --data FILE          the bytes to send, or generated:\n"
    "  --size N [--pattern text|binary] [--seed N]\n"
    "  --eof                append the end byte 0x1A\n"
    "  --piece N --gap MS   send in pieces of N bytes, MS apart; --delay MS before\n"
    "receive:\n"
    "  --count N            stop after N bytes (the first 0x1A stops it anyway)\n"
    "  --no-eof-stop        do not stop at 0x1A\n"
    "  --silence MS         stop MS after the last byte\n"
    "  --inject HEX --inject-after N   send bytes (e.g. 41,42) after N have arrived\n"
    "  --irda-adapter       hold CTS as an IrDA adapter does: down until the PC's\n"
    "                       wake byte 0x00, up while the block comes, down when done\n"
    "  --cts-drop-after N   the adapter loses the link (CTS down) after N bytes\n"
    "IR protocol faults:\n"
    "  --plan F,F,...       one fault per frame sent or taken, in order: none,\n"
    "                       drop, corrupt-data, corrupt-checksum, repeat, nak-for-ack,\n"
    "                       can, delay, silence, lose-incoming, corrupt-incoming, ...\n"
    "  --fault-seed N --fault-rate R   random faults on that share of frames\n"
    "replay:\n"
    "  --replay FILE        play the handheld's side of a session kiv recorded with\n"
    "                       --trace, with its pauses, on the line (and IR line\n"
    "                       device) the trace names, in place of a role and of\n"
    "                       --baud and --format; kiv's bytes must be the recorded\n"
    "                       ones, byte for byte: at the first that is not, or\n"
    "                       when the run ends first, kivsim says where on stderr\n"
    "                       and exits with 3\n"
    "IR line device (before the role):\n"
    "  --probe-answer f4|f5|HEX|none   answer the probe byte 0xF0, then take the\n"
    "                       13 set-up bytes after f4 or f5\n"
    "about kivsim:\n"
    "  -h, --help           this text\n"
    "  --version            kivsim's version\n";

namespace {

bool ParseNumber(const char* text, uint32_t& value)
{
    char* end = nullptr;
    unsigned long v = strtoul(text, &end, 0);
    if (!*text || *end)
        return false;
    value = (uint32_t)v;
    return true;
}

// Fault names as IrFaultName gives them, with '-' for ' ', in any case: the
// usage lists them in lower case, the log as IrFaultName spells them.
bool ParsePlan(const std::string& text, std::vector<IrFault>& plan)
{
    plan.clear();
    size_t i = 0;
    while (i <= text.size()) {
        size_t j = text.find(',', i);
        std::string item = text.substr(i, j == std::string::npos ? std::string::npos : j - i);
        for (char& c : item)
            if (c == '-')
                c = ' ';
        int found = -1;
        for (int f = 0; f < IRF_COUNT; f++)
            if (strcasecmp(item.c_str(), IrFaultName((IrFault)f)) == 0)
                found = f;
        if (found < 0)
            return false;
        plan.push_back((IrFault)found);
        if (j == std::string::npos)
            break;
        i = j + 1;
    }
    return !plan.empty();
}

bool ParseHexList(const std::string& text, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find(',', i);
        std::string item = text.substr(i, j == std::string::npos ? std::string::npos : j - i);
        char* end = nullptr;
        unsigned long v = strtoul(item.c_str(), &end, 16);
        if (item.empty() || *end || v > 0xFF)
            return false;
        bytes.push_back((uint8_t)v);
        if (j == std::string::npos)
            break;
        i = j + 1;
    }
    return !bytes.empty();
}

// Flags that take effect once all are read: where the send data comes from.
struct SendSource {
    std::string dataFile, pattern = "text";
    uint32_t size = 0, seed = 1;
    bool haveSize = false, eof = false;
};

struct Target {
    SimScenario& s;
    SimRun& run;
    SendSource& send;
};

bool Keep(std::string& field, const char* v)
{
    field = v;
    return true;
}

bool ParseRole(const char* v, SimRole& role)
{
    static const SimRole roles[] = {ROLE_SILENT, ROLE_RAW_SEND, ROLE_RAW_RECEIVE, ROLE_IR_SEND,
                                    ROLE_IR_RECEIVE};
    for (SimRole r : roles)
        if (!strcmp(v, RoleName(r))) {
            role = r;
            return true;
        }
    return false;
}

bool ParseProbeAnswer(const char* v, int& answer)
{
    std::vector<uint8_t> b;
    if (!strcmp(v, "none"))
        answer = PROBE_SILENT;
    else if (ParseHexList(v, b) && b.size() == 1)
        answer = b[0];
    else
        return false;
    return true;
}

bool ParseRate(const char* v, double& rate)
{
    rate = atof(v);
    return rate >= 0 && rate <= 1;
}

bool ParseSeed(const char* v, uint64_t& seed)
{
    uint32_t n = 0;
    if (!ParseNumber(v, n))
        return false;
    seed = n;
    return true;
}

bool ParseCount(const char* v, int64_t& count)
{
    uint32_t n = 0;
    if (!ParseNumber(v, n))
        return false;
    count = n;
    return true;
}

// One row per flag; a flag without a value is a switch.
struct Flag {
    const char* name;
    bool takesValue;
    bool (*apply)(Target& t, const char* value);
};

const Flag kFlags[] = {
    // The run.
    {"--link", true, [](Target& t, const char* v) { return Keep(t.run.link, v); }},
    {"--ready", true, [](Target& t, const char* v) { return Keep(t.run.ready, v); }},
    {"--record", true, [](Target& t, const char* v) { return Keep(t.run.record, v); }},
    {"--go", true, [](Target& t, const char* v) { return Keep(t.run.go, v); }},
    {"--stop", true, [](Target& t, const char* v) { return Keep(t.run.stop, v); }},
    {"--replay", true, [](Target& t, const char* v) { return Keep(t.run.replay, v); }},
    {"--timeout", true, [](Target& t, const char* v) { return ParseNumber(v, t.run.timeoutMs); }},
    {"--linger", true, [](Target& t, const char* v) { return ParseNumber(v, t.run.lingerMs); }},
    {"--vanish-after", true, [](Target& t, const char* v) { return ParseCount(v, t.run.vanishAfter); }},
    {"--vanish-wait", true, [](Target& t, const char* v) { return ParseNumber(v, t.run.vanishWaitMs); }},
    {"--unlink-pause", true, [](Target& t, const char* v) { return ParseNumber(v, t.run.unlinkPauseMs); }},
    {"--leave-before-drain", false, [](Target& t, const char*) { return t.run.leaveBeforeDrain = true; }},
    // The line.
    {"--baud", true, [](Target& t, const char* v) { return ParseNumber(v, t.s.line.baud); }},
    {"--format", true, [](Target& t, const char* v) { return ParseLineFormat(v, t.s.line); }},
    {"--role", true, [](Target& t, const char* v) { return ParseRole(v, t.s.role); }},
    // Sending.
    {"--data", true, [](Target& t, const char* v) { return Keep(t.send.dataFile, v); }},
    {"--size", true, [](Target& t, const char* v) { return t.send.haveSize = ParseNumber(v, t.send.size); }},
    {"--pattern", true,
     [](Target& t, const char* v) {
         t.send.pattern = v;
         return t.send.pattern == "text" || t.send.pattern == "binary";
     }},
    {"--seed", true, [](Target& t, const char* v) { return ParseNumber(v, t.send.seed); }},
    {"--eof", false, [](Target& t, const char*) { return t.send.eof = true; }},
    {"--piece", true, [](Target& t, const char* v) { return ParseNumber(v, t.s.pieceSize); }},
    {"--gap", true, [](Target& t, const char* v) { return ParseNumber(v, t.s.gapMs); }},
    {"--delay", true, [](Target& t, const char* v) { return ParseNumber(v, t.s.delayMs); }},
    // Receiving.
    {"--count", true, [](Target& t, const char* v) { return ParseNumber(v, t.s.stopCount); }},
    {"--no-eof-stop", false,
     [](Target& t, const char*) {
         t.s.stopAtEof = false;
         return true;
     }},
    {"--silence", true, [](Target& t, const char* v) { return ParseNumber(v, t.s.silenceMs); }},
    {"--irda-adapter", false, [](Target& t, const char*) { return t.s.irdaAdapter = true; }},
    {"--cts-drop-after", true, [](Target& t, const char* v) { return ParseNumber(v, t.s.ctsDropAfter); }},
    {"--inject", true, [](Target& t, const char* v) { return ParseHexList(v, t.s.inject); }},
    {"--inject-after", true, [](Target& t, const char* v) { return ParseNumber(v, t.s.injectAfter); }},
    // The IR protocol's faults and the IR line device.
    {"--plan", true, [](Target& t, const char* v) { return ParsePlan(v, t.s.irPlan); }},
    {"--fault-seed", true, [](Target& t, const char* v) { return ParseSeed(v, t.s.irSeed); }},
    {"--fault-rate", true, [](Target& t, const char* v) { return ParseRate(v, t.s.irRate); }},
    {"--probe-answer", true, [](Target& t, const char* v) { return ParseProbeAnswer(v, t.s.probeAnswer); }},
};

const Flag* FindFlag(const std::string& name)
{
    for (const Flag& f : kFlags)
        if (name == f.name)
            return &f;
    return nullptr;
}

// The bytes to send: a file's, or generated; the end byte after them when asked.
bool LoadSendData(const SendSource& send, SimScenario& s, std::string& error)
{
    if (!send.dataFile.empty()) {
        if (!ReadFileWhole(send.dataFile, s.sendData)) {
            error = "cannot read " + send.dataFile;
            return false;
        }
    } else if (send.haveSize) {
        s.sendData = GenerateBlock(send.pattern, send.size, send.seed);
    }
    if (send.eof)
        s.sendData.push_back(SIM_EOF);
    return true;
}

}   // namespace

bool ParseSimArgs(int argc, char** argv, SimScenario& s, SimRun& run, std::string& error)
{
    SendSource send;
    Target target = {s, run, send};
    for (int i = 1; i < argc; i++) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            run.help = true;
            return true;
        }
        if (name == "--version") {
            run.version = true;
            return true;
        }
        const Flag* flag = FindFlag(name);
        if (!flag) {
            error = "unknown flag " + name;
            return false;
        }
        if (flag->takesValue && i + 1 >= argc) {
            error = name + " needs a value";
            return false;
        }
        const char* v = flag->takesValue ? argv[++i] : "";
        if (!flag->apply(target, v)) {
            error = "bad value for " + name + ": " + v;
            return false;
        }
    }
    if (run.link.empty()) {
        error = "--link is required";
        return false;
    }
    if (!run.replay.empty())
        return LoadReplay(run.replay, s, error);
    return LoadSendData(send, s, error);
}
