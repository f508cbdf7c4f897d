// SaveOleBitmap: the picture on the clipboard (typically copied from an OLE
// object in the application) saved as a bitmap file.
#include "dib_file_header.h"
#include <windows.h>
#include <cstdio>

// 1 when the file was written; 0 when the clipboard holds no device-independent
// bitmap or the file cannot be created. The clipboard is always closed again.
extern "C" BOOLEAN WINAPI SaveOleBitmap(HWND hwnd, const char* path)
{
    if (!OpenClipboard(hwnd))
        return 0;
    BOOLEAN written = 0;
    HANDLE dib = GetClipboardData(CF_DIB);
    if (dib) {
        size_t size = GlobalSize(dib);
        const unsigned char* block = static_cast<const unsigned char*>(GlobalLock(dib));
        if (block) {
            unsigned char header[kDibFileHeaderSize];
            BuildDibFileHeader(block, size, header);
            FILE* f = path ? fopen(path, "wb") : nullptr;
            if (f) {
                bool ok = fwrite(header, 1, sizeof header, f) == sizeof header &&
                          fwrite(block, 1, size, f) == size;
                written = (fclose(f) == 0 && ok) ? 1 : 0;
            }
            GlobalUnlock(dib);
        }
    }
    CloseClipboard();
    return written;
}
