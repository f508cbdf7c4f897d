// The DISPSTATUS dialog: the home of a transfer. Its message loop runs every
// engine step (the reader's WM_COMMNOTIFY, the link timer's ticks, the
// cancel button), and its WM_CLOSE is the one way a transfer ends.
#include "driver/status_dialog.h"
#include "link_engine.h"

namespace {

void StartTransfer(HWND dlg)
{
    hStatusDlg = dlg;
    CentreWindow(dlg);
    transferState.active = 1;
    SubclassProgressPane(GetDlgItem(dlg, IDC_PROGRESS_PANE));
    SetThreadPriority(transferState.readerThread, THREAD_PRIORITY_BELOW_NORMAL);
    RepaintProgress();
    StartEngine();
    ResumeThread(transferState.readerThread);
}

// WM_CLOSE: the engine stops and the port closes, then the dialog ends.
void CloseStatusDialog(HWND dlg)
{
    // The reader may be blocked in the WM_COMMNOTIFY whose handling brought
    // us here; let it go before ClosePort waits for it to end.
    if ((InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) == ISMEX_SEND)
        ReplyMessage(0);
    OnStatusDialogClosing();
    EndDialog(dlg, 0);
    hStatusDlg = nullptr;
}

INT_PTR CALLBACK StatusDlgProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_INITDIALOG: StartTransfer(dlg); return TRUE;
    case WM_COMMNOTIFY: return OnStatusCommNotify(static_cast<uint32_t>(lp));
    case WM_COMMAND:
        if (LOWORD(wp) == IDCANCEL)
            return OnStatusCancel();
        return LOWORD(wp) == IDOK;   // Enter neither ends nor cancels a transfer
    case WM_CLOSE:
        if (hStatusDlg == dlg)   // a second close while this one runs does nothing
            CloseStatusDialog(dlg);
        return TRUE;
    default: return FALSE;
    }
}

}

bool RunStatusDialog(HWND owner)
{
    INT_PTR r = DialogBoxParamW(hInstance, L"DispStatus", owner, StatusDlgProc, 0);
    hStatusDlg = nullptr;
    return r != -1;
}
