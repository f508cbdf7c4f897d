// The engine's entry points: a transfer starts on the framed IR protocol or
// as a raw stream, and each comm event the reader forwards is handed to the
// one that runs. Every way a transfer ends comes through here as a request
// to the status dialog to close.
#include "engine_util.h"

int32_t closeSent;

void Deactivate(void) { transferState.active = 0; }

void RequestDialogClose(void)
{
    closeSent = 1;
    linkPlatform.sendClose();
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
    RequestDialogClose();
}

// Runs the frame parser and the state machine over every queued frame; false
// when a step failed and the transfer has been ended.
static bool DispatchQueuedFrames(void)
{
    while (ReadFrame()) {
        if (!DispatchFrame()) {
            StopLink();
            RequestDialogClose();
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
            RequestDialogClose();
            return;
        }
        transferState.notifyMask = LINK_EV_RXCHAR;
        if (!DispatchQueuedFrames())
            return;
    }
    if (s & LINE_INPUT_WAITING)
        DispatchQueuedFrames();
}

static void OnRawSendEvent(uint32_t s)
{
    TransferState& t = transferState;
    if (s & LINE_CAN_SEND) {
        t.retryCount = 0;
        if (!SendChunk()) {
            AbortTransfer();
            return;
        }
        ArmTimer(RAW_DEADLINE_MS);
    }
    if ((s & LINE_INPUT_WAITING) && !PortClosed()) {
        // The handheld talks while it should listen: the stream is not trusted.
        linkPlatform.purgePort(t.hPort, LINK_PURGE_TXCLEAR | LINK_PURGE_RXCLEAR);
        SetResultCode(RC_LINE_ERROR);
        Deactivate();
        RequestDialogClose();
    }
}

static void OnRawReceiveEvent(uint32_t s)
{
    TransferState& t = transferState;
    if (!(s & LINE_INPUT_WAITING))
        return;
    t.retryCount = 0;
    if (!ReceiveChunk())
        AbortTransfer();
    else if (t.active)
        ArmTimer(RAW_DEADLINE_MS);
}

void OnCommEvent(void)
{
    if (!transferState.active || PortClosed())
        return;
    if (portParams.linkKind == LINK_IR)
        OnIrEvent();
    else if (transferState.direction == 1)
        OnRawSendEvent(GetLineStatus());
    else
        OnRawReceiveEvent(GetLineStatus());
}
