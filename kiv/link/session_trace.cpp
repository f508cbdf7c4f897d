// The trace file of one link session. Times are microseconds on the
// monotonic clock since the header; bytes are lower-case hex. The engine has
// no callback for its state, so the loop asks after every step and a line is
// written only when something the reader would care about changed.
#include "session_trace.h"
#include <fcntl.h>
#include <unistd.h>
#include <time.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include "kiv_version.h"
#include "link_engine.h"
#include "port_settings.h"

namespace {

FILE* trace;
uint64_t startUs;

struct EngineState {
    int32_t active, linkState, block, retries, result;
};
EngineState lastState;

// Reads and writes of one engine step (the IR protocol reads a byte at a
// time) make one chunk, timed by its last byte; it goes out before any other line.
struct Chunk {
    bool out;
    uint64_t lastUs;
    std::string hex;
};
Chunk chunk;
const uint64_t kChunkGapUs = 1000;

const size_t kBuffer = 1 << 16;

uint64_t NowUs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000 + (uint64_t)ts.tv_nsec / 1000;
}

unsigned long long Since(void) { return (unsigned long long)(NowUs() - startUs); }

void WriteChunk(void)
{
    if (chunk.hex.empty())
        return;
    fprintf(trace, "{\"t\":%llu,\"io\":\"%s\",\"hex\":\"%s\"}\n",
            (unsigned long long)(chunk.lastUs - startUs), chunk.out ? "out" : "in", chunk.hex.c_str());
    chunk.hex.clear();
}

// Since() for a line other than a chunk's: the chunk before it goes first.
unsigned long long EventTime(void)
{
    WriteChunk();
    return Since();
}

// The length of the UTF-8 character at text[at], or 0 when its bytes are no
// character (a stray continuation, a sequence cut short, an overlong form).
size_t Utf8CharAt(const std::string& text, size_t at)
{
    unsigned char b = (unsigned char)text[at];
    size_t n = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n == 0 || at + n > text.size())
        return 0;
    for (size_t k = 1; k < n; k++)
        if (((unsigned char)text[at + k] & 0xC0) != 0x80)
            return 0;
    unsigned char second = (unsigned char)text[at + 1];
    bool overlong = (b == 0xE0 && second < 0xA0) || (b == 0xF0 && second < 0x90);
    bool beyond = (b == 0xED && second >= 0xA0) || (b == 0xF4 && second >= 0x90);   // surrogates, > U+10FFFF
    return overlong || beyond ? 0 : n;
}

// A JSON string's content: quotes, backslashes and control bytes escaped,
// and a byte that is no UTF-8 (a port path may hold any) as \u00XX, so
// that every line stays JSON.
std::string Escaped(const std::string& text)
{
    std::string s;
    for (size_t at = 0; at < text.size();) {
        unsigned char c = (unsigned char)text[at];
        size_t n = c < 0x80 ? 1 : Utf8CharAt(text, at);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += (char)c;
        } else if (c < 0x20 || n == 0) {
            char u[8];
            snprintf(u, sizeof u, "\\u%04x", c);
            s += u;
        } else {
            s.append(text, at, n);
        }
        at += n ? n : 1;
    }
    return s;
}

const char* ParityName(char parity) { return parity == 'o' ? "odd" : parity == 'e' ? "even" : "none"; }

const char* FlowName(const LineSettings& line)
{
    if (line.ctsFlow && line.xonXoff)
        return "rts/cts+xon/xoff";
    return line.ctsFlow ? "rts/cts" : line.xonXoff ? "xon/xoff" : "none";
}

const char* StateName(int32_t state)
{
    static const char* const names[] = {"idle", "rx-wait-enq", "rx-wait-data", "tx-wait-syn", "tx-wait-ack"};
    return state >= 0 && state <= TX_WAIT_ACK ? names[state] : "?";
}

