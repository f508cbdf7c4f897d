// The handheld's framed block protocol on the IR link kind. The block goes
// out in numbered pieces of up to 512 bytes, each announced with ENQ, cleared
// with SYN, sent as a data frame with a 16-bit sum and answered with ACK or
// NAK; the last piece is numbered 0xFFFF. The parser keeps its place between
// calls so a frame may arrive in any number of pieces; deadlines run on the
// link timer.
#include <cstring>
#include "engine_util.h"
#include "memblock.h"

int32_t LinkState;
TxPacketRecord TxPacket;
RxFrameRecord RxFrame;
uint16_t expectedBlock;
uint8_t parseStep;
uint16_t rxIndex;
uint16_t enqCount;
uint16_t enqLimit;
int32_t rxWaitMs;
int32_t finished;

enum { PREAMBLE_LEN = 5, CONTROL_FRAME_LEN = 8, DATA_FRAME_OVERHEAD = 17 };

uint16_t Checksum16(const uint8_t* data, uint32_t n)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < n; i++)
        sum += data[i];
    return (uint16_t)sum;
}

// Frames are written from storage of their own: a pending write goes on
// reading its frame after writePort has returned. The port keeps one write
// in flight, so two frames used in turn suffice: the next frame is built in
// the one whose write has completed, since the write after it could only
// start once that one was done.
static uint8_t frameStore[2][IR_BLOCK_MAX + DATA_FRAME_OVERHEAD];
static int nextFrame;

static uint8_t* FreeFrame(void) { return frameStore[nextFrame]; }

static void WriteFrame(uint32_t n)
{
    KivHandle port = transferState.hPort;
    if (port == KIV_INVALID_HANDLE)
        return;
    transferState.notifyMask = LINK_EV_TXEMPTY;
    linkPlatform.writePort(port, frameStore[nextFrame], n);
    nextFrame ^= 1;
}

void SendControl(uint8_t code)
{
    static const uint8_t head[CONTROL_FRAME_LEN - 1] = {0, 0, 0, 0, 0, FRAME_MARK, FT_CONTROL};
    uint8_t* frame = FreeFrame();
    memcpy(frame, head, sizeof head);
    frame[CONTROL_FRAME_LEN - 1] = code;
    WriteFrame(CONTROL_FRAME_LEN);
}

void SendDataFrame(void)
{
    static const uint8_t head[8] = {0, 0, 0, 0, 0, FRAME_MARK, FT_DATA, 0x10};
    uint8_t* frame = FreeFrame();
    uint16_t n = TxPacket.length;
    memcpy(frame, head, sizeof head);
    frame[8] = (uint8_t)TxPacket.blockNo;
    frame[9] = (uint8_t)(TxPacket.blockNo >> 8);
    frame[10] = 0x01;
    frame[11] = 0x40;
    frame[12] = 0xFE;
    frame[13] = (uint8_t)n;
    frame[14] = (uint8_t)(n >> 8);
    memcpy(frame + 15, TxPacket.data, n);
    frame[15 + n] = (uint8_t)TxPacket.checksum;
    frame[16 + n] = (uint8_t)(TxPacket.checksum >> 8);
    if (!PortClosed())
        linkPlatform.purgePort(transferState.hPort, LINK_PURGE_RXABORT);
    WriteFrame(n + DATA_FRAME_OVERHEAD);
}

int FillNextBlock(void)
{
    TransferState& t = transferState;
    uint32_t rest = t.blockSize - t.bytesDone;
    uint16_t n;
    if (rest > IR_BLOCK_MAX) {
        n = IR_BLOCK_MAX;
        TxPacket.blockNo++;
    } else {
        n = (uint16_t)rest;
        TxPacket.blockNo = IR_LAST_BLOCK;
    }
    if (n) {
        const uint8_t* data = (const uint8_t*)BlockLock(t.hBlock);
        if (!data) {
            SetResultCode(RC_NO_MEMORY);
            return 0;
        }
        memcpy(TxPacket.data, data + t.bytesDone, n);
        BlockUnlock(t.hBlock);
    }
    TxPacket.length = n;
    TxPacket.checksum = Checksum16(TxPacket.data, n);
    if (t.bytesDone) {
        t.progressBytes = t.bytesDone;
        linkPlatform.repaintProgress();
    }
    t.bytesDone += n;
    return 1;
}

