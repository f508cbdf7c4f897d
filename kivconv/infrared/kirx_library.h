// The device communication library KIRX.dll, loaded by name for one exchange
// (never from the current directory: desktop/outside_library.h).
#pragma once
#include <windows.h>

typedef int(__cdecl* KirxSetModeFn)(int mode);
typedef int(__cdecl* KirxSetPortFn)(int mode, int port);
typedef int(__cdecl* KirxSetBaudExFn)(int mode, long baud);
typedef int(__cdecl* KirxAppTextFn)(char* text, int size, HWND statusWindow);

struct KirxLibrary {
    HMODULE module;
    KirxSetModeFn setMode;
    KirxSetPortFn setPort;
    KirxAppTextFn appTextRecv;
    KirxAppTextFn appTextSend;
    KirxSetBaudExFn setBaudEx;
};

// True when the library is loaded and has all five functions; a library
// lacking one is released again at once.
bool LoadKirx(KirxLibrary* kirx);
void ReleaseKirx(KirxLibrary* kirx);
