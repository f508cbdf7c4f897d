// The serial line between the PC and the simulated handheld: its frame format
// and the one pacer that lets bytes cross no faster than the line rate, for
// kivsim on a pseudo-terminal (a microsecond clock) and for the in-process
// line (a virtual millisecond clock) alike. Portable; time is in
// microseconds on whatever clock the caller runs.
#pragma once
#include <cstdint>
#include <string>

struct LineFormat {
    uint32_t baud;   // bits per second; 0 = unpaced
    int dataBits;    // 5..8
    char parity;     // 'n', 'o', 'e', 'm', 's'
    int stopBits;    // 1 or 2
};

// "8N1", "7E2", "8O1": data bits, parity letter, stop bits. False when malformed.
bool ParseLineFormat(const std::string& text, LineFormat& format);
// Start bit, data bits, the parity bit when there is one, stop bits.
int BitsPerByte(const LineFormat& format);
// The bytes per second the line carries.
double LineBytesPerSecond(const LineFormat& format);

// One direction of the line. Bytes leave back to back while some are left
// waiting; a line that ran dry (nothing waiting, or the queue emptied behind
// the pacer's back by a purge) banks no credit beyond the byte that may
// start at once.
struct LinePacer {
    double usPerByte;    // 0 = unpaced
    uint64_t originUs;   // times below count from here, to keep them exact
    double freeAtUs;     // when the byte before has fully crossed
    bool backlog;        // bytes were left waiting after the last crossing
    bool started;
};

// baud 0: unpaced.
void PacerInit(LinePacer& pacer, uint32_t baud, int bitsPerByte);
// How many of the waiting bytes may have crossed by nowUs. Call it on every
// pass, with nothing waiting too: that is how the pacer learns the line ran dry.
uint32_t PacerAllowance(LinePacer& pacer, uint64_t nowUs, uint32_t waiting);
// Marks n bytes (at most the allowance) as crossed; stillWaiting tells
// whether more are queued behind them.
void PacerConsume(LinePacer& pacer, uint32_t n, bool stillWaiting);
// When the next byte may cross.
uint64_t PacerNextUs(const LinePacer& pacer, uint64_t nowUs);