int AppendReceived(const uint8_t* data, uint32_t n)
{
    if (n == 0)
        return 1;
    if (!StoreReceived(data, n, 1))
        return 0;
    linkPlatform.repaintProgress();
    return 1;
}

void StopLink(void)
{
    parseStep = 0;
    enqCount = 0;
    LinkState = IDLE;
    transferState.active = 0;
    if (!PortClosed())
        linkPlatform.purgePort(transferState.hPort, LINK_PURGE_TXABORT | LINK_PURGE_RXABORT);
    KillLinkTimer();
}

// What both roles start from: no retries, no ENQ counted, no frame half
// parsed, nothing finished. Each role prepares the IR line itself.
static void StartIrRole(int32_t state)
{
    transferState.retryCount = 0;
    enqCount = 0;
    parseStep = 0;
    finished = 0;
    LinkState = state;
}

void StartIrSend(void)
{
    TransferState& t = transferState;
    StartIrRole(TX_WAIT_SYN);
    enqLimit = 360;
    linkPlatform.purgePort(t.hPort, LINK_PURGE_RXABORT);
    linkPlatform.prepareIrLine(t.hPort);
    TxPacket.blockNo = 0;
    // Past 65534 full blocks a full block would carry the last block's number.
    if (t.blockSize > IR_MAX_TRANSFER)
        SetResultCode(RC_NO_MEMORY);
    if (t.resultCode || !FillNextBlock()) {
        StopLink();
        RequestDialogClose();
        return;
    }
    ArmTimer(1000);   // the first ENQ goes out when this expires
    t.notifyMask = LINK_EV_RXCHAR;
}

void StartIrReceive(void)
{
    StartIrRole(RX_WAIT_ENQ);
    rxWaitMs = 360000;
    expectedBlock = 1;
    linkPlatform.prepareIrLine(transferState.hPort);
    ArmTimer(360000);
    transferState.notifyMask = LINK_EV_RXCHAR;
}

// One byte of the frame parser; true when it completed a frame.
static bool ParseByte(uint8_t b)
{
    RxFrameRecord& f = RxFrame;
    switch (parseStep) {
    case 0:
    case 1: parseStep = b == 0 ? parseStep + 1 : 0; break;
    case 2:
        if (b == FRAME_MARK)
            parseStep = 3;
        else if (b != 0)
            parseStep = 0;
        break;
    case 3:
        f.type = b;
        parseStep = 4;
        break;
    case 4:
        f.code = b;
        if (f.type == FT_CONTROL) {
            parseStep = 0;
            return true;
        }
        parseStep = 5;
        ArmTimer(5000);   // the rest of a data frame must follow within 5 s
        break;
    case 5:
        f.blockNo = b;
        parseStep = 6;
        break;
    case 6:
        f.blockNo = (uint16_t)(f.blockNo + b * 256);
        parseStep = 7;
        break;
    case 7:
    case 8:
    case 9:
        f.header[parseStep - 7] = b;
        parseStep++;
        break;
    case 10:
        f.length = b;
        parseStep = 11;
        break;
    case 11:
        f.length = (uint16_t)(f.length + b * 256);
        rxIndex = 0;
        if (f.length > IR_BLOCK_MAX)
            parseStep = 0;   // not a frame of ours: look for the next preamble
        else
            parseStep = f.length == 0 ? 13 : 12;
        break;
    case 12:
        f.data[rxIndex++] = b;
        if (rxIndex == f.length)
            parseStep = 13;
        break;
    case 13:
        f.checksum = b;
        parseStep = 14;
        break;
    case 14:
        f.checksum = (uint16_t)(f.checksum + b * 256);
        parseStep = 0;
        return true;
    default: parseStep = 0; break;
    }
    return false;
}

int ReadFrame(void)
{
    for (;;) {
        KivHandle port = transferState.hPort;
        if (port == KIV_INVALID_HANDLE)
            return 0;
        uint8_t b;
        if (linkPlatform.readPort(port, &b, 1) != 1)
            return 0;
        if (ParseByte(b))
            return 1;
    }
}

static bool IsControl(uint8_t code) { return RxFrame.type == FT_CONTROL && RxFrame.code == code; }

