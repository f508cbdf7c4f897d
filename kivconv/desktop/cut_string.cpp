// cutstr: a text cut to a byte length for the handheld's fixed-width fields,
// never splitting a double-byte character, optionally padded to that length.
#include "kcsv/leadbyte.h"
#include <windows.h>
#include <oleauto.h>
#include <cstdlib>
#include <cstring>

// The result is a BSTR of raw code page 932 bytes; the macro code takes its
// bytes as they are.
extern "C" BSTR WINAPI cutstr(const char* text, int length, int fill)
{
    if (length < 0)
        return SysAllocStringByteLen("", 0);
    char* buf = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
    if (!buf)
        return SysAllocStringByteLen("", 0);
    if (!text)
        text = "";

    const char fillByte = static_cast<char>(fill & 0xFF);
    bool filling = false;
    for (int i = 0; i < length; i++) {
        if (filling) {
            buf[i] = fillByte;
            continue;
        }
        buf[i] = text[i];
        if (IsLeadByte932(static_cast<unsigned char>(text[i]))) {
            if (i + 1 < length) {
                i++;
                buf[i] = text[i];   // the trail byte, or the text's end
            } else {
                buf[i] = 0;   // the character does not fit: it goes
            }
        }
        // The text has ended, or its last character was cut: pad from here.
        if (buf[i] == 0) {
            buf[i] = fillByte;
            filling = true;
        }
    }
    buf[length] = 0;

    BSTR result = SysAllocStringByteLen(buf, static_cast<UINT>(strlen(buf)));
    free(buf);
    // A 64-bit process has room for the work buffer of any length, but a
    // result too long for a BSTR is empty too, never a null string.
    return result ? result : SysAllocStringByteLen("", 0);
}
