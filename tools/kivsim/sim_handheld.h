// The simulated handheld: what it does on the line, as a model that knows
// nothing of pseudo-terminals or clocks. The caller (kivsim's main loop on a
// pseudo-terminal, or an in-process line with a virtual clock) hands it the
// bytes that crossed from the PC and the passing time, and takes its output
// through the line's pacer. Time is in microseconds.
//
// A scenario is an optional IR line device stage (answer the probe byte,
// take the set-up bytes) followed by one role. The raw stream roles live in
// sim_raw.cpp; further roles (the framed protocol of the IR link kind) get a
// file of their own and a case in the role dispatch of sim_handheld.cpp.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "ir_handheld.h"
#include "line_pacer.h"

enum SimRole { ROLE_SILENT, ROLE_RAW_SEND, ROLE_RAW_RECEIVE, ROLE_IR_SEND, ROLE_IR_RECEIVE, ROLE_REPLAY };

// One chunk of a session kiv recorded with --trace: bytes kiv read (the
// handheld sends them) or wrote (the handheld waits for them), at kiv's time
// of the chunk's last byte. outEnd: kiv's bytes written through this chunk.
struct ReplayStep {
    uint64_t us;
    bool fromPc;
    std::vector<uint8_t> bytes;
    size_t outEnd;
};

// probeAnswer: the byte the line device answers 0xF0 with, or one of these.
enum : int { PROBE_OFF = -1, PROBE_SILENT = -2 };
enum : uint8_t { PROBE_BYTE = 0xF0, SIM_EOF = 0x1A };
enum : uint32_t { IR_SETUP_LENGTH = 13 };

struct SimScenario {
    SimRole role = ROLE_SILENT;
    LineFormat line = {9600, 8, 'n', 1};
    int probeAnswer = PROBE_OFF;
    // Raw send: the bytes (an end byte already appended when asked for), the
    // size of each piece (0: one piece), the pause after each piece has
    // crossed, and the pause before the first.
    std::vector<uint8_t> sendData;
    uint32_t pieceSize = 0;
    uint32_t gapMs = 0;
    uint32_t delayMs = 0;
    // Raw receive: stop at the first 0x1A, after stopCount bytes (0: never),
    // or silenceMs after the last byte (0: never); send inject once
    // injectAfter bytes have arrived (a handheld talking during a PC send).
    bool stopAtEof = true;
    uint32_t stopCount = 0;
    uint32_t silenceMs = 0;
    std::vector<uint8_t> inject;
    uint32_t injectAfter = 0;
    // An IrDA adapter in front of the raw receive: CTS down until the PC's
    // wake byte 0x00 (taken by the adapter, not passed on), up while the
    // block comes, down again once the role is done, or, to lose the link,
    // once ctsDropAfter bytes have come (0: never).
    bool irdaAdapter = false;
    uint32_t ctsDropAfter = 0;
    // The framed IR protocol: ir-send sends sendData, ir-receive takes the
    // PC's block; faults by plan (one per frame sent or taken) or at random.
    std::vector<IrFault> irPlan;
    uint64_t irSeed = 0;
    double irRate = 0;
    // Replay: the recorded chunks, kiv's bytes written in order, and the
    // recorded time the role starts at (the IR line device's set-up, or 0).
    std::vector<ReplayStep> replay;
    std::vector<uint8_t> replayOut;
    uint64_t replayBaseUs = 0;
};

enum SimStage { STAGE_IR_PROBE, STAGE_IR_SETUP, STAGE_ROLE, STAGE_DONE };

struct SimEvent {
    uint64_t us;
    std::string text;
};