static int DispatchSenderFrame(void)
{
    if (LinkState == TX_WAIT_SYN) {
        if (IsControl(SYN)) {
            enqCount = 0;
            SendDataFrame();
            LinkState = TX_WAIT_ACK;
            ArmTimer(5000);
            return 1;
        }
        if (IsControl(CAN)) {
            SetResultCode(RC_CANCELLED);
            return 0;
        }
        ArmTimer(1000);
        return 1;
    }
    if (RxFrame.type != FT_CONTROL) {
        ArmTimer(2000);
        return 1;
    }
    if (RxFrame.code != ACK)
        return HandleTimeout();   // a refusal counts as a lost frame, at once
    transferState.retryCount = 0;
    LinkState = TX_WAIT_SYN;
    if (TxPacket.blockNo == IR_LAST_BLOCK) {
        StopLink();
        RequestDialogClose();
        return 1;
    }
    if (!FillNextBlock())
        return 0;
    ArmTimer(100);
    return 1;
}

// A data frame with a good sum, by its number against the one expected.
static int AcceptDataFrame(void)
{
    TransferState& t = transferState;
    uint16_t no = RxFrame.blockNo;
    KillLinkTimer();
    if (no != IR_LAST_BLOCK && no > expectedBlock) {
        SendControl(NAK);   // a block went missing: have it sent again
        LinkState = RX_WAIT_ENQ;
        rxWaitMs = 10000;
        ArmTimer(10000);
        return 1;
    }
    if (no == IR_LAST_BLOCK) {
        SendControl(ACK);
        int ok = AppendReceived(RxFrame.data, RxFrame.length);
        finished = 1;
        ArmTimer(2000);
        return ok;
    }
    SendControl(ACK);
    if (no == expectedBlock) {
        expectedBlock++;
        t.retryCount = 0;
        if (!AppendReceived(RxFrame.data, RxFrame.length))
            return 0;
    }
    LinkState = RX_WAIT_ENQ;   // a repeat is acknowledged and not appended
    rxWaitMs = 360000;
    ArmTimer(360000);
    return 1;
}

static int DispatchReceiverFrame(void)
{
    if (LinkState == RX_WAIT_ENQ) {
        if (IsControl(ENQ)) {
            SendControl(SYN);
            LinkState = RX_WAIT_DATA;   // the running deadline stays
        } else {
            ArmTimer((uint32_t)rxWaitMs);
        }
        return 1;
    }
    if (RxFrame.type != FT_DATA) {
        ArmTimer(400);
        return 1;
    }
    if (RxFrame.checksum != Checksum16(RxFrame.data, RxFrame.length)) {
        SendControl(NAK);
        return HandleTimeout();
    }
    return AcceptDataFrame();
}

int DispatchFrame(void)
{
    if (finished)
        return 1;
    switch (LinkState) {
    case TX_WAIT_SYN:
    case TX_WAIT_ACK: return DispatchSenderFrame();
    case RX_WAIT_ENQ:
    case RX_WAIT_DATA: return DispatchReceiverFrame();
    default: return 1;
    }
}

int HandleTimeout(void)
{
    TransferState& t = transferState;
    if (!PortClosed()) {
        PortStatus st;
        QueryPort(&st);
    }
    t.notifyMask = LINK_EV_RXCHAR;
    if (ReadFrame())
        return DispatchFrame();   // a frame that arrived just now beats the deadline
    switch (LinkState) {
    case TX_WAIT_SYN:
        if (++enqCount == enqLimit) {
            enqCount = 0;
            SetResultCode(RC_RETRY_FAILED);
            return 0;
        }
        SendControl(ENQ);
        ArmTimer(1000);
        return 1;
    case TX_WAIT_ACK:
        enqCount = 0;
        if (++t.retryCount >= 3) {
            SetResultCode(RC_RETRY_FAILED);
            return 0;
        }
        LinkState = TX_WAIT_SYN;
        ArmTimer(100);
        return 1;
    case RX_WAIT_ENQ: SetResultCode(RC_TIMEOUT); return 0;
    case RX_WAIT_DATA:
        if (++t.retryCount >= 3) {
            SetResultCode(RC_RETRY_FAILED);
            return 0;
        }
        LinkState = RX_WAIT_ENQ;
        rxWaitMs = 10000;
        ArmTimer(10000);
        return 1;
    default: return 1;
    }
}
