// The status dialog's side of a transfer, kept portable so the Win32 dialog
// and the simulated handheld's harness run the same steps: start the engine,
// take comm notifications, the cancel button and close requests.
#include "engine_util.h"

void StartEngine(void)
{
    closeSent = 0;
    sendBusy = 0;
    lineErrors = 0;
    if (transferState.direction == 1)
        StartSend();
    else
        StartReceive();
}

bool OnStatusCommNotify(uint32_t lParam)
{
    if (!transferState.active)
        return false;
    if ((lParam & 0xFFFF) & LINK_CN_EVENT)
        OnCommEvent();
    return true;
}

// A raw send that has queued its last chunk waits for the port to send it
// (and on IrDA for the link to confirm); the user must still be able to give
// up on it.
static bool AwaitingRawSendEnd(void)
{
    return transferState.direction == 1 && portParams.linkKind != LINK_IR;
}

bool OnStatusCancel(void)
{
    if (closeSent)
        return false;
    if (!transferState.active && !AwaitingRawSendEnd())
        return false;
    AbortTransfer();
    return true;
}

void OnStatusDialogClosing(void)
{
    if (!closeSent) {
        // Not the engine's own request (Alt+F4, the task list): the transfer
        // did not finish, so it must not report success.
        SetResultCode(RC_CANCELLED);
        if (portParams.linkKind == LINK_IR)
            StopLink();
        else
            Deactivate();
        closeSent = 1;
    }
    KillLinkTimer();
    linkPlatform.closePort();
}
