// KivPortSetupDialog: the INPUT_PORT dialog over portParams.
#include "port_probe.h"
#include "records/driver_win32.h"
#include "resource.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The controls that only matter on the cable; disabled for IR and IrDA.
static const int kLineControls[] = {
    IDC_SPEED,  IDC_SPEED_LABEL, IDC_PARITY_NONE,  IDC_PARITY_EVEN, IDC_PARITY_ODD, IDC_PARITY_GROUP,
    IDC_DATA_7, IDC_DATA_8,      IDC_LENGTH_GROUP, IDC_STOP_1,      IDC_STOP_2,     IDC_STOP_GROUP,
    IDC_CTS_ON, IDC_CTS_OFF,     IDC_CSMON_GROUP,  IDC_XFLOW_ON,    IDC_XFLOW_OFF,  IDC_XFLOW_GROUP,
};

static void InitDialog(HWND dlg)
{
    const LineSettings& line = portParams.line;
    char text[16];

    HWND port = GetDlgItem(dlg, IDC_PORT_NAME);
    SetWindowTextA(port, portParams.portName);
    for (int n = 1; n <= 8; n++) {
        snprintf(text, sizeof text, "COM%1d", n);
        SendMessageA(port, CB_ADDSTRING, 0, (LPARAM)text);
    }
    SendMessageA(port, CB_SELECTSTRING, (WPARAM)-1, (LPARAM)portParams.portName);

    // "%5d" keeps the sorted list in numeric order.
    HWND speed = GetDlgItem(dlg, IDC_SPEED);
    SetDlgItemInt(dlg, IDC_SPEED, line.baudRate, FALSE);
    for (unsigned baud = 300; baud <= 38400; baud *= 2) {
        snprintf(text, sizeof text, "%5u", baud);
        SendMessageA(speed, CB_ADDSTRING, 0, (LPARAM)text);
    }
    snprintf(text, sizeof text, "%5u", line.baudRate);
    SendMessageA(speed, CB_SELECTSTRING, (WPARAM)-1, (LPARAM)text);

    CheckDlgButton(dlg,
                   line.parity == 'e'   ? IDC_PARITY_EVEN
                   : line.parity == 'o' ? IDC_PARITY_ODD
                                        : IDC_PARITY_NONE,
                   BST_CHECKED);
    CheckDlgButton(dlg, line.dataBits == 8 ? IDC_DATA_8 : IDC_DATA_7, BST_CHECKED);
    CheckDlgButton(dlg, line.twoStopBits ? IDC_STOP_2 : IDC_STOP_1, BST_CHECKED);
    CheckDlgButton(dlg, line.ctsFlow ? IDC_CTS_ON : IDC_CTS_OFF, BST_CHECKED);
    CheckDlgButton(dlg, line.xonXoff ? IDC_XFLOW_ON : IDC_XFLOW_OFF, BST_CHECKED);

    for (int id : kLineControls)
        EnableWindow(GetDlgItem(dlg, id), portParams.linkKind == LINK_CABLE);

    SetWindowTextW(dlg, L"通信条件の設定");
    CentreWindow(dlg);
}

static bool Checked(HWND dlg, int id) { return IsDlgButtonChecked(dlg, id) == BST_CHECKED; }

// An unsigned number after optional blanks; false when there is none.
static bool ReadSpeed(HWND dlg, uint32_t* value)
{
    char text[32];
    GetDlgItemTextA(dlg, IDC_SPEED, text, sizeof text);
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p < '0' || *p > '9')
        return false;
    *value = (uint32_t)strtoul(p, nullptr, 10);
    return true;
}

static void ReadControls(HWND dlg)
{
    LineSettings& line = portParams.line;
    // The whole name: the probe on OK and the way back to PortNo must see the
    // same port, COM10 and above included.
    GetDlgItemTextA(dlg, IDC_PORT_NAME, portParams.portName, sizeof portParams.portName);

    uint32_t baud;
    if (ReadSpeed(dlg, &baud))
        line.baudRate = baud;

    // A group with no button set keeps its field.
    if (Checked(dlg, IDC_PARITY_EVEN))
        line.parity = 'e';
    else if (Checked(dlg, IDC_PARITY_ODD))
        line.parity = 'o';
    else if (Checked(dlg, IDC_PARITY_NONE))
        line.parity = 'n';
    if (Checked(dlg, IDC_DATA_8))
        line.dataBits = 8;
    else if (Checked(dlg, IDC_DATA_7))
        line.dataBits = 7;
    if (Checked(dlg, IDC_STOP_2))
        line.twoStopBits = 1;
    else if (Checked(dlg, IDC_STOP_1))
        line.twoStopBits = 0;
    if (Checked(dlg, IDC_CTS_OFF))
        line.ctsFlow = 0;
    else if (Checked(dlg, IDC_CTS_ON))
        line.ctsFlow = 1;
    if (Checked(dlg, IDC_XFLOW_ON))
        line.xonXoff = 1;
    else if (Checked(dlg, IDC_XFLOW_OFF))
        line.xonXoff = 0;
}

static void OnOk(HWND dlg)
{
    ReadControls(dlg);

    HANDLE h = OpenComDevice(portParams.portName, GENERIC_READ | GENERIC_WRITE);
    if (h != INVALID_HANDLE_VALUE) {
        ConfigurePort(h, &portParams.line);
        CloseHandle(h);
    }

    // The probe tests the name that is kept.
    char name[sizeof portParams.portName];
    memcpy(name, portParams.portName, sizeof name);
    bool wasEmpty = name[0] == '\0';
    if (ProbePort(name)) {
        // An empty box was filled by the probe: hand back the port it found.
        if (wasEmpty)
            memcpy(portParams.portName, name, sizeof name);
        EndDialog(dlg, 1);
    } else {
        MessageBoxW(nullptr, L"指定されたポートは使用できません", nullptr, MB_OK);
    }
}

static INT_PTR CALLBACK InputPortProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG: InitDialog(dlg); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: OnOk(dlg); return TRUE;
        case IDCANCEL: EndDialog(dlg, 0); return TRUE;
        }
        break;
    }
    return FALSE;
}

extern "C" int16_t WINAPI KivPortSetupDialog(PortSetup* setup, HWND owner)
{
    if (setupInProgress || !setup)
        return -1;
    setupInProgress = setup;
    // The dialog shows the stored line settings even in IR mode.
    SetupToParams(setup, false);

    if (!owner)
        owner = GetFocus();
    if (!owner) {
        setupInProgress = nullptr;
        return -1;
    }

    INT_PTR ended = DialogBoxParamW(hInstance, L"INPUT_PORT", owner, InputPortProc, 0);
    // A dialog that could not be created (-1) is no confirmation: the
    // caller's record stays as it was.
    int16_t result = 0;
    if (ended != 0 && ended != -1) {
        ParamsToSetup(setup);
        result = 1;
    }
    setupInProgress = nullptr;
    return result;
}
