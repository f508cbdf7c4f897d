// The poll loop of one transfer. Each wake-up runs one engine step, as one
// message of the Windows status dialog would: the port readable while the
// engine waits for input (the receive event), the output drained while it
// waits for that (the send event), the link timer's period, a signal (the
// cancel button). The engine's requests to notify or close are taken after
// the step that made them. The drain is found without busy waiting: the
// loop sleeps for as long as the queued bytes take on the wire, then looks.
#include "link_loop.h"
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <cstring>
#include "cancel_signals.h"
#include "held_signals.h"
#include "link_engine.h"
#include "memblock.h"
#include "posix_port.h"
#include "progress.h"
#include "session_trace.h"

namespace {

struct Loop {
    int fd;
    bool closeRequested;
    bool notifyPending;
    bool timerOn;
    uint32_t timerPeriodMs;
    uint64_t timerDueMs;
    uint64_t drainDueMs;    // when to look at the output queue again; 0: not waiting
    uint64_t inputRestMs;   // a raw receive leaves input to gather until then
    int signal;             // the signal that cancelled the transfer
    int heldSignal;         // one read once the engine could no longer cancel: raised again, held
    bool lineLost;          // the transfer ended because the line went away
    bool heard;             // a byte came from the handheld
    uint64_t waitDueMs;     // the wait for that first byte ends then; 0: no bound
};
Loop loop;

const uint32_t kTimerToken = 1;
// A raw receive takes its input in batches of about this many bytes, so
// that a slow line does not wake the loop for every few bytes; the port
// buffers far more than that meanwhile.
const uint32_t kInputBatch = 64;
const uint64_t kInputRestMaxMs = 20;
// What a 16550 UART still sends after its driver's queue reads empty.
const uint32_t kTransmitFifo = 16;
// How long the close waits for the last bytes (a CAN frame, an ACK) at most
// beyond their time on the wire.
const uint64_t kCloseGraceMs = 500;

uint32_t StartTimer(uint32_t periodMs)
{
    loop.timerPeriodMs = periodMs ? periodMs : 1;
    loop.timerDueMs = NowMs() + loop.timerPeriodMs;
    loop.timerOn = true;
    return kTimerToken;
}

void StopTimer(uint32_t) { loop.timerOn = false; }
void NoTimerFailure(void) { }
void RequestClose(void) { loop.closeRequested = true; }
void RequestNotify(void) { loop.notifyPending = true; }
void Repaint(void) { ProgressShow(false); }

// The port layer's read, noting the handheld's first byte: it ends the
// waiting line and the bound on that wait. Reads, writes, purges and the IR
// line device's set-up go to the session's trace on their way.
int32_t (*readPortBytes)(KivHandle, uint8_t*, uint32_t);
int32_t ReadPort(KivHandle port, uint8_t* buffer, uint32_t max)
{
    int32_t n = readPortBytes(port, buffer, max);
    if (n > 0)
        TraceBytes(false, buffer, (size_t)n);
    if (n > 0 && !loop.heard) {
        loop.heard = true;
        ProgressHeard();
    }
    return n;
}

int32_t (*writePortBytes)(KivHandle, const uint8_t*, uint32_t);
int32_t WritePort(KivHandle port, const uint8_t* buffer, uint32_t n)
{
    int32_t accepted = writePortBytes(port, buffer, n);
    if (accepted > 0)
        TraceBytes(true, buffer, (size_t)accepted);
    return accepted;
}

void (*purgePortQueues)(KivHandle, uint32_t);
void PurgePort(KivHandle port, uint32_t flags)
{
    TracePurge(flags);
    purgePortQueues(port, flags);
}

int32_t (*prepareLineDevice)(KivHandle);
int32_t PrepareTracedIrLine(KivHandle port)
{
    int32_t answered = prepareLineDevice(port);
    TraceLineDevice(answered == 1);
    return answered;
}

void AwaitOutput(void);

// The engine's last step: a cancelled IR transfer tells the handheld with
// CAN, the output goes out (bounded), then the lines drop and the port's own
// settings come back.
void CloseLoopPort(void)
{
    if (loop.signal && portParams.linkKind == LINK_IR)
        SendControl(CAN);   // the handheld stops waiting for the next frame
    AwaitOutput();
    transferState.hPort = KIV_INVALID_HANDLE;
    CloseSerialPort(loop.fd);
    TraceLines("dtr=0 rts=0");
}

void InstallLoopPlatform(void)
{
    InstallPosixPort();
    readPortBytes = linkPlatform.readPort;
    linkPlatform.readPort = ReadPort;
    writePortBytes = linkPlatform.writePort;
    linkPlatform.writePort = WritePort;
    purgePortQueues = linkPlatform.purgePort;
    linkPlatform.purgePort = PurgePort;
    prepareLineDevice = linkPlatform.prepareIrLine;
    linkPlatform.prepareIrLine = PrepareTracedIrLine;
    linkPlatform.setTimer = StartTimer;
    linkPlatform.killTimer = StopTimer;
    linkPlatform.timerFailed = NoTimerFailure;
    linkPlatform.sendClose = RequestClose;
    linkPlatform.sendCommNotify = RequestNotify;
    linkPlatform.repaintProgress = Repaint;
    linkPlatform.closePort = CloseLoopPort;
}

// Milliseconds the bytes take on the wire, at least 1.
uint64_t WireMs(uint32_t bytes)
{
    const LineSettings& line = portParams.line;
    uint64_t ms = (uint64_t)bytes * BitsPerByte(line) * 1000 / (line.baudRate ? line.baudRate : 9600);
    return ms ? ms : 1;
}

// The send event: raised once when the output that was written has left.
void CheckDrain(uint64_t now)
{
    loop.drainDueMs = 0;
    if (!outputBusy || HeldOutput())
        return;
    uint32_t queued = OutputQueue(loop.fd);
    if (queued) {
        loop.drainDueMs = now + WireMs(queued);
        return;
    }
    outputBusy = false;
    if (transferState.notifyMask & LINK_EV_TXEMPTY)
        loop.notifyPending = true;
}

int TimeoutMs(uint64_t now)
{
    uint64_t due = UINT64_MAX;
    if (loop.timerOn)
        due = loop.timerDueMs;
    if (loop.drainDueMs && loop.drainDueMs < due)
        due = loop.drainDueMs;
    if (loop.inputRestMs > now && transferState.active && loop.inputRestMs < due)
        due = loop.inputRestMs;
    if (loop.waitDueMs && !loop.heard && loop.waitDueMs < due)
        due = loop.waitDueMs;
    if (due == UINT64_MAX)
        return -1;
    return due > now ? (int)(due - now) : 0;
}

bool WaitingForInput(uint64_t now)
{
    return transferState.active && (transferState.notifyMask & LINK_EV_RXCHAR) && now >= loop.inputRestMs;
}

// Bytes the input may gather before the engine is woken again: a raw stream
// always a batch; the framed IR protocol only inside a data frame, and never
// past its end, so that every frame is still answered at once.
uint32_t InputToGather(void)
{
    if (portParams.linkKind != LINK_IR)
        return kInputBatch;
    const uint8_t kInData = 12;   // the frame parser's step inside a data frame's bytes
    if (parseStep != kInData || rxIndex >= RxFrame.length)
        return 0;
    uint32_t rest = RxFrame.length - rxIndex + 2u;   // data and checksum still to come
    return rest < kInputBatch ? rest : kInputBatch;
}

// The receive event, then the input's time to gather.
void InputArrived(uint64_t now)
{
    OnStatusCommNotify(LINK_CN_EVENT);
    uint32_t gather = InputToGather();
    if (gather) {
        uint64_t rest = WireMs(gather);
        loop.inputRestMs = now + (rest < kInputRestMaxMs ? rest : kInputRestMaxMs);
    }
}

// Input the port still holds; false too when it cannot say (a hung-up line).
bool InputQueued(void)
{
    int queued = 0;
    return ioctl(loop.fd, FIONREAD, &queued) == 0 && queued > 0;
}

// One wake-up of the loop and the engine step it calls for.
void Step(int signalFd)
{
    if (loop.notifyPending) {
        loop.notifyPending = false;
        OnStatusCommNotify(LINK_CN_EVENT);
        return;
    }
    uint64_t now = NowMs();
    if (loop.waitDueMs && !loop.heard && now >= loop.waitDueMs) {
        transferState.resultCode = RC_TIMEOUT;   // the handheld never answered
        loop.closeRequested = true;
        return;
    }
    if (loop.timerOn && now >= loop.timerDueMs) {
        loop.timerDueMs = now + loop.timerPeriodMs;
        LinkTimerProc();
        return;
    }
    CheckDrain(now);
    if (loop.notifyPending)
        return;
    struct pollfd fds[2] = {{signalFd, POLLIN, 0}, {loop.fd, 0, 0}};
    if (WaitingForInput(now))
        fds[1].events |= POLLIN;
    if (HeldOutput())
        fds[1].events |= POLLOUT;
    if (poll(fds, 2, TimeoutMs(now)) <= 0)
        return;
    if (fds[0].revents & POLLIN) {
        int signo = TakeCancelSignal(signalFd);
        if (OnStatusCancel()) {
            loop.signal = signo;
            return;
        }
        // Past the point where cancel acts: the transfer ends now with what
        // it has, and the signal waits until that is saved.
        loop.heldSignal = signo;
        loop.closeRequested = true;
        return;
    }
    short got = fds[1].revents;
    bool hungUp = got & (POLLERR | POLLNVAL | POLLHUP);
    if ((got & POLLIN) && WaitingForInput(now) && (!hungUp || InputQueued())) {
        InputArrived(NowMs());
        return;   // what is still queued comes first, even after a hang-up
    }
    if (hungUp) {
        if (InputQueued() && transferState.active && (transferState.notifyMask & LINK_EV_RXCHAR))
            InputArrived(NowMs());   // the other end hung up after its last bytes
        else
            lineLost = true;   // the handheld or the adapter went away
        return;
    }
    if ((got & POLLOUT) && !WriteHeldOutput(loop.fd) && transferState.resultCode == 0)
        transferState.resultCode = RC_LINE_ERROR;
}

// A line that went away ends the transfer at once, unless the engine had
// finished it already.
void CheckLineLost(void)
{
    if (!lineLost || loop.lineLost || (loop.closeRequested && transferState.resultCode == 0))
        return;
    loop.lineLost = true;
    transferState.resultCode = RC_LINE_ERROR;
    loop.closeRequested = true;
}

// Lets the last bytes leave before the lines drop: bounded by their time on
// the wire and a grace period, with cancel signals no longer taken. The
// driver's queue reads empty while the UART's transmit FIFO still sends,
// so that time is allowed for too.
void AwaitOutput(void)
{
    uint64_t deadline = NowMs() + WireMs(OutputQueue(loop.fd)) + kCloseGraceMs;
    for (;;) {
        uint64_t now = NowMs();
        uint32_t queued = OutputQueue(loop.fd);
        if (queued == 0) {
            PauseMs((uint32_t)WireMs(kTransmitFifo));
            return;
        }
        if (now >= deadline)
            return;
        struct pollfd p = {loop.fd, (short)(HeldOutput() ? POLLOUT : 0), 0};
        uint64_t wait = HeldOutput() ? deadline - now : WireMs(queued);
        if (wait > deadline - now)
            wait = deadline - now;
        if (poll(&p, 1, (int)wait) > 0 && (p.revents & POLLOUT))
            WriteHeldOutput(loop.fd);
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            return;
    }
}

BlockHandle BlockOf(const std::vector<uint8_t>& bytes, uint32_t* length)
{
    const uint8_t* nul = bytes.empty() ? nullptr : (const uint8_t*)memchr(bytes.data(), 0, bytes.size());
    *length = (uint32_t)(nul ? nul - bytes.data() : bytes.size());
    BlockHandle h = BlockAlloc(*length + 1, true);
    if (h) {
        uint8_t* p = (uint8_t*)BlockLock(h);
        if (*length)
            memcpy(p, bytes.data(), *length);
        BlockUnlock(h);
    }
    return h;
}

void TakeReceived(TransferOutcome& out)
{
    TransferState& t = transferState;
    if (t.hBlock && t.direction == 0 && t.bytesDone) {
        const uint8_t* p = (const uint8_t*)BlockLock(t.hBlock);
        out.received.assign(p, p + t.bytesDone);
        BlockUnlock(t.hBlock);
    }
    if (t.hBlock)
        BlockFree(t.hBlock);
    t.hBlock = nullptr;
}

}

