// Libraries from outside the system (the device library KIRX.dll, the
// application's KivDesk.dll), loaded by their fixed names from the folders
// the system searches for a program's libraries, but never from the current
// directory: the application runs in the folder of the open database, often
// a shared one, where anyone could leave a library of that name.
#pragma once
#include <windows.h>

// In order: the application's folder, the folder set with SetDllDirectory,
// the system folder, the 16-bit system folder, the Windows folder, then the
// absolute folders on PATH. The first file found there is loaded by its full
// path; null when there is none or it cannot be loaded. name is one of the
// fixed names above, never a path.
HMODULE LoadOutsideLibrary(const char* name);
