// The handheld's side of a session kiv recorded with --trace, played back:
// the bytes kiv read are sent in order, each after the pause the recording
// shows before it, and the bytes kiv wrote are waited for and compared, byte
// for byte. The trace times a chunk by its last byte on kiv's side, so a
// pause is taken between the end of one chunk on the line and the start of
// the next: the wire time of the bytes comes off the recorded gap, and the
// pacer puts it back. kiv's bytes are compared as one stream, whatever
// chunks they come in, and may run ahead of the handheld's: only the
// handheld's own chunks wait for the ones recorded before them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include "sim_handheld.h"

namespace {

uint64_t WireUs(const SimHandheld& h, size_t n)
{
    const LineFormat& line = h.scenario.line;
    return line.baud ? (uint64_t)n * (uint64_t)BitsPerByte(line) * 1000000 / line.baud : 0;
}

// When the chunk at replayAt, one the handheld sends, is due.
uint64_t DueUs(const SimHandheld& h)
{
    const ReplayStep& step = h.scenario.replay[h.replayAt];
    uint64_t wire = WireUs(h, step.bytes.size());
    uint64_t start = step.us > wire ? step.us - wire : 0;
    uint64_t pause = start > h.replayRecordedEndUs ? start - h.replayRecordedEndUs : 0;
    return h.replayEndUs + pause;
}

// Takes the chunks that are done or due, in order; the replay is over once
// the last has been taken and sent.
void Advance(SimHandheld& h, uint64_t nowUs)
{
    const std::vector<ReplayStep>& steps = h.scenario.replay;
    while (h.replayAt < steps.size()) {
        const ReplayStep& step = steps[h.replayAt];
        if (step.fromPc) {
            uint64_t arrived = h.replayArrivedUs[h.replayAt];
            if (!arrived)
                return;
            h.replayRecordedEndUs = step.us + WireUs(h, step.bytes.size());
            h.replayEndUs = std::max(h.replayEndUs, arrived);
        } else {
            if (nowUs < DueUs(h))
                return;
            h.outQueue.insert(h.outQueue.end(), step.bytes.begin(), step.bytes.end());
            h.replayRecordedEndUs = step.us;
            h.replayEndUs = nowUs + WireUs(h, h.outQueue.size());
        }
        h.replayAt++;
    }
    if (h.outQueue.empty())
        HandheldFinish(h, "replayed", nowUs);
}

void Mismatch(SimHandheld& h, size_t at, uint8_t got, uint64_t nowUs)
{
    char text[160];
    if (at < h.scenario.replayOut.size())
        snprintf(text, sizeof text,
                 "kiv's byte at offset %zu differs from the recording: recorded %02x, got %02x", at,
                 h.scenario.replayOut[at], got);
    else
        snprintf(text, sizeof text, "kiv sent more than the recording: byte %02x at offset %zu", got, at);
    h.mismatch = text;
    HandheldEvent(h, nowUs, std::string("mismatch ") + text);
    HandheldFinish(h, "mismatch", nowUs);
}

// The value of key in one line kiv wrote: a string's content or a number's
// text. Enough for kiv's own lines, which hold no nested values.
bool Field(const std::string& line, const char* key, std::string& value)
{
    std::string tag = std::string("\"") + key + "\":";
    size_t at = line.find(tag);
    if (at == std::string::npos)
        return false;
    at += tag.size();
    size_t end = line[at] == '"' ? line.find('"', ++at) : line.find_first_of(",}", at);
    if (end == std::string::npos)
        return false;
    value = line.substr(at, end - at);
    return true;
}

uint64_t Number(const std::string& line, const char* key, bool& ok)
{
    std::string text;
    char* end = nullptr;
    ok = ok && Field(line, key, text) && !text.empty();
    uint64_t v = ok ? strtoull(text.c_str(), &end, 10) : 0;
    ok = ok && *end == 0;
    return v;
}

bool Hex(const std::string& text, std::vector<uint8_t>& bytes)
{
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        std::string pair = text.substr(i, 2);
        unsigned long v = strtoul(pair.c_str(), &end, 16);
        if (*end)
            return false;
        bytes.push_back((uint8_t)v);
    }
    return !bytes.empty();
}