TransferOutcome RunTransfer(const TransferRequest& request)
{
    TransferOutcome out;
    ResetTransferState();
    loop = Loop{};
    portParams = request.params;
    TransferState& t = transferState;
    t.hPort = KIV_INVALID_HANDLE;
    t.direction = request.sending ? 1 : 0;
    if (request.sending) {
        uint32_t length = 0;
        t.hBlock = BlockOf(request.block, &length);
        if (!t.hBlock) {
            out.resultCode = RC_NO_MEMORY;
            return out;
        }
        t.blockSize = t.totalBytes = length;
    }
    // In place before the port's settings change, so that no signal can end
    // kiv with the port left as the transfer set it.
    int signalFd = InstallCancelSignals();
    PortOpenError openError;
    loop.fd = OpenSerialPort(request.portPath.c_str(), portParams.line, &openError, &out.sysError);
    if (loop.fd < 0) {
        RemoveCancelSignals();
        out.openError = openError;
        out.resultCode = RC_PORT_UNAVAILABLE;
        TakeReceived(out);
        return out;
    }
    TraceLines("dtr=1 rts=1");
    InstallLoopPlatform();
    t.hPort = PortHandle(loop.fd);
    t.active = 1;
    ProgressStart(request.progress);
    // A cable send hears nothing from the handheld; everything else waits for it.
    if (!request.sending || portParams.linkKind == LINK_IR) {
        ProgressAwait(request.portPath);
        if (request.waitLimitMs)
            loop.waitDueMs = NowMs() + request.waitLimitMs;
    }
    StartEngine();
    TraceEngineState();
    while (!loop.closeRequested) {
        Step(signalFd);
        CheckLineLost();
        TraceEngineState();
    }
    OnStatusDialogClosing();   // stops the engine and closes the port through the table
    TraceEngineState();
    // Signals from here on wait until the job has saved what it received:
    // one the loop read too late to cancel, and those still on the pipe,
    // which came while the port closed, join them.
    HoldTerminationSignals();
    if (loop.heldSignal)
        raise(loop.heldSignal);
    for (int late; (late = TakeCancelSignal(signalFd)) != 0;)
        raise(late);
    RemoveCancelSignals();
    ProgressShow(true);
    out.resultCode = t.resultCode;
    out.signal = t.resultCode == RC_CANCELLED ? loop.signal : 0;
    out.lineLost = loop.lineLost;
    out.bytesDone = t.bytesDone;
    TakeReceived(out);
    return out;
}
