// The one link timer. It carries every deadline of both transfer methods and
// polls the port while a raw send runs: long deadlines are counted down in
// ticks (1000 ms, or 100 ms while sending raw), so a single periodic timer
// serves the deadline and the polling alike.
#include "link_engine.h"
#include "engine_util.h"

uint32_t timerId;
uint32_t tickMs;
uint32_t remainingMs;

void ArmTimer(uint32_t deadlineMs)
{
    tickMs = 1000;
    if (transferState.direction == 1 && portParams.linkKind != LINK_IR)
        tickMs = 100;
    KillLinkTimer();
    uint32_t period = deadlineMs;
    remainingMs = 0;
    if (deadlineMs > tickMs) {
        period = tickMs;
        remainingMs = deadlineMs - tickMs;
    }
    timerId = linkPlatform.setTimer(period);
    if (!timerId)
        linkPlatform.timerFailed();   // the transfer goes on; cancel still ends it
}

void KillLinkTimer(void)
{
    if (timerId)
        linkPlatform.killTimer(timerId);
    timerId = 0;
}

// Counts the running deadline down by one tick; true when it has expired.
static bool DeadlineExpired(void)
{
    if (!remainingMs)
        return true;
    if (remainingMs > tickMs)
        remainingMs -= tickMs;
    else
        ArmTimer(remainingMs);   // the last, shorter period
    return false;
}

// After a raw send has queued its last byte it ends once the port has sent
// everything: the output queue empty and, on IrDA, the output held by CTS,
// which is how the link confirms. The wait runs on the ticks under the
// send's deadline and never blocks the dialog's thread, so a line held with
// bytes queued leaves Cancel working and ends with a time-out at the latest.
static void FinishRawSend(const PortStatus& st)
{
    bool sent = st.outQueue == 0;
    if (portParams.linkKind == LINK_IRDA)
        sent = sent && st.ctsHold;
    if (sent) {
        Deactivate();
        RequestDialogClose();
        return;
    }
    if (DeadlineExpired()) {
        SetResultCode(RC_TIMEOUT);
        RequestDialogClose();
    }
}

// Polls the port between deadlines where comm events alone do not drive the
// transfer: raw sends on both link kinds and IrDA receives.
static void PollPort(const PortStatus& st)
{
    TransferState& t = transferState;
    KivHandle port = t.hPort;
    bool sending = t.direction == 1;
    if (portParams.linkKind == LINK_CABLE && sending) {
        if (GetLineStatus() & LINE_CAN_SEND)
            linkPlatform.sendCommNotify();
    } else if (portParams.linkKind == LINK_IRDA && sending) {
        if (st.outQueue == 0) {
            if (!st.ctsHold) {
                linkPlatform.sendCommNotify();
                return;
            }
            if (t.bytesDone == 0) {
                // The IrDA link holds the output until it has a partner: nudge it.
                linkPlatform.purgePort(port, LINK_PURGE_TXABORT | LINK_PURGE_TXCLEAR);
                if (st.errors == 0) {
                    static const uint8_t nul = 0;
                    linkPlatform.writePort(port, &nul, 1);
                }
            }
        }
        if (t.bytesDone && st.ctsHold && t.active) {
            SetResultCode(RC_LINE_ERROR);
            Deactivate();
            RequestDialogClose();
        }
    } else if (portParams.linkKind == LINK_IRDA && !sending) {
        if (st.inQueue)
            linkPlatform.sendCommNotify();
    }
}

void LinkTimerProc(void)
{
    TransferState& t = transferState;
    KivHandle port = t.hPort;
    if (port == KIV_INVALID_HANDLE)
        return;
    PortStatus st;
    QueryPort(&st);
    bool raw = portParams.linkKind != LINK_IR;
    bool sending = t.direction == 1;

    if (raw && sending && st.inQueue) {
        // The handheld talks while it should listen: the stream is not trusted.
        linkPlatform.purgePort(port, LINK_PURGE_TXCLEAR | LINK_PURGE_RXCLEAR);
        SetResultCode(RC_LINE_ERROR);
        Deactivate();
        RequestDialogClose();
        return;
    }
    if (!t.active) {
        if (raw && sending && !closeSent)
            FinishRawSend(st);
        return;
    }
    if (!DeadlineExpired()) {
        PollPort(st);
        return;
    }
    if (!raw) {
        if (finished || !HandleTimeout()) {
            StopLink();
            RequestDialogClose();
        }
        return;
    }
    SetResultCode(RC_TIMEOUT);
    Deactivate();
    RequestDialogClose();
}
