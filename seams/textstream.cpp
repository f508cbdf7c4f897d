// Text-mode translation over a byte file (or a memory range). Bytes that are
// already in memory are read where they lie; only streams over byte files
// need a buffer.
#include "textstream.h"
#include <cstdarg>
#include <cstring>
#include "bytefile.h"
#include "memblock.h"
#include "memfiles.h"

namespace {
const size_t kBufSize = 64 * 1024;
const int kCtrlZ = 0x1A;
}

struct TextStream {
    TextReadWindow window;   // first: TextGetcInline reads it (read streams)
    ByteFile* file;          // null for a stream over memory
    unsigned char* buf;      // kBufSize bytes, with file only
    bool writing;
    bool eof;
    bool error;
    size_t len;   // bytes waiting in buf (write streams)
    // TextTakeRun's stops as a table, and the stops it was built from.
    const char* stops;
    bool stopsSet;
    unsigned char isStop[256];
};

static TextStream* NewStream(ByteFile* file, bool writing)
{
    TextStream* ts = (TextStream*)MemAlloc(sizeof(TextStream));
    unsigned char* buf = file ? (unsigned char*)MemAlloc(kBufSize) : nullptr;
    if (!ts || (file && !buf)) {
        MemFree(ts);
        MemFree(buf);
        FileClose(file);
        return nullptr;
    }
    memset(ts, 0, sizeof *ts);
    ts->file = file;
    ts->buf = buf;
    ts->writing = writing;
    return ts;
}

TextStream* TextOpenRead(const char* path)
{
    // A memory file is read where it lies, like bytes handed to TextOpenMemory.
    if (path && MemoryFilesInUse()) {
        size_t size;
        const unsigned char* data = GetMemoryFile(path, &size);
        return data ? TextOpenMemory(data, size) : nullptr;
    }
    ByteFile* f = FileOpen(path, BF_READ);
    return f ? NewStream(f, false) : nullptr;
}

TextStream* TextOpenWrite(const char* path)
{
    ByteFile* f = FileOpen(path, BF_CREATE);
    return f ? NewStream(f, true) : nullptr;
}

TextStream* TextOpenMemory(const void* data, size_t size)
{
    TextStream* ts = NewStream(nullptr, false);
    if (ts && data) {
        ts->window.next = (const unsigned char*)data;
        ts->window.end = ts->window.next + size;
    }
    return ts;
}

static bool FlushWrite(TextStream* ts)
{
    if (ts->len && !FileWrite(ts->file, ts->buf, ts->len))
        ts->error = true;
    ts->len = 0;
    return !ts->error;
}

bool TextClose(TextStream* ts)
{
    if (!ts)
        return false;
    bool ok = true;
    if (ts->writing)
        ok = FlushWrite(ts);
    if (ts->file && !FileClose(ts->file))
        ok = false;
    MemFree(ts->buf);
    MemFree(ts);
    return ok;
}

// Refills the read window; false at the end of the raw bytes. A stream over
// memory has had all of them in its window from the start.
static bool Refill(TextStream* ts)
{
    if (!ts->file)
        return false;
    size_t n = FileRead(ts->file, ts->buf, kBufSize);
    ts->window.next = ts->buf;
    ts->window.end = ts->buf + n;
    return n != 0;
}

static int RawGet(TextStream* ts)
{
    if (ts->window.next == ts->window.end && !Refill(ts))
        return EOF;
    return *ts->window.next++;
}

int TextGetc(TextStream* ts)
{
    if (!ts || ts->writing || ts->eof)
        return EOF;
    int c = RawGet(ts);
    if (c == '\r') {
        int next = RawGet(ts);
        if (next == '\n')
            return '\n';
        if (next != EOF)
            ts->window.next--;   // a lone CR stays; the byte after it is read next
        return '\r';
    }
    if (c == EOF || c == kCtrlZ) {
        ts->eof = true;
        ts->window.next = ts->window.end;   // the inline path must not go on
        return EOF;
    }
    return c;
}

bool TextEof(const TextStream* ts) { return !ts || ts->eof; }

