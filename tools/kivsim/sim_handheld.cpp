// The handheld's run: the IR line device stage in front, then the role, with
// the output queue and the event log they share.
#include "sim_handheld.h"
#include <cstdio>

namespace {

bool AnswerStartsSetup(int answer) { return answer == 0xF4 || answer == 0xF5; }

void StartRole(SimHandheld& h, uint64_t nowUs)
{
    h.stage = STAGE_ROLE;
    switch (h.scenario.role) {
    case ROLE_SILENT:
    case ROLE_RAW_SEND:
    case ROLE_RAW_RECEIVE: RawRoleStart(h, nowUs); break;
    case ROLE_IR_SEND:
    case ROLE_IR_RECEIVE: IrRoleStart(h, nowUs); break;
    case ROLE_REPLAY: ReplayRoleStart(h, nowUs); break;
    }
}

bool IrRole(const SimHandheld& h)
{
    return h.scenario.role == ROLE_IR_SEND || h.scenario.role == ROLE_IR_RECEIVE;
}

// The line device waits for the probe byte and answers it; only after an
// answer of 0xF4 or 0xF5 does the PC send the set-up bytes.
size_t ProbeStage(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs)
{
    size_t i = 0;
    while (i < n && h.stage == STAGE_IR_PROBE) {
        uint8_t b = data[i++];
        if (b != PROBE_BYTE) {
            HandheldEvent(h, nowUs, "ir-ignored " + HexBytes(&b, 1));
            continue;
        }
        int answer = h.scenario.probeAnswer;
        if (answer >= 0) {
            h.outQueue.push_back((uint8_t)answer);
            h.outStageBytes++;
            uint8_t a = (uint8_t)answer;
            HandheldEvent(h, nowUs, "probe answer=" + HexBytes(&a, 1));
        } else {
            HandheldEvent(h, nowUs, "probe answer=none");
        }
        if (AnswerStartsSetup(answer))
            h.stage = STAGE_IR_SETUP;
        else
            StartRole(h, nowUs);
    }
    return i;
}

size_t SetupStage(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs)
{
    size_t i = 0;
    while (i < n && h.setupBytes.size() < IR_SETUP_LENGTH)
        h.setupBytes.push_back(data[i++]);
    if (h.setupBytes.size() == IR_SETUP_LENGTH) {
        HandheldEvent(h, nowUs, "setup " + HexBytes(h.setupBytes.data(), h.setupBytes.size()));
        StartRole(h, nowUs);
    }
    return i;
}

}   // namespace

const char* RoleName(SimRole role)
{
    switch (role) {
    case ROLE_SILENT: return "silent";
    case ROLE_RAW_SEND: return "send";
    case ROLE_RAW_RECEIVE: return "receive";
    case ROLE_IR_SEND: return "ir-send";
    case ROLE_IR_RECEIVE: return "ir-receive";
    case ROLE_REPLAY: return "replay";
    }
    return "?";
}

std::string HexBytes(const uint8_t* data, size_t n)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; i++) {
        snprintf(buf, sizeof buf, i ? " %02x" : "%02x", data[i]);
        s += buf;
    }
    return s;
}

void HandheldEvent(SimHandheld& h, uint64_t nowUs, const std::string& text)
{
    h.events.push_back({nowUs, text});
}

void HandheldFinish(SimHandheld& h, const char* reason, uint64_t nowUs)
{
    if (h.stage == STAGE_DONE)
        return;
    h.stage = STAGE_DONE;
    h.endReason = reason;
    HandheldEvent(h, nowUs,
                  std::string("end reason=") + reason + " rx=" + std::to_string(h.received.size()) +
                      " tx=" + std::to_string(h.sent.size()));
}

void HandheldStop(SimHandheld& h, const char* reason, uint64_t nowUs) { HandheldFinish(h, reason, nowUs); }

void HandheldStart(SimHandheld& h, const SimScenario& scenario, uint64_t nowUs)
{
    h = SimHandheld();
    h.scenario = scenario;
    h.startUs = nowUs;
    char line[160];
    snprintf(line, sizeof line, "start role=%s baud=%u format=%d%c%d bits=%d probe=%d",
             RoleName(scenario.role), scenario.line.baud, scenario.line.dataBits, scenario.line.parity - 32,
             scenario.line.stopBits, BitsPerByte(scenario.line), scenario.probeAnswer);
    HandheldEvent(h, nowUs, line);
    if (scenario.probeAnswer != PROBE_OFF)
        h.stage = STAGE_IR_PROBE;
    else
        StartRole(h, nowUs);
}