// The header: the line as the trace's link kind and settings had it.
bool ReadHeader(const std::string& line, SimScenario& s)
{
    std::string format, parity, link, command;
    bool ok = Field(line, "format", format) && format == "kiv-session" && Field(line, "parity", parity);
    // kiv sent over IrDA: an adapter's CTS told it when the block had gone.
    s.irdaAdapter = Field(line, "link", link) && link == "irda" && Field(line, "command", command) &&
                    (command == "send" || command == "push");
    ok = ok && Number(line, "version", ok) == 1;
    s.line.baud = (uint32_t)Number(line, "speed", ok);
    s.line.dataBits = (int)Number(line, "bits", ok);
    s.line.stopBits = (int)Number(line, "stop", ok);
    s.line.parity = parity == "odd" ? 'o' : parity == "even" ? 'e' : 'n';
    s.role = ROLE_REPLAY;
    s.probeAnswer = PROBE_OFF;
    return ok;
}

// A chunk, or the IR line device's set-up: the line device answers the
// probe when kiv saw it answer, and the replay starts once it is set up.
bool ReadEvent(const std::string& line, SimScenario& s)
{
    std::string io, text;
    bool ok = true;
    if (Field(line, "line-device", text)) {
        s.probeAnswer = text == "1" ? 0xF4 : PROBE_SILENT;
        s.replayBaseUs = Number(line, "t", ok);
        return ok;
    }
    if (!Field(line, "io", io))
        return true;   // lines, purges, states, the result: for people
    ReplayStep step = {Number(line, "t", ok), io == "out", {}, s.replayOut.size()};
    if (!ok || (io != "in" && io != "out") || !Field(line, "hex", text) || !Hex(text, step.bytes))
        return false;
    if (step.fromPc)
        s.replayOut.insert(s.replayOut.end(), step.bytes.begin(), step.bytes.end());
    step.outEnd = s.replayOut.size();
    s.replay.push_back(step);
    return true;
}

}   // namespace

void ReplayRoleStart(SimHandheld& h, uint64_t nowUs)
{
    h.replayArrivedUs.assign(h.scenario.replay.size(), 0);
    h.replayRecordedEndUs = h.scenario.replayBaseUs;
    h.replayEndUs = nowUs;
    Advance(h, nowUs);
}

void ReplayRoleReceive(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs)
{
    const std::vector<uint8_t>& want = h.scenario.replayOut;
    if (h.scenario.irdaAdapter && !h.ctsUp && n) {
        h.ctsUp = true;   // the wake byte, recorded among kiv's bytes
        HandheldEvent(h, nowUs, "cts up");
    }
    for (size_t i = 0; i < n && h.mismatch.empty(); i++) {
        size_t at = h.replayMatched;
        if (at >= want.size() || data[i] != want[at]) {
            Mismatch(h, at, data[i], nowUs);
            return;
        }
        h.replayMatched++;
        h.received.push_back(data[i]);
    }
    const std::vector<ReplayStep>& steps = h.scenario.replay;
    for (size_t k = h.replayAt; k < steps.size() && h.stage == STAGE_ROLE; k++)
        if (steps[k].fromPc && !h.replayArrivedUs[k] && steps[k].outEnd <= h.replayMatched)
            h.replayArrivedUs[k] = nowUs;
    if (h.stage == STAGE_ROLE)
        Advance(h, nowUs);
}

void ReplayRoleTick(SimHandheld& h, uint64_t nowUs) { Advance(h, nowUs); }

uint64_t ReplayRoleNextTickUs(const SimHandheld& h)
{
    if (h.replayAt >= h.scenario.replay.size() || h.scenario.replay[h.replayAt].fromPc)
        return UINT64_MAX;
    return DueUs(h);
}

bool LoadReplay(const std::string& path, SimScenario& s, std::string& error)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        error = "cannot read " + path;
        return false;
    }
    if (!ReadHeader(line, s)) {
        error = path + " is not a session kiv recorded (--trace), or of another version";
        return false;
    }
    for (int number = 2; std::getline(in, line); number++)
        if (!ReadEvent(line, s)) {
            error = path + ":" + std::to_string(number) + ": a chunk of bytes that cannot be read";
            return false;
        }
    return true;
}

std::string ReplayFailure(const SimHandheld& h)
{
    if (!h.mismatch.empty() || h.endReason == "replayed")
        return h.mismatch;
    return "the replay ended (" + h.endReason + ") at chunk " + std::to_string(h.replayAt + 1) + " of " +
           std::to_string(h.scenario.replay.size()) + ", with " + std::to_string(h.replayMatched) + " of " +
           std::to_string(h.scenario.replayOut.size()) + " bytes from kiv";
}