struct SimHandheld {
    SimScenario scenario;
    SimStage stage = STAGE_ROLE;
    uint64_t startUs = 0;
    // What the role received and sent, byte for byte.
    std::vector<uint8_t> received;
    std::vector<uint8_t> sent;
    std::vector<uint8_t> setupBytes;
    // Bytes waiting for the line; the first outStageBytes of them belong to
    // the line device stage, not to the role.
    std::vector<uint8_t> outQueue;
    uint32_t outStageBytes = 0;
    // Raw send progress.
    size_t sendQueued = 0;
    uint64_t nextPieceUs = 0;
    // Raw receive progress.
    bool anyReceived = false;
    uint64_t lastReceivedUs = 0;
    bool injected = false;
    bool ctsUp = false;   // the adapter's CTS, when there is one
    std::string endReason;
    std::vector<SimEvent> events;
    IrHandheld ir;   // the protocol roles' state
    // Replay progress: the next chunk, kiv's bytes matched so far, when each
    // of kiv's chunks had arrived whole, when the last chunk ended on the
    // recording and here, and the first difference from the recording.
    size_t replayAt = 0;
    size_t replayMatched = 0;
    std::vector<uint64_t> replayArrivedUs;
    uint64_t replayRecordedEndUs = 0;
    uint64_t replayEndUs = 0;
    std::string mismatch;
};

void HandheldStart(SimHandheld& h, const SimScenario& scenario, uint64_t nowUs);
// Bytes that have crossed the line from the PC.
void HandheldReceive(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs);
// Time has passed: pieces fall due, silence ends a receive.
void HandheldTick(SimHandheld& h, uint64_t nowUs);
// Up to max bytes of output, taken off the queue because they crossed now.
size_t HandheldTakeOutput(SimHandheld& h, uint8_t* out, size_t max, uint64_t nowUs);
size_t HandheldOutputWaiting(const SimHandheld& h);
// When HandheldTick next has work; UINT64_MAX when only input can wake it.
uint64_t HandheldNextTickUs(const SimHandheld& h);
// Takes off the queue, onto crossed, the output the line has carried towards
// the PC by nowUs, and answers when the next byte is due (UINT64_MAX:
// nothing waiting). Every line the handheld plays on paces it here.
uint64_t HandheldPaceOutput(SimHandheld& h, LinePacer& toPc, uint64_t nowUs, std::vector<uint8_t>& crossed);
bool HandheldFinished(const SimHandheld& h);
// Ends the run from outside (time-out, stop request), keeping what it has.
void HandheldStop(SimHandheld& h, const char* reason, uint64_t nowUs);

// Shared by the stage and role files.
void HandheldEvent(SimHandheld& h, uint64_t nowUs, const std::string& text);
void HandheldFinish(SimHandheld& h, const char* reason, uint64_t nowUs);
std::string HexBytes(const uint8_t* data, size_t n);
const char* RoleName(SimRole role);

// Raw stream roles (sim_raw.cpp).
void RawRoleStart(SimHandheld& h, uint64_t nowUs);
void RawRoleReceive(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs);
void RawRoleTick(SimHandheld& h, uint64_t nowUs);
uint64_t RawRoleNextTickUs(const SimHandheld& h);
void RawRoleOutputDrained(SimHandheld& h, uint64_t nowUs);

// Framed IR protocol roles (sim_ir.cpp).
void IrRoleStart(SimHandheld& h, uint64_t nowUs);
void IrRoleReceive(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs);
void IrRoleTick(SimHandheld& h, uint64_t nowUs);
uint64_t IrRoleNextTickUs(const SimHandheld& h);
void IrRoleOutputDrained(SimHandheld& h, uint64_t nowUs);

// Replay of a recorded session (sim_replay.cpp). Receive compares kiv's bytes
// with the recording, also once the replay is over.
void ReplayRoleStart(SimHandheld& h, uint64_t nowUs);
void ReplayRoleReceive(SimHandheld& h, const uint8_t* data, size_t n, uint64_t nowUs);
void ReplayRoleTick(SimHandheld& h, uint64_t nowUs);
uint64_t ReplayRoleNextTickUs(const SimHandheld& h);
// The trace kiv wrote into the scenario: the line, the IR line device and
// the chunks; false with error when it cannot be read.
bool LoadReplay(const std::string& path, SimScenario& s, std::string& error);
// Why a replay did not go as recorded, or empty when it did.
std::string ReplayFailure(const SimHandheld& h);
