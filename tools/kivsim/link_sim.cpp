// The simulated line: the engine's platform table served from queues on a
// virtual clock that advances a millisecond at a time, jumping over quiet
// stretches. The status dialog's part is played by the same portable steps
// the Win32 dialog calls.
#include "link_sim.h"
#include <algorithm>
#include <cstring>
#include <memory>
#include "memblock.h"

namespace {

VirtualLine* sim;   // the run in progress
KivHandle const SIM_PORT = (KivHandle)(intptr_t)0x5150;

int32_t SimReadPort(KivHandle port, uint8_t* buffer, uint32_t max)
{
    if (port == KIV_INVALID_HANDLE)
        return 0;
    if (sim->options->readClearsErrors && sim->lineError) {
        sim->lineError = false;
        NoteLineErrors(0x0008);
    }
    uint32_t n = std::min<size_t>(max, sim->pcIn.size());
    for (uint32_t i = 0; i < n; i++) {
        buffer[i] = sim->pcIn.front();
        sim->pcIn.pop_front();
    }
    return (int32_t)n;
}

// The write in flight completes: its bytes are read from the engine's
// buffer now and go on the line.
void CompletePendingWrite(void)
{
    if (!sim->pendingData)
        return;
    const uint8_t* data = sim->pendingData;
    sim->pendingData = nullptr;
    sim->result->writes[sim->pendingEntry].bytes.assign((const char*)data, sim->pendingBytes);
    sim->pcOut.insert(sim->pcOut.end(), data, data + sim->pendingBytes);
    sim->pendingBytes = 0;
}

int32_t SimWritePort(KivHandle port, const uint8_t* buffer, uint32_t n)
{
    if (port == KIV_INVALID_HANDLE)
        return 0;
    const SimOptions& o = *sim->options;
    CompletePendingWrite();   // one write in flight: the next waits for it
    int serial = ++sim->writes;
    if (o.failWriteAt && serial >= o.failWriteAt && serial < o.failWriteAt + o.failWriteCount)
        return -1;
    sim->result->writes.push_back({sim->nowMs, std::string((const char*)buffer, n)});
    if (o.writePendsMs) {
        sim->pendingData = buffer;
        sim->pendingBytes = n;
        sim->pendingDoneMs = sim->nowMs + o.writePendsMs;
        sim->pendingEntry = sim->result->writes.size() - 1;
        return 0;
    }
    sim->pcOut.insert(sim->pcOut.end(), buffer, buffer + n);
    return (int32_t)n;
}

int32_t SimClearCommError(KivHandle port, PortStatus* st)
{
    if (port == KIV_INVALID_HANDLE)
        return 0;
    st->errors = sim->lineError ? 0x0008 : 0;   // a framing error
    sim->lineError = false;
    st->inQueue = (uint32_t)sim->pcIn.size();
    st->outQueue = (uint32_t)(sim->pcOut.size() + sim->pendingBytes);
    st->ctsHold = sim->ctsHold;
    st->xoffHold = 0;
    return 1;
}

void SimPurge(KivHandle port, uint32_t flags)
{
    sim->result->purges.push_back(flags);
    if (flags & LINK_PURGE_TXABORT) {
        sim->pendingData = nullptr;   // ended unread
        sim->pendingBytes = 0;
    }
    if (flags & (LINK_PURGE_TXABORT | LINK_PURGE_TXCLEAR))
        sim->pcOut.clear();
    if (flags & (LINK_PURGE_RXABORT | LINK_PURGE_RXCLEAR))
        sim->pcIn.clear();
}

int32_t SimPrepareIrLine(KivHandle)
{
    sim->result->irLinePrepared++;
    return sim->options->irLineAnswer;
}

// Closing ends a pending write unread, as the port layer's close does.
void SimClosePort(void)
{
    transferState.hPort = KIV_INVALID_HANDLE;
    sim->pendingData = nullptr;
    sim->pendingBytes = 0;
    sim->result->portCloses++;
}

uint32_t SimSetTimer(uint32_t periodMs)
{
    if (sim->options->timerRefuses)
        return 0;
    sim->result->timerPeriods.push_back(periodMs);
    sim->periodMs = std::max<uint32_t>(periodMs, 1);
    sim->nextFireMs = sim->nowMs + sim->periodMs;
    sim->timerIdNow = ++sim->timerIdSeq;
    return sim->timerIdNow;
}

void SimKillTimer(uint32_t id)
{
    if (id == sim->timerIdNow) {
        sim->timerIdNow = 0;
        sim->nextFireMs = SIM_NEVER;
    }
}

void SimTimerFailed(void) { sim->result->timerFailures++; }

// WM_CLOSE as the status dialog handles it.
void SimDialogClose(void)
{
    if (!sim->dialogOpen)
        return;
    OnStatusDialogClosing();
    sim->dialogOpen = false;
    sim->result->endMs = sim->nowMs;
}

void SimCommNotify(void)
{
    if (sim->dialogOpen)
        OnStatusCommNotify(LINK_CN_EVENT);
}

void SimRepaint(void)
{
    if (transferState.active)
        sim->result->shownBytes.push_back(transferState.progressBytes);
}

const LinkPlatform simPlatform = {
    SimReadPort, SimWritePort, SimClearCommError, SimPurge,       SimPrepareIrLine, SimClosePort,
    SimSetTimer, SimKillTimer, SimTimerFailed,    SimDialogClose, SimCommNotify,    SimRepaint,
};

uint64_t NowUs() { return sim->nowMs * 1000; }

uint64_t HandheldWakeMs(const SimHandheld& h)
{
    uint64_t us = HandheldNextTickUs(h);
    return us == UINT64_MAX ? SIM_NEVER : (us + 999) / 1000;
}

// Takes off one direction's queue, into bytes, what the line has carried by now.
void Crossed(std::deque<uint8_t>& queue, LinePacer& pacer, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    uint32_t n = PacerAllowance(pacer, NowUs(), (uint32_t)queue.size());
    if (n == 0)
        return;
    for (uint32_t i = 0; i < n; i++) {
        bytes.push_back(queue.front());
        queue.pop_front();
    }
    PacerConsume(pacer, n, !queue.empty());
}

void DeliverToDevice(SimDevice& device, const std::vector<uint8_t>& bytes)
{
    if (bytes.empty())
        return;
    if (device.handheld) {
        HandheldReceive(*device.handheld, bytes.data(), bytes.size(), NowUs());
        device.wakeAtMs = HandheldWakeMs(*device.handheld);
        return;
    }
    for (uint8_t b : bytes)
        if (device.received)
            device.wakeAtMs = std::min(device.wakeAtMs, device.received(*sim, b));
}

void CrossedFromDevice(SimDevice& device, std::vector<uint8_t>& bytes)
{
    if (!device.handheld) {
        Crossed(sim->deviceOut, sim->toPc, bytes);
        return;
    }
    bytes.clear();
    HandheldPaceOutput(*device.handheld, sim->toPc, NowUs(), bytes);
    device.wakeAtMs = HandheldWakeMs(*device.handheld);   // a piece that went out sets its pause
}

void ArriveAtPc(const std::vector<uint8_t>& bytes)
{
    VirtualLine& s = *sim;
    for (uint8_t b : bytes) {
        s.pcIn.push_back(b);
        s.rxEvent = true;
        if (s.lineErrorPending) {
            s.lineError = true;   // the port reports it with the byte that had it
            s.lineErrorPending = false;
        }
    }
}

bool DeviceOutputWaiting(const SimDevice& device)
{
    return device.handheld ? HandheldOutputWaiting(*device.handheld) > 0 : !sim->deviceOut.empty();
}

void Step(SimDevice& device)
{
    VirtualLine& s = *sim;
    if (s.pendingData && s.pendingDoneMs <= s.nowMs && s.pcOut.empty())
        CompletePendingWrite();
    bool hadOutput = !s.pcOut.empty();
    if (s.ctsHold && s.options->line.ctsFlow) {
        PacerAllowance(s.toDevice, NowUs(), 0);   // CTS held: the output waits, queued, on a quiet line
    } else {
        Crossed(s.pcOut, s.toDevice, s.crossing);
        DeliverToDevice(device, s.crossing);
    }
    if (hadOutput && s.pcOut.empty() && !s.pendingData)
        s.txEmptyEvent = true;
    CrossedFromDevice(device, s.crossing);
    ArriveAtPc(s.crossing);
    if (device.wakeAtMs <= s.nowMs && device.wake) {
        device.wakeAtMs = device.wake(s);
    }
    // The reader thread forwards the events the engine waits for, while active.
    uint32_t events = (s.rxEvent ? (uint32_t)LINK_EV_RXCHAR : 0u) |
                      (s.txEmptyEvent ? (uint32_t)LINK_EV_TXEMPTY : 0u);
    s.rxEvent = s.txEmptyEvent = false;
    if ((events & transferState.notifyMask) && transferState.active && s.dialogOpen && !s.options->readerDeaf)
        SimCommNotify();
    if (s.dialogOpen && s.nextFireMs <= s.nowMs) {
        s.nextFireMs = s.nowMs + s.periodMs;
        s.result->ticksMs.push_back(s.nowMs);
        LinkTimerProc();
    }
}

void RunAction(const SimAction& a)
{
    switch (a.kind) {
    case SIM_CANCEL: OnStatusCancel(); break;
    case SIM_WINDOW_CLOSE: SimDialogClose(); break;
    case SIM_LINE_ERROR: sim->lineErrorPending = true; break;
    case SIM_CTS_HOLD: sim->ctsHold = true; break;
    case SIM_CTS_RELEASE: sim->ctsHold = false; break;
    }
}

std::string BlockBytes(KivHandle h, uint32_t n, bool* terminated)
{
    const char* p = (const char*)BlockLock(h);
    std::string bytes(p, n);
    *terminated = BlockSize(h) > n && p[n] == 0;
    BlockUnlock(h);
    return bytes;
}

// The transfer's start as the export and WM_INITDIALOG make it.
void OpenTransfer(const SimOptions& o)
{
    ResetTransferState();
    TransferState& t = transferState;
    portParams.linkKind = o.linkKind;
    portParams.line = o.line;
    t.direction = o.direction;
    t.hPort = o.portUnusable ? KIV_INVALID_HANDLE : SIM_PORT;
    if (o.direction == 1) {
        size_t n = strnlen(o.block.c_str(), o.block.size());
        t.hBlock = BlockAlloc(n + 1, false);
        char* p = (char*)BlockLock(t.hBlock);
        memcpy(p, o.block.data(), n);
        p[n] = 0;
        BlockUnlock(t.hBlock);
        t.blockSize = t.totalBytes = (uint32_t)n;
    }
    sim->dialogOpen = true;
    t.active = 1;
    linkPlatform.repaintProgress();
    StartEngine();
}

void CloseTransfer(const SimOptions& o, SimResult& r)
{
    TransferState& t = transferState;
    r.resultCode = t.resultCode;
    if (o.direction == 1) {
        BlockFree(t.hBlock);   // the caller's block, given back untouched
    } else if (t.resultCode == 0 && t.hBlock && !sim->dialogOpen) {
        r.gotBlock = true;
        r.block = BlockBytes(t.hBlock, t.bytesDone, &r.blockTerminated);
        r.allocated = BlockSize(t.hBlock);
        BlockFree(t.hBlock);
    } else {
        BlockFree(t.hBlock);   // a failed receive hands back nothing
        if (sim->dialogOpen)
            r.resultCode = -1;   // still running when the run was cut off
    }
    t.hBlock = nullptr;
}

uint64_t NextEventMs(const SimDevice& device, const std::vector<SimAction>& actions, size_t nextAction)
{
    const VirtualLine& s = *sim;
    if (!s.pcOut.empty() || DeviceOutputWaiting(device) || s.lineError || s.pendingData)
        return s.nowMs + 1;
    uint64_t next = std::min(s.nextFireMs, device.wakeAtMs);
    if (nextAction < actions.size())
        next = std::min(next, actions[nextAction].atMs);
    return std::max(next, s.nowMs + 1);
}

}   // namespace