EngineState CurrentState(void)
{
    const TransferState& t = transferState;
    EngineState s = {};
    s.active = t.active;
    s.linkState = LinkState;
    if (portParams.linkKind == LINK_IR)
        s.block = t.direction ? TxPacket.blockNo : expectedBlock;
    s.retries = t.retryCount;
    s.result = t.resultCode;
    return s;
}

}

bool TraceOpen(const std::string& path, bool replace, std::string* error)
{
    // Never through a link; an existing trace is replaced only when asked.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL),
                  0644);
    trace = fd < 0 ? nullptr : fdopen(fd, "w");
    if (!trace) {
        if (fd >= 0)
            close(fd);
        *error = "cannot write the trace " + path + ": " + strerror(errno);
        return false;
    }
    setvbuf(trace, nullptr, _IOFBF, kBuffer);
    return true;
}

void TraceStart(const std::string& command, const std::string& port, const PortParams& params)
{
    if (!trace)
        return;
    startUs = NowUs();
    chunk = Chunk{};
    lastState = EngineState{-1, -1, -1, -1, -1};
    const LineSettings& l = params.line;
    fprintf(trace,
            "{\"format\":\"kiv-session\",\"version\":1,\"kiv\":\"%s\",\"command\":\"%s\",\"port\":\"%s\","
            "\"link\":\"%s\",\"speed\":%u,\"parity\":\"%s\",\"bits\":%u,\"stop\":%d,\"flow\":\"%s\"}\n",
            KIV_VERSION_TEXT, Escaped(command).c_str(), Escaped(port).c_str(), LinkKindName(params.linkKind),
            l.baudRate, ParityName(l.parity), l.dataBits, l.twoStopBits ? 2 : 1, FlowName(l));
    fflush(trace);
}

void TraceBytes(bool out, const uint8_t* bytes, size_t n)
{
    if (!trace || n == 0)
        return;
    uint64_t now = NowUs();
    if (!chunk.hex.empty() && (chunk.out != out || now - chunk.lastUs > kChunkGapUs))
        WriteChunk();
    chunk.out = out;
    chunk.lastUs = now;
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < n; i++) {
        chunk.hex += digits[bytes[i] >> 4];
        chunk.hex += digits[bytes[i] & 15];
    }
}

void TraceLines(const char* lines)
{
    if (trace)
        fprintf(trace, "{\"t\":%llu,\"lines\":\"%s\"}\n", EventTime(), lines);
}

void TracePurge(uint32_t flags)
{
    if (!trace)
        return;
    bool in = flags & (LINK_PURGE_RXABORT | LINK_PURGE_RXCLEAR);
    bool out = flags & (LINK_PURGE_TXABORT | LINK_PURGE_TXCLEAR);
    fprintf(trace, "{\"t\":%llu,\"purge\":\"%s\"}\n", EventTime(), in && out ? "in,out" : in ? "in" : "out");
}

void TraceLineDevice(bool answered)
{
    if (!trace)
        return;
    fprintf(trace, "{\"t\":%llu,\"line-device\":%d}\n", EventTime(), answered ? 1 : 0);
    fflush(trace);
}

void TraceEngineState(void)
{
    if (!trace)
        return;
    EngineState s = CurrentState();
    if (memcmp(&s, &lastState, sizeof s) == 0)
        return;
    lastState = s;
    fprintf(trace, "{\"t\":%llu,\"active\":%d,\"state\":\"%s\",\"block\":%d,\"retries\":%d,\"result\":%d}\n",
            EventTime(), s.active, StateName(s.linkState), s.block, s.retries, s.result);
    fflush(trace);
}

void TraceEnd(int exitStatus, int resultCode, uint32_t bytes)
{
    if (!trace)
        return;
    fprintf(trace, "{\"t\":%llu,\"exit\":%d,\"result\":%d,\"bytes\":%u}\n", EventTime(), exitStatus,
            resultCode, bytes);
    fclose(trace);
    trace = nullptr;
}
