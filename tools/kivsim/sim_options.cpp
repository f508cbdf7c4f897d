// Parsing kivsim's flags into a scenario and run settings.
#include "sim_options.h"
#include <cstdlib>
#include <cstring>
#include "sim_data.h"

const char kSimUsage[] =
    "usage: kivsim --link PATH [options]\n"
    "Plays the handheld on the master side of a pseudo-terminal whose slave is\n"
    "linked at PATH (for Wine: $WINEPREFIX/dosdevices/comN), runs one scenario,\n"
    "writes a record and exits.\n"
    "run:\n"
    "  --ready FILE         written (slave path, pid) once the line is up\n"
    "  --record PREFIX      PREFIX.bin received, PREFIX.sent sent, PREFIX.log events\n"
    "  --go FILE            start the role only once FILE exists\n"
    "  --stop FILE          end the run once FILE exists\n"
    "  --timeout MS         end the run after MS in any case (default 60000)\n"
    "  --linger MS          after the last byte was read, keep the line up (default 300)\n"
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
    "IR protocol faults:\n"
    "  --plan F,F,...       one fault per frame sent or taken, in order: none,\n"
    "                       drop, corrupt-data, corrupt-checksum, repeat, nak-for-ack,\n"
    "                       can, delay, silence, lose-incoming, corrupt-incoming, ...\n"
    "  --fault-seed N --fault-rate R   random faults on that share of frames\n"
    "IR line device (before the role):\n"
    "  --probe-answer f4|f5|HEX|none   answer the probe byte 0xF0, then take the\n"
    "                       13 set-up bytes after f4 or f5\n";

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

// Fault names as IrFaultName gives them, with '-' for ' '.
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
            if (item == IrFaultName((IrFault)f))
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

}   // namespace

bool ParseSimArgs(int argc, char** argv, SimScenario& s, SimRun& run, std::string& error)
{
    std::string dataFile, pattern = "text";
    uint32_t size = 0, seed = 1;
    bool haveSize = false, eof = false;
    for (int i = 1; i < argc; i++) {
        std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            run.help = true;
            return true;
        }
        bool isSwitch = flag == "--eof" || flag == "--no-eof-stop";
        if (!isSwitch && i + 1 >= argc) {
            error = flag + " needs a value";
            return false;
        }
        const char* v = isSwitch ? "" : argv[++i];
        uint32_t n = 0;
        bool numberOk = ParseNumber(v, n);
        bool ok = true;
        if (flag == "--link")
            run.link = v;
        else if (flag == "--ready")
            run.ready = v;
        else if (flag == "--record")
            run.record = v;
        else if (flag == "--go")
            run.go = v;
        else if (flag == "--stop")
            run.stop = v;
        else if (flag == "--timeout") {
            ok = numberOk;
            run.timeoutMs = n;
        } else if (flag == "--linger") {
            ok = numberOk;
            run.lingerMs = n;
        } else if (flag == "--baud") {
            ok = numberOk;
            s.line.baud = n;
        } else if (flag == "--format")
            ok = ParseLineFormat(v, s.line);
        else if (flag == "--role") {
            std::string r = v;
            if (r == "silent")
                s.role = ROLE_SILENT;
            else if (r == "send")
                s.role = ROLE_RAW_SEND;
            else if (r == "receive")
                s.role = ROLE_RAW_RECEIVE;
            else if (r == "ir-send")
                s.role = ROLE_IR_SEND;
            else if (r == "ir-receive")
                s.role = ROLE_IR_RECEIVE;
            else
                ok = false;
        } else if (flag == "--data")
            dataFile = v;
        else if (flag == "--size") {
            ok = numberOk;
            size = n;
            haveSize = true;
        } else if (flag == "--pattern") {
            pattern = v;
            ok = pattern == "text" || pattern == "binary";
        } else if (flag == "--seed") {
            ok = numberOk;
            seed = n;
        } else if (flag == "--eof")
            eof = true;
        else if (flag == "--piece") {
            ok = numberOk;
            s.pieceSize = n;
        } else if (flag == "--gap") {
            ok = numberOk;
            s.gapMs = n;
        } else if (flag == "--delay") {
            ok = numberOk;
            s.delayMs = n;
        } else if (flag == "--count") {
            ok = numberOk;
            s.stopCount = n;
        } else if (flag == "--no-eof-stop")
            s.stopAtEof = false;
        else if (flag == "--silence") {
            ok = numberOk;
            s.silenceMs = n;
        } else if (flag == "--inject")
            ok = ParseHexList(v, s.inject);
        else if (flag == "--inject-after") {
            ok = numberOk;
            s.injectAfter = n;
        } else if (flag == "--plan")
            ok = ParsePlan(v, s.irPlan);
        else if (flag == "--fault-seed") {
            ok = numberOk;
            s.irSeed = n;
        } else if (flag == "--fault-rate") {
            s.irRate = atof(v);
            ok = s.irRate >= 0 && s.irRate <= 1;
        } else if (flag == "--probe-answer") {
            std::vector<uint8_t> b;
            if (!strcmp(v, "none"))
                s.probeAnswer = PROBE_SILENT;
            else if ((ok = ParseHexList(v, b) && b.size() == 1))
                s.probeAnswer = b[0];
        } else {
            error = "unknown flag " + flag;
            return false;
        }
        if (!ok) {
            error = "bad value for " + flag + ": " + v;
            return false;
        }
    }
    if (run.link.empty()) {
        error = "--link is required";
        return false;
    }
    if (!dataFile.empty()) {
        if (!ReadFileWhole(dataFile, s.sendData)) {
            error = "cannot read " + dataFile;
            return false;
        }
    } else if (haveSize) {
        s.sendData = GenerateBlock(pattern, size, seed);
    }
    if (eof)
        s.sendData.push_back(SIM_EOF);
    return true;
}
