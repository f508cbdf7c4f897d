// The simulated line and handheld for the link engine: the engine runs
// unchanged against a port, a timer and a status dialog that live on a
// virtual millisecond clock, so a transfer with six-minute deadlines runs in
// microseconds and every run is repeatable. Bytes move at the line rate of
// the settings in both directions; comm events reach the engine as the reader
// thread would forward them. Faults (a failing write, allocation or timer, a
// line error, a cancel, a close from the window system) are scheduled by the
// caller. The bytes cross through the same pacer as kivsim's, and the
// handheld on the other end is kivsim's model, or a device of the caller's.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>
#include "ir_handheld.h"
#include "link_engine.h"
#include "sim_handheld.h"

const uint64_t SIM_NEVER = UINT64_MAX;

struct VirtualLine;

// The handheld's side: told of every byte that comes off the line, woken at
// wakeAtMs; it talks back with SimSend. Both callbacks answer when the device
// wants to be woken next (SIM_NEVER: not until a byte comes). The handheld
// model instead takes the bytes in runs, as on a pseudo-terminal, and keeps
// its output queue to itself: the line takes bytes off it as they cross, so
// that it learns when a piece has gone out.
struct SimDevice {
    std::function<uint64_t(VirtualLine& line, uint8_t byte)> received;
    std::function<uint64_t(VirtualLine& line)> wake;
    uint64_t wakeAtMs = SIM_NEVER;
    SimHandheld* handheld = nullptr;
};

// Something that happens to the transfer from outside at a given time.
// A line error comes with the next byte the handheld sends. A CTS hold on a
// line with CTS flow control stops the PC's output where it is, bytes queued.
enum SimActionKind { SIM_CANCEL, SIM_WINDOW_CLOSE, SIM_LINE_ERROR, SIM_CTS_HOLD, SIM_CTS_RELEASE };
struct SimAction {
    uint64_t atMs;
    SimActionKind kind;
};

struct SimOptions {
    int direction = 0;   // 1: the PC sends options.block
    int linkKind = LINK_CABLE;
    LineSettings line = {9600, 'n', 8, 0, 0, 0};
    uint32_t bitsPerByte = 10;                // start + data + parity + stop
    std::string block;                        // what the PC sends, up to its first NUL
    bool portUnusable = false;                // the port handle is the invalid value from the start
    int32_t irLineAnswer = 1;                 // what the IR line preparation reports
    uint64_t limitMs = 48ull * 3600 * 1000;   // the run stops here whatever happens
    std::vector<SimAction> actions;
    int failWriteAt = 0;      // this write (1 = the first) fails with -1 ...
    int failWriteCount = 1;   // ... and so many after it
    bool timerRefuses = false;
    long failAllocAt = 0;               // this block allocation (1 = the first) fails
    std::function<void()> afterStart;   // runs once the engine has started
    bool readerDeaf = false;            // comm events are never forwarded: only deadlines drive the engine
    // Nonzero: every write stays pending this long and until the output before
    // it has left; the engine's buffer is read only when it completes, so a
    // frame changed in the meantime goes on the line changed. A write made
    // while one is pending first completes that one, as the port layer does.
    uint32_t writePendsMs = 0;
    // The port's reads clear a line error on their way and hand it to
    // NoteLineErrors, as a ClearCommError inside a read does.
    bool readClearsErrors = false;
};

struct SimWrite {
    uint64_t atMs;
    std::string bytes;
};

struct SimResult {
    int16_t resultCode = 0;
    bool gotBlock = false;          // receive: the export would hand back a block
    std::string block;              // its bytes before the NUL
    bool blockTerminated = false;   // a NUL right after them
    size_t allocated = 0;           // the size of the block the engine built
    uint64_t endMs = 0;             // when the dialog closed (SIM_NEVER: it never did)
    std::vector<SimWrite> writes;
    std::vector<uint32_t> timerPeriods;
    std::vector<uint64_t> ticksMs;   // when the link timer fired
    std::vector<uint32_t> purges;
    std::vector<uint32_t> shownBytes;   // progressBytes at every repaint while active
    int timerFailures = 0;
    int irLinePrepared = 0;
    int portCloses = 0;
};

// The line in process, on the virtual clock.
struct VirtualLine {
    uint64_t nowMs = 0;
    std::deque<uint8_t> pcOut, pcIn, deviceOut;
    LinePacer toDevice, toPc;
    std::vector<uint8_t> crossing;   // what crossed in this millisecond, one way
    bool rxEvent = false, txEmptyEvent = false;
    bool lineError = false, lineErrorPending = false, ctsHold = false;
    bool dialogOpen = false;
    // The one link timer.
    uint32_t timerIdSeq = 0, timerIdNow = 0, periodMs = 0;
    uint64_t nextFireMs = SIM_NEVER;
    const SimOptions* options = nullptr;
    SimResult* result = nullptr;
    int writes = 0;
    // The write in flight (SimOptions::writePendsMs): the engine's buffer and
    // the entry of result->writes its bytes go to when it completes.
    const uint8_t* pendingData = nullptr;
    uint32_t pendingBytes = 0;
    uint64_t pendingDoneMs = 0;
    size_t pendingEntry = 0;
};

// The handheld puts bytes on the line towards the PC.
void SimSend(VirtualLine& line, const std::string& bytes);

// Runs one transfer as KivSendData or KivReceiveData would, from the start of
// the status dialog to its end.
SimResult RunSimTransfer(const SimOptions& options, SimDevice& device);

// kivsim's handheld model on the simulated line, started at the line's time
// 0 with the scenario; its event log is on the virtual clock. The line's
// rate is the options' (the scenario's line format only shows in the log).
SimDevice HandheldDevice(SimHandheld& handheld, const SimScenario& scenario);

// The handheld of the framed IR protocol on the simulated line.
SimDevice IrHandheldDevice(IrHandheld& handheld);
// IR settings as the transfer exports force them: 9600 baud, 8 bits, odd parity.
SimOptions IrOptions(int direction, const std::string& block = "");

// One transfer of the IR fault campaign. Everything follows from the seed:
// the direction, a block of 0 to 70 000 bytes and about three random faults;
// detectable leaves out the changes no checksum can see. The outcome is the
// only thing that matters: the very block with 0, or a failure code and no
// block; anything else is wrong data passed off as success.
enum CampaignOutcome { CAMPAIGN_OK, CAMPAIGN_FAILED, CAMPAIGN_WRONG };
struct CampaignRun {
    IrHandheld handheld;
    std::string block;
    SimResult result;
    CampaignOutcome outcome;
};
CampaignRun RunCampaignTransfer(uint64_t seed, bool detectable);
