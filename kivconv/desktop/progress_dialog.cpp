// ShowSpDialog / EndSpDialog: a one-line modeless progress note for the
// application's long macro runs. The template belongs to the application's
// own library, KivDesk.dll; this side only shows it and sets its text.
#include <windows.h>
#include <string>
#include "desktop/outside_library.h"

namespace {

const int kTemplateId = 1;
const int kTextControlId = 2;

HMODULE deskLibrary;   // held only inside ShowSpDialog
HWND spDialog;         // the one progress dialog while it exists

// The application's texts are code page 932 whatever the system's code page.
std::wstring From932(const char* text)
{
    if (!text || !*text)
        return std::wstring();
    int n = MultiByteToWideChar(932, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring w(n, L'\0');
    MultiByteToWideChar(932, 0, text, -1, &w[0], n);
    w.resize(n - 1);
    return w;
}

// True when a dialog existed and is gone now. The application may have
// destroyed it already (with its owner, say); then there is nothing to remove.
bool RemoveSpDialog()
{
    HWND dialog = spDialog;
    spDialog = nullptr;
    return dialog && IsWindow(dialog) && DestroyWindow(dialog);
}

}

// 1 when a progress dialog exists after the call, 0 otherwise. A second call
// replaces the dialog by one with the new text.
extern "C" int WINAPI ShowSpDialog(HWND owner, const char* text)
{
    if (!deskLibrary)
        deskLibrary = LoadOutsideLibrary("KivDesk.dll");
    RemoveSpDialog();

    // Without the library the template is sought in the host program, as the
    // system does for a missing module handle. The dialog has no procedure:
    // nothing on it reacts, it only shows the text.
    spDialog = CreateDialogParamW(deskLibrary, MAKEINTRESOURCEW(kTemplateId), owner, nullptr, 0);
    if (spDialog)
        SetDlgItemTextW(spDialog, kTextControlId, From932(text).c_str());

    // The dialog keeps a copy of the template; the library can go.
    if (deskLibrary) {
        FreeLibrary(deskLibrary);
        deskLibrary = nullptr;
    }
    return spDialog ? 1 : 0;
}

// 1 when a progress dialog was removed, 0 when there was none.
extern "C" BOOLEAN WINAPI EndSpDialog(void) { return RemoveSpDialog() ? 1 : 0; }