// One pass over the window against a table of the stops, built again only
// when a caller hands other stops. Searching for each stop in turn re-read
// the rest of the line once per stop and per field, which costs the most
// where the C library's memchr is a plain byte loop (the Windows runtime).
static void SetStops(TextStream* ts, const char* stops)
{
    memset(ts->isStop, 0, sizeof ts->isStop);
    ts->isStop[(unsigned char)'\r'] = ts->isStop[kCtrlZ] = 1;
    for (const char* c = stops; c && *c; c++)
        ts->isStop[(unsigned char)*c] = 1;
    ts->stops = stops;
    ts->stopsSet = true;
}

size_t TextTakeRun(TextStream* ts, const char* stops, const unsigned char** run)
{
    TextReadWindow* w = &ts->window;
    *run = w->next;
    if (!w->next || ts->writing)
        return 0;
    if (!ts->stopsSet || stops != ts->stops)
        SetStops(ts, stops);
    const unsigned char* p = w->next;
    const unsigned char* end = w->end;
    const unsigned char* isStop = ts->isStop;
    while (end - p >= 4 && !(isStop[p[0]] | isStop[p[1]] | isStop[p[2]] | isStop[p[3]]))
        p += 4;
    while (p != end && !isStop[*p])
        p++;
    size_t n = (size_t)(p - w->next);
    w->next = p;
    return n;
}

char* TextGets(TextStream* ts, char* buf, size_t size)
{
    if (!ts || !buf || size == 0)
        return nullptr;
    size_t n = 0;
    while (n + 1 < size) {
        int c = TextGetc(ts);
        if (c == EOF)
            break;
        buf[n++] = (char)c;
        if (c == '\n')
            break;
    }
    buf[n] = '\0';
    return n ? buf : nullptr;
}

static bool PutRaw(TextStream* ts, unsigned char c)
{
    if (ts->len == kBufSize && !FlushWrite(ts))
        return false;
    ts->buf[ts->len++] = c;
    return true;
}

bool TextPutc(TextStream* ts, int c)
{
    if (!ts || !ts->writing || ts->error)
        return false;
    if (c == '\n' && !PutRaw(ts, '\r'))
        return false;
    return PutRaw(ts, (unsigned char)c);
}

// Bytes that need no translation, copied into the buffer in runs.
static bool PutRun(TextStream* ts, const char* data, size_t n)
{
    while (n > 0) {
        if (ts->len == kBufSize && !FlushWrite(ts))
            return false;
        size_t room = kBufSize - ts->len;
        size_t k = n < room ? n : room;
        memcpy(ts->buf + ts->len, data, k);
        ts->len += k;
        data += k;
        n -= k;
    }
    return true;
}

// Long texts (encoded photographs) go in as runs between line ends, not
// character by character.
bool TextWrite(TextStream* ts, const char* data, size_t n)
{
    if (n == 0)
        return true;
    if (!ts || !ts->writing || ts->error)
        return false;
    for (;;) {
        const char* lf = (const char*)memchr(data, '\n', n);
        size_t run = lf ? (size_t)(lf - data) : n;
        if (!PutRun(ts, data, run))
            return false;
        if (!lf)
            return true;
        if (!TextPutc(ts, '\n'))
            return false;
        data += run + 1;
        n -= run + 1;
        if (n == 0)
            return true;
    }
}

bool TextPuts(TextStream* ts, const char* s) { return s && TextWrite(ts, s, strlen(s)); }

bool TextPutDecimal(TextStream* ts, unsigned long n)
{
    if (!ts || !ts->writing || ts->error)
        return false;
    char digits[3 * sizeof n];
    char* p = digits + sizeof digits;
    do {
        *--p = (char)('0' + n % 10);
        n /= 10;
    } while (n);
    return PutRun(ts, p, (size_t)(digits + sizeof digits - p));
}

bool TextPrintf(TextStream* ts, const char* fmt, ...)
{
    char small[512];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(small, sizeof small, fmt, ap);
    va_end(ap);
    if (n < 0)
        return false;
    if ((size_t)n < sizeof small)
        return TextWrite(ts, small, (size_t)n);
    char* big = (char*)MemAlloc((size_t)n + 1);
    if (!big)
        return false;
    va_start(ap, fmt);
    vsnprintf(big, (size_t)n + 1, fmt, ap);
    va_end(ap);
    bool ok = TextWrite(ts, big, (size_t)n);
    MemFree(big);
    return ok;
}
