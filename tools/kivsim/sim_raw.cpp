// The raw byte stream roles of the handheld: send a block in pieces, receive
// one up to its end byte, or stay silent while recording whatever arrives.
#include <algorithm>
#include "sim_handheld.h"

namespace {

void QueueNextPiece(SimHandheld& h, uint64_t nowUs)
{
    const SimScenario& s = h.scenario;
    size_t left = s.sendData.size() - h.sendQueued;
    size_t n = s.pieceSize == 0 ? left : std::min<size_t>(left, s.pieceSize);
    h.outQueue.insert(h.outQueue.end(), s.sendData.begin() + h.sendQueued,
                      s.sendData.begin() + h.sendQueued + n);
    h.sendQueued += n;
    h.nextPieceUs = UINT64_MAX;   // set again once the piece has crossed
}

}   // namespace

void RawRoleStart(SimHandheld& h, uint64_t nowUs)
{
    if (h.scenario.role == ROLE_RAW_SEND) {
        h.nextPieceUs = nowUs + (uint64_t)h.scenario.delayMs * 1000;
        if (h.scenario.sendData.empty())
            HandheldFinish(h, "sent", nowUs);
    }
}

// What reaches the adapter while its CTS is down goes no further; the wake
// byte 0x00 among it brings the link up. Returns the bytes that pass.
size_t ThroughAdapter(SimHandheld& h, const uint8_t*& data, size_t n, uint64_t nowUs)
{
    if (!h.scenario.irdaAdapter || h.ctsUp)
        return n;
    const uint8_t* wake = std::find(data, data + n, 0x00);
    size_t dropped = wake == data + n ? n : (size_t)(wake - data) + 1;
    HandheldEvent(h, nowUs, "adapter took " + std::to_string(dropped));
    if (wake != data + n) {
        h.ctsUp = true;
        HandheldEvent(h, nowUs, "cts up");
    }
    data += dropped;
    return n - dropped;
}

void RawRoleReceive(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs)
{
    const SimScenario& s = h.scenario;
    n = ThroughAdapter(h, data, n, nowUs);
    if (n == 0)
        return;
    size_t take = n;
    const char* reason = nullptr;
    if (s.role == ROLE_RAW_RECEIVE) {
        if (s.stopAtEof) {
            const uint8_t* eof = std::find(data, data + n, SIM_EOF);
            if (eof != data + n) {
                take = eof - data + 1;
                reason = "eof";
            }
        }
        if (s.stopCount && h.received.size() + take >= s.stopCount) {
            take = s.stopCount - h.received.size();
            reason = "count";
        }
    }
    HandheldEvent(h, nowUs, "rx " + std::to_string(h.received.size()) + " " + std::to_string(take));
    h.received.insert(h.received.end(), data, data + take);
    h.anyReceived = true;
    h.lastReceivedUs = nowUs;
    if (s.ctsDropAfter && h.ctsUp && h.received.size() >= s.ctsDropAfter) {
        h.ctsUp = false;
        HandheldEvent(h, nowUs, "cts down: link lost");
    }
    if (take < n)
        HandheldEvent(h, nowUs, "dropped " + std::to_string(n - take));
    if (s.role == ROLE_RAW_RECEIVE && !s.inject.empty() && !h.injected &&
        h.received.size() >= s.injectAfter) {
        h.injected = true;
        h.outQueue.insert(h.outQueue.end(), s.inject.begin(), s.inject.end());
        HandheldEvent(h, nowUs, "inject " + HexBytes(s.inject.data(), s.inject.size()));
    }
    if (reason && h.outQueue.empty())
        HandheldFinish(h, reason, nowUs);
    else if (reason)
        h.endReason = reason;   // finished once the injected bytes are out
}

void RawRoleTick(SimHandheld& h, uint64_t nowUs)
{
    const SimScenario& s = h.scenario;
    if (s.role == ROLE_RAW_SEND && h.outQueue.empty() && nowUs >= h.nextPieceUs &&
        h.sendQueued < s.sendData.size())
        QueueNextPiece(h, nowUs);
    if (s.role == ROLE_RAW_RECEIVE && s.silenceMs && h.anyReceived &&
        nowUs - h.lastReceivedUs >= (uint64_t)s.silenceMs * 1000)
        HandheldFinish(h, "silence", nowUs);
}

uint64_t RawRoleNextTickUs(const SimHandheld& h)
{
    const SimScenario& s = h.scenario;
    if (s.role == ROLE_RAW_SEND && h.sendQueued < s.sendData.size())
        return h.nextPieceUs;
    if (s.role == ROLE_RAW_RECEIVE && s.silenceMs && h.anyReceived)
        return h.lastReceivedUs + (uint64_t)s.silenceMs * 1000;
    return UINT64_MAX;
}

void RawRoleOutputDrained(SimHandheld& h, uint64_t nowUs)
{
    const SimScenario& s = h.scenario;
    if (s.role == ROLE_RAW_SEND) {
        if (h.sendQueued >= s.sendData.size())
            HandheldFinish(h, "sent", nowUs);
        else
            h.nextPieceUs = nowUs + (uint64_t)s.gapMs * 1000;
    } else if (!h.endReason.empty()) {
        std::string reason = h.endReason;
        HandheldFinish(h, reason.c_str(), nowUs);
    }
}
