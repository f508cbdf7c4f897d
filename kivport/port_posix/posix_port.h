// The serial port of one transfer on a POSIX system: opened exclusively,
// configured from the driver's LineSettings through one table, read and
// written without ever blocking, and given back as it was found. The layer
// fills linkPlatform's port entries; the program's poll loop owns the rest
// (timer, events, close). Everything runs on the program's one thread.
#pragma once
#include <termios.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include "link_platform.h"

// Why a port could not be opened, for a message a person can act on.
enum PortOpenError {
    PORT_OPENED = 0,
    PORT_NOT_FOUND,
    PORT_NO_PERMISSION,
    PORT_BUSY,
    PORT_NOT_SERIAL,
    PORT_BAD_SPEED,
    PORT_FAILED,
};

// The termios speed code of a rate; false for a rate termios cannot set.
bool SpeedCode(uint32_t baud, speed_t* code);
// The line settings applied to t (raw, receiver on, modem control lines
// ignored); false when the speed cannot be set, and t is then untouched.
bool LineToTermios(const LineSettings& line, struct termios* t);
// Bits on the wire per byte of these settings: start, data, parity, stop.
uint32_t BitsPerByte(const LineSettings& line);

// Opens and configures the port at path and raises DTR and RTS; -1 with
// *error set on failure, with nothing left open. *sysError is the errno.
int OpenSerialPort(const char* path, const LineSettings& line, PortOpenError* error, int* sysError);
// Discards the output still queued, drops DTR and RTS, restores the
// settings the port had before it was opened, and closes it. Output the
// layer still holds is discarded too.
void CloseSerialPort(int fd);

// The handle the engine holds for a descriptor, and back.
KivHandle PortHandle(int fd);
int PortFd(KivHandle port);

// Fills linkPlatform's port entries with this layer.
void InstallPosixPort(void);
// Starts the layer's bookkeeping afresh for a newly opened port: no held
// output, the line-error counters as they stand now.
void ResetPortIo(int fd);

// Probes the IR line device and sends it its set-up bytes; 1 when it
// answered. The line ends at 9600 baud, odd parity, DTR and RTS raised.
int32_t PrepareIrLine(int fd);
// The probe alone: the byte the IR line device answered with (0xF4 or
// 0xF5 when it is one), or -1 for no answer. The line's settings are put
// back and DTR and RTS left raised.
int ProbeIrLine(int fd);

// What writePort has accepted but the port has not yet taken.
size_t HeldOutput(void);
// Hands held output to the port as far as it takes it; false on an error.
bool WriteHeldOutput(int fd);
// Bytes not yet on the wire: the driver's output queue and the held output.
uint32_t OutputQueue(int fd);
// True once a read, write or request failed as a port does when the device
// behind it went away (EIO, ENXIO, ENODEV); cleared for each opened port.
extern bool lineLost;
// True once something was written since the output last read empty; the
// poll loop clears it when it reports the drain.
extern bool outputBusy;

// Line-error counters where the driver keeps them (frame, parity, overrun,
// break), for the layer's error mask. False when it keeps none.
struct LineErrorCounts {
    uint32_t frame, parity, overrun, brk, bufferOverrun;
};
bool ReadLineErrorCounts(int fd, LineErrorCounts* counts);
// The serial ports present, one line each: stable names with their
// targets first, then the devices that have hardware behind them.
std::vector<std::string> ListSerialPorts(void);

// Sleeps for ms milliseconds (the IR line device's fixed waits).
void PauseMs(uint32_t ms);
// Monotonic milliseconds.
uint64_t NowMs(void);
