// The raw byte stream of the cable and IrDA link kinds, and the engine's
// entry points that choose between it and the framed IR protocol. A raw send
// writes the block as it is in chunks, driven by the link timer's polls and
// EV_TXEMPTY; a raw receive collects bytes on EV_RXCHAR until the first 0x1A.
// Nothing here waits on the port.
#include <cstring>
#include "engine_util.h"
#include "memblock.h"

int32_t sendBusy;
int32_t closeSent;
uint32_t lineErrors;

void Deactivate(void) { transferState.active = 0; }

void SendCloseRequest(void)
{
    closeSent = 1;
    linkPlatform.sendClose();
}

uint32_t GetLineStatus(void)
{
    KivHandle port = transferState.hPort;
    if (port == KIV_INVALID_HANDLE)
        return 0;
    PortStatus st;
    if (!QueryPort(&st))
        return 0;
    const LineSettings& line = portParams.line;
    bool held = (line.ctsFlow && st.ctsHold) || (line.xonXoff && st.xoffHold);
    uint32_t s = (st.outQueue == 0 && !held) ? (uint32_t)LINE_CAN_SEND : 0u;
    if (st.inQueue)
        s |= LINE_INPUT_WAITING;
    return s;
}

// A transfer starts on the IR protocol, or as a raw stream that waits for
// the comm event of its direction under a six-minute deadline.
static void StartLink(void (*startIr)(void), uint32_t rawEvent)
{
    if (PortClosed())
        return;
    transferState.retryCount = 0;
    if (portParams.linkKind == LINK_IR) {
        startIr();
        return;
    }
    transferState.notifyMask = rawEvent;
    ArmTimer(RAW_DEADLINE_MS);   // a send's first ticks start the stream
}

void StartSend(void) { StartLink(StartIrSend, LINK_EV_TXEMPTY); }
void StartReceive(void) { StartLink(StartIrReceive, LINK_EV_RXCHAR); }

void AbortTransfer(void)
{
    SetResultCode(RC_CANCELLED);
    if (portParams.linkKind == LINK_IR)
        StopLink();
    else
        Deactivate();
    SendCloseRequest();
}

// Runs the frame parser and the state machine over every queued frame; false
// when a step failed and the transfer has been ended.
static bool DispatchQueuedFrames(void)
{
    while (ReadFrame()) {
        if (!DispatchFrame()) {
            StopLink();
            SendCloseRequest();
            return false;
        }
    }
    return true;
}

static void OnIrEvent(void)
{
    uint32_t s = GetLineStatus();
    if (s & LINE_CAN_SEND) {
        if (finished) {
            // The receiver's last ACK has left the port.
            StopLink();
            SendCloseRequest();
            return;
        }
        transferState.notifyMask = LINK_EV_RXCHAR;
        if (!DispatchQueuedFrames())
            return;
    }
    if (s & LINE_INPUT_WAITING)
        DispatchQueuedFrames();
}

void OnCommEvent(void)
{
    TransferState& t = transferState;
    if (!t.active || PortClosed())
        return;
    if (portParams.linkKind == LINK_IR) {
        OnIrEvent();
        return;
    }
    uint32_t s = GetLineStatus();
    if (t.direction == 1) {
        if (s & LINE_CAN_SEND) {
            t.retryCount = 0;
            if (!SendChunk()) {
                AbortTransfer();
                return;
            }
            ArmTimer(RAW_DEADLINE_MS);
        }
        if ((s & LINE_INPUT_WAITING) && !PortClosed()) {
            linkPlatform.purgePort(t.hPort, LINK_PURGE_TXCLEAR | LINK_PURGE_RXCLEAR);
            SetResultCode(RC_LINE_ERROR);
            Deactivate();
            SendCloseRequest();
        }
        return;
    }
    if (s & LINE_INPUT_WAITING) {
        t.retryCount = 0;
        if (!ReceiveChunk())
            AbortTransfer();
        else if (t.active)
            ArmTimer(RAW_DEADLINE_MS);
    }
}