void SimSend(VirtualLine& line, const std::string& bytes)
{
    line.deviceOut.insert(line.deviceOut.end(), bytes.begin(), bytes.end());
}

SimResult RunSimTransfer(const SimOptions& options, SimDevice& device)
{
    SimResult result;
    VirtualLine line;
    PacerInit(line.toDevice, options.line.baudRate, (int)options.bitsPerByte);
    PacerInit(line.toPc, options.line.baudRate, (int)options.bitsPerByte);
    line.options = &options;
    line.result = &result;
    sim = &line;
    LinkPlatform saved = linkPlatform;
    linkPlatform = simPlatform;
    long savedFault = blockFaultCountdown;
    result.endMs = SIM_NEVER;

    std::vector<SimAction> actions = options.actions;
    std::stable_sort(actions.begin(), actions.end(),
                     [](const SimAction& a, const SimAction& b) { return a.atMs < b.atMs; });
    size_t nextAction = 0;
    blockFaultCountdown = 0;   // the caller's block is not the engine's allocation
    OpenTransfer(options);
    blockFaultCountdown = options.failAllocAt;
    if (options.afterStart)
        options.afterStart();
    while (line.dialogOpen) {
        uint64_t next = NextEventMs(device, actions, nextAction);
        if (next == SIM_NEVER || next > options.limitMs)
            break;
        line.nowMs = next;
        while (nextAction < actions.size() && actions[nextAction].atMs <= line.nowMs && line.dialogOpen)
            RunAction(actions[nextAction++]);
        if (line.dialogOpen)
            Step(device);
    }
    if (line.dialogOpen)
        KillLinkTimer();
    CloseTransfer(options, result);
    blockFaultCountdown = savedFault;
    linkPlatform = saved;
    sim = nullptr;
    return result;
}

