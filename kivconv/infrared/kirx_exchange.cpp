// Infrared text exchange entry point. Not built yet: fails safely.
#include <windows.h>

extern "C" LONG WINAPI KIRX_IrDA(HWND owner, char* text, short direction, short port) { return 0; }