// One chunk of a raw send; 0 when the transfer must end (resultCode says why).
static int WriteNextChunk(void)
{
    TransferState& t = transferState;
    bool irda = portParams.linkKind == LINK_IRDA;
    if (t.bytesDone) {
        t.progressBytes = t.bytesDone;
        linkPlatform.repaintProgress();
    }
    if (t.bytesDone == t.blockSize) {
        Deactivate();   // all queued: the link timer finishes the send
        return 1;
    }
    uint32_t limit = irda ? 1024 : 512;
    uint32_t rest = t.blockSize - t.bytesDone;
    uint32_t n = rest > limit ? limit : rest;
    if (rest <= limit && t.bytesDone == 0 && rest > 2)
        n = rest - 1;   // a block of one chunk goes out as two writes, the last byte alone

    const uint8_t* data = (const uint8_t*)BlockLock(t.hBlock);
    if (!data) {
        SetResultCode(RC_NO_MEMORY);
        return 0;
    }
    int32_t written = linkPlatform.writePort(t.hPort, data + t.bytesDone, n);
    BlockUnlock(t.hBlock);
    if (written == -1) {
        if (!irda) {
            PortStatus st;
            QueryPort(&st);
            SetResultCode(RC_LINE_ERROR);
            return 0;
        }
        return 1;   // IrDA: the same bytes again at the next step
    }
    t.bytesDone += n;
    t.retryCount = 0;
    if (irda && t.bytesDone == t.blockSize) {
        Deactivate();
        t.progressBytes = t.bytesDone;
        linkPlatform.repaintProgress();
    }
    return 1;
}

int SendChunk(void)
{
    if (PortClosed() || sendBusy)
        return 1;
    sendBusy = 1;
    int ok = WriteNextChunk();
    sendBusy = 0;
    return ok;
}

// Makes room for n more bytes and the NUL behind them, 512 bytes at a time.
static int GrowReceiveBlock(uint32_t n)
{
    TransferState& t = transferState;
    if (t.bytesDone + n < t.blockSize)
        return 1;
    linkPlatform.repaintProgress();
    // The counts are 32-bit: a 64-bit process could otherwise grow the block
    // until its size wrapped round.
    BlockHandle grown = nullptr;
    if (t.blockSize <= UINT32_MAX - 512)
        grown = t.hBlock ? BlockRealloc(t.hBlock, t.blockSize + 512) : BlockAlloc(512, false);
    if (!grown) {
        SetResultCode(RC_NO_MEMORY);   // the old block stays for the export to free
        return 0;
    }
    t.hBlock = grown;
    t.blockSize += 512;
    return t.resultCode == 0;
}

int ReceiveChunk(void)
{
    TransferState& t = transferState;
    if (PortClosed())
        return 1;
    if (!t.active) {
        linkPlatform.purgePort(t.hPort, LINK_PURGE_TXCLEAR | LINK_PURGE_RXCLEAR);
        return 1;
    }
    uint8_t buffer[512];
    int32_t got = linkPlatform.readPort(t.hPort, buffer, 511);
    uint32_t n = got > 0 ? (uint32_t)got : 0;
    PortStatus st;
    QueryPort(&st);
    if (lineErrors) {
        SetResultCode(RC_LINE_ERROR);   // the bytes just read are not trusted
        return 0;
    }
    const uint8_t* mark = (const uint8_t*)memchr(buffer, EOF_MARK, n);
    if (mark)
        n = (uint32_t)(mark - buffer) + 1;   // what follows the end mark is not ours
    if (n == 0)
        return 1;
    if (!GrowReceiveBlock(n))
        return 0;
    uint8_t* block = (uint8_t*)BlockLock(t.hBlock);
    if (!block) {
        SetResultCode(RC_NO_MEMORY);
        return 0;
    }
    memcpy(block + t.bytesDone, buffer, n);
    block[t.bytesDone + n] = 0;
    t.bytesDone += n;
    t.progressBytes = t.bytesDone;
    BlockUnlock(t.hBlock);
    if (buffer[n - 1] == EOF_MARK) {
        Deactivate();
        SendCloseRequest();
    }
    return 1;
}