SimDevice HandheldDevice(SimHandheld& h, const SimScenario& scenario)
{
    HandheldStart(h, scenario, 0);
    SimDevice d;
    d.handheld = &h;
    d.wake = [&h](VirtualLine& line) {
        HandheldTick(h, line.nowMs * 1000);
        return HandheldWakeMs(h);
    };
    d.wakeAtMs = HandheldWakeMs(h);
    return d;
}

SimDevice IrHandheldDevice(IrHandheld& h)
{
    IrHandheldStart(h, 0);
    SimDevice d;
    d.received = [&h](VirtualLine& line, uint8_t b) {
        IrHandheldByte(h, b, line.nowMs);
        SimSend(line, IrHandheldTakeOutput(h, line.nowMs));
        return IrHandheldNextWake(h);
    };
    d.wake = [&h](VirtualLine& line) {
        IrHandheldTime(h, line.nowMs);
        SimSend(line, IrHandheldTakeOutput(h, line.nowMs));
        return IrHandheldNextWake(h);
    };
    d.wakeAtMs = IrHandheldNextWake(h);
    return d;
}

SimOptions IrOptions(int direction, const std::string& block)
{
    SimOptions o;
    o.direction = direction;
    o.linkKind = LINK_IR;
    o.line = {9600, 'o', 8, 0, 0, 0};
    o.bitsPerByte = 11;
    o.block = block;
    return o;
}

