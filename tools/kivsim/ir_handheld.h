// The handheld's side of the framed IR protocol, as a model the simulated
// line (and kivsim on a pseudo-terminal) can play in either role: it sends a
// block to the PC or takes one from it, and it can misbehave on purpose, one
// fault per frame, chosen by a plan or at random from a seed, so every run
// can be repeated. Time is whatever clock the caller runs, in milliseconds.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

enum IrFault {
    IRF_NONE,
    // Frames the handheld sends.
    IRF_DROP,             // not sent at all
    IRF_CORRUPT_DATA,     // one data byte changed
    IRF_CORRUPT_SUM,      // the checksum changed
    IRF_REPEAT,           // sent twice
    IRF_SKIP_NUMBER,      // the next block (not the last) sent in place of this one
    IRF_SPLIT,            // sent in pieces with pauses between them
    IRF_SHORT_PREAMBLE,   // one 0x00 before the mark: not a frame for the PC
    IRF_LONG_PREAMBLE,    // twelve 0x00 before the mark
    IRF_OVERSIZE,         // a length field above 512
    IRF_CAN,              // CAN instead of SYN
    IRF_OTHER_CODE,       // another code instead of SYN or ACK
    IRF_NAK_FOR_ACK,      // NAK for a block that was taken
    IRF_DELAY,            // the answer comes late, up to and past the PC's deadlines
    IRF_SILENCE,          // the handheld says nothing more
    // Frames the PC sends, as the handheld receives them.
    IRF_LOSE_INCOMING,      // a frame from the PC lost on the line
    IRF_CORRUPT_INCOMING,   // one data byte of a PC data frame changed
    // Changes the checksum cannot see (facts of the wire format).
    IRF_CANCELLING_PAIR,   // two data bytes changed so that the sum stays
    IRF_RENUMBER,          // a data frame carrying the next block's number
    IRF_NUMBER_TO_LAST,    // a data frame's number turned into 0xFFFF
    IRF_COUNT
};

const char* IrFaultName(IrFault fault);

struct IrHandheld {
    // Set up by the caller.
    bool sends = false;   // true: the handheld sends `block` to the PC
    std::string block;
    uint32_t answerDelayMs = 5;   // how soon it answers a frame
    std::vector<IrFault> plan;    // fault for each frame it sends or takes, in order
    uint64_t seed = 0;            // with rate > 0: random faults ...
    double rate = 0;              // ... on this share of frames
    bool detectableOnly = true;   // random faults leave out what no checksum can catch

    // What happened.
    std::string received;     // the block taken from the PC
    bool done = false;        // its own side completed
    bool cancelled = false;   // the PC sent CAN
    std::vector<IrFault> faultsUsed;

    // Internal state.
    std::deque<std::pair<uint64_t, std::string>> out;   // bytes due at a time
    int phase = 0;
    uint16_t blockNo = 0;
    uint32_t offset = 0, chunk = 0;
    uint16_t expected = 1;
    int enqSent = 0, retries = 0;
    uint64_t deadline = UINT64_MAX;
    bool silent = false;
    size_t frameSerial = 0;
    uint64_t rng = 0;
    // Frame parser.
    int step = 0, zeros = 0;
    std::string frame;
    uint32_t need = 0;
};

// Starts the handheld's side at nowMs.
void IrHandheldStart(IrHandheld& h, uint64_t nowMs);
// One byte from the PC.
void IrHandheldByte(IrHandheld& h, uint8_t byte, uint64_t nowMs);
// Lets deadlines expire; call at IrHandheldNextWake at the latest.
void IrHandheldTime(IrHandheld& h, uint64_t nowMs);
uint64_t IrHandheldNextWake(const IrHandheld& h);
// Done with its side, or given up after too many tries.
bool IrHandheldFinished(const IrHandheld& h);
// Bytes due for the line by nowMs, in order (removed from the queue).
std::string IrHandheldTakeOutput(IrHandheld& h, uint64_t nowMs);

// The wire bytes of the frames, as both sides write them.
std::string IrControlFrame(uint8_t code);
std::string IrDataFrame(uint16_t blockNo, const std::string& data);
