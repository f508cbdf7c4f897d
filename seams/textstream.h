// Text-mode streams with the Windows C runtime's rules on every platform:
// reading turns CR LF into LF and stops for good at a 0x1A byte; writing turns
// LF into CR LF. The file itself is a byte file (bytefile.h) translated here,
// so the native build reads and writes exactly what the DLL does, and memory
// files serve as well as files on disk.
#pragma once
#include <cstddef>
#include <cstdio>

struct TextStream;

// Null when the file cannot be opened or memory is short.
TextStream* TextOpenRead(const char* path);
TextStream* TextOpenWrite(const char* path);   // creates or truncates
// Reads from bytes the caller keeps alive until TextClose (tests, fuzzing).
TextStream* TextOpenMemory(const void* data, size_t size);
// False when a write failed or the file could not be finished.
bool TextClose(TextStream* ts);

// Next character (0..255) or EOF. EOF at the end of the input, at a 0x1A byte,
// and on a read error; after that TextEof answers true.
int TextGetc(TextStream* ts);
bool TextEof(const TextStream* ts);

// The unread bytes of a read stream's buffer; a TextStream begins with it.
// Empty on writing streams and once the input has ended.
struct TextReadWindow {
    const unsigned char* next;
    const unsigned char* end;
};

// TextGetc for loops over large files: bytes that need no translation (all
// but CR and 0x1A) come straight from the buffer; the rest go to TextGetc.
inline int TextGetcInline(TextStream* ts)
{
    TextReadWindow* w = reinterpret_cast<TextReadWindow*>(ts);
    if (w && w->next != w->end && *w->next != '\r' && *w->next != 0x1A)
        return *w->next++;
    return TextGetc(ts);
}

// The bytes at the read position up to the first of the characters in stops
// (CR and 0x1A, which need translating, stop a run as well), or to the end of
// the buffer; they count as read. An empty run means: read the next
// character with TextGetc, which refills the buffer. The stream keeps a table
// of the stops made from the text they point to: pass a constant text.
size_t TextTakeRun(TextStream* ts, const char* stops, const unsigned char** run);

// Reads up to size-1 characters through the next LF (kept), NUL-terminated.
// Null when nothing was read.
char* TextGets(TextStream* ts, char* buf, size_t size);

bool TextPutc(TextStream* ts, int c);
bool TextWrite(TextStream* ts, const char* data, size_t n);
bool TextPuts(TextStream* ts, const char* s);
// n in decimal, without the formatting machinery of TextPrintf: for numbers
// written once per field of a large file.
bool TextPutDecimal(TextStream* ts, unsigned long n);
bool TextPrintf(TextStream* ts, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