namespace {

std::string CampaignBytes(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245 + 12345;
        s[i] = (char)(1 + (seed >> 16) % 255);   // never NUL: the block ends there
    }
    return s;
}

}   // namespace

CampaignRun RunCampaignTransfer(uint64_t seed, bool detectable)
{
    CampaignRun run;
    bool handheldSends = seed % 2;
    size_t size = (size_t)((seed * 2654435761u) % 70001);
    run.block = CampaignBytes(size, (uint32_t)seed);
    IrHandheld& h = run.handheld;
    h.sends = handheldSends;
    h.block = run.block;
    h.seed = seed;
    h.rate = 3.0 / (4.0 * (double)(size / 512 + 1));   // about three a transfer
    h.detectableOnly = detectable;
    SimOptions o = IrOptions(handheldSends ? 0 : 1, run.block);
    SimDevice d = IrHandheldDevice(h);
    run.result = RunSimTransfer(o, d);
    const SimResult& r = run.result;
    const std::string& got = handheldSends ? r.block : h.received;
    if (r.resultCode == RC_OK && got == run.block && (!handheldSends || r.gotBlock == !run.block.empty()))
        run.outcome = CAMPAIGN_OK;
    else if (r.resultCode > 0 && !r.gotBlock)
        run.outcome = CAMPAIGN_FAILED;
    else
        run.outcome = CAMPAIGN_WRONG;
    return run;
}
