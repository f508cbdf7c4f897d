// Text-mode translation over a binary stdio stream (or a memory range).
#include "textstream.h"
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {
const size_t kBufSize = 64 * 1024;
const int kCtrlZ = 0x1A;
}

struct TextStream {
    TextReadWindow window;       // first: TextGetcInline reads it (read streams)
    FILE* file;                  // null for a memory stream
    const unsigned char* mem;    // memory stream source
    size_t memSize;
    size_t memPos;
    bool writing;
    bool eof;
    bool error;
    size_t len;                  // bytes waiting in buf (write streams)
    unsigned char buf[kBufSize];
};

static TextStream* NewStream(FILE* f, bool writing)
{
    TextStream* ts = (TextStream*)calloc(1, sizeof(TextStream));
    if (!ts) {
        if (f)
            fclose(f);
        return nullptr;
    }
    ts->file = f;
    ts->writing = writing;
    return ts;
}

TextStream* TextOpenRead(const char* path)
{
    FILE* f = path ? fopen(path, "rb") : nullptr;
    return f ? NewStream(f, false) : nullptr;
}

TextStream* TextOpenWrite(const char* path)
{
    FILE* f = path ? fopen(path, "wb") : nullptr;
    return f ? NewStream(f, true) : nullptr;
}

TextStream* TextOpenMemory(const void* data, size_t size)
{
    TextStream* ts = NewStream(nullptr, false);
    if (ts) {
        ts->mem = (const unsigned char*)data;
        ts->memSize = data ? size : 0;
    }
    return ts;
}

static bool FlushWrite(TextStream* ts)
{
    if (ts->len && fwrite(ts->buf, 1, ts->len, ts->file) != ts->len)
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
    if (ts->file && fclose(ts->file) != 0)
        ok = false;
    free(ts);
    return ok;
}

// Refills the read window; false at the end of the raw bytes.
static bool Refill(TextStream* ts)
{
    size_t n;
    if (ts->file) {
        n = fread(ts->buf, 1, kBufSize, ts->file);
        if (n == 0 && ferror(ts->file))
            ts->error = true;
    } else {
        n = ts->memSize - ts->memPos;
        if (n > kBufSize)
            n = kBufSize;
        memcpy(ts->buf, ts->mem + ts->memPos, n);
        ts->memPos += n;
    }
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
            ts->window.next--;  // a lone CR stays; the byte after it is read next
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

bool TextWrite(TextStream* ts, const char* data, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (!TextPutc(ts, (unsigned char)data[i]))
            return false;
    return true;
}

bool TextPuts(TextStream* ts, const char* s) { return s && TextWrite(ts, s, strlen(s)); }

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
    char* big = (char*)malloc((size_t)n + 1);
    if (!big)
        return false;
    va_start(ap, fmt);
    vsnprintf(big, (size_t)n + 1, fmt, ap);
    va_end(ap);
    bool ok = TextWrite(ts, big, (size_t)n);
    free(big);
    return ok;
}