void HandheldReceive(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs)
{
    while (n > 0) {
        size_t used = 0;
        switch (h.stage) {
        case STAGE_IR_PROBE: used = ProbeStage(h, data, n, nowUs); break;
        case STAGE_IR_SETUP: used = SetupStage(h, data, n, nowUs); break;
        case STAGE_ROLE:
            if (IrRole(h))
                IrRoleReceive(h, data, n, nowUs);
            else if (h.scenario.role == ROLE_REPLAY)
                ReplayRoleReceive(h, data, n, nowUs);
            else
                RawRoleReceive(h, data, n, nowUs);
            used = n;
            break;
        case STAGE_DONE:
            HandheldEvent(h, nowUs, "late " + std::to_string(n));
            if (h.scenario.role == ROLE_REPLAY)
                ReplayRoleReceive(h, data, n, nowUs);   // more than was recorded
            used = n;
            break;
        }
        data += used;
        n -= used;
    }
}

void HandheldTick(SimHandheld& h, uint64_t nowUs)
{
    if (h.stage == STAGE_ROLE && IrRole(h))
        IrRoleTick(h, nowUs);
    else if (h.stage == STAGE_ROLE && h.scenario.role == ROLE_REPLAY)
        ReplayRoleTick(h, nowUs);
    else if (h.stage == STAGE_ROLE)
        RawRoleTick(h, nowUs);
}

size_t HandheldOutputWaiting(const SimHandheld& h) { return h.outQueue.size(); }

size_t HandheldTakeOutput(SimHandheld& h, uint8_t* out, size_t max, uint64_t nowUs)
{
    size_t n = h.outQueue.size() < max ? h.outQueue.size() : max;
    if (n == 0)
        return 0;
    std::copy(h.outQueue.begin(), h.outQueue.begin() + n, out);
    h.outQueue.erase(h.outQueue.begin(), h.outQueue.begin() + n);
    size_t stageBytes = n < h.outStageBytes ? n : h.outStageBytes;
    h.outStageBytes -= (uint32_t)stageBytes;
    size_t roleBytes = n - stageBytes;
    if (roleBytes > 0) {
        HandheldEvent(h, nowUs, "tx " + std::to_string(h.sent.size()) + " " + std::to_string(roleBytes));
        h.sent.insert(h.sent.end(), out + stageBytes, out + n);
    }
    if (h.outQueue.empty() && h.stage == STAGE_ROLE) {
        if (IrRole(h))
            IrRoleOutputDrained(h, nowUs);
        else if (h.scenario.role == ROLE_REPLAY)
            ReplayRoleTick(h, nowUs);
        else
            RawRoleOutputDrained(h, nowUs);
    }
    return n;
}

uint64_t HandheldPaceOutput(SimHandheld& h, LinePacer& toPc, uint64_t nowUs, std::vector<uint8_t>& crossed)
{
    uint32_t allow = PacerAllowance(toPc, nowUs, (uint32_t)h.outQueue.size());
    if (allow > 0) {
        size_t old = crossed.size();
        crossed.resize(old + allow);
        size_t n = HandheldTakeOutput(h, crossed.data() + old, allow, nowUs);
        crossed.resize(old + n);
        PacerConsume(toPc, (uint32_t)n, !h.outQueue.empty());
    }
    return h.outQueue.empty() ? UINT64_MAX : PacerNextUs(toPc, nowUs);
}

uint64_t HandheldNextTickUs(const SimHandheld& h)
{
    if (h.stage != STAGE_ROLE)
        return UINT64_MAX;
    if (h.scenario.role == ROLE_REPLAY)
        return ReplayRoleNextTickUs(h);
    return IrRole(h) ? IrRoleNextTickUs(h) : RawRoleNextTickUs(h);
}

bool HandheldFinished(const SimHandheld& h) { return h.stage == STAGE_DONE; }
