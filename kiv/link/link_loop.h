// One transfer on one thread: a poll() loop in the place of the Windows
// driver's reader thread, thread timer and status dialog.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "records.h"

struct TransferRequest {
    std::string portPath;
    PortParams params;   // link kind and line settings
    bool sending = false;
    std::vector<uint8_t> block;   // what a send sends (up to its first NUL)
    bool progress = false;        // a progress line on stderr
    uint32_t waitLimitMs = 0;     // bounds the wait for the handheld's first byte; 0: the link's own timers
};

struct TransferOutcome {
    int resultCode = 0;              // the link's result code (RC_...)
    int signal = 0;                  // the signal that cancelled the transfer, or 0
    int openError = 0;               // a PortOpenError when the port could not be opened
    int sysError = 0;                // its errno
    bool lineLost = false;           // the handheld or the adapter went away (RC_LINE_ERROR)
    std::vector<uint8_t> received;   // a receive's block, through its end byte
    uint32_t bytesDone = 0;          // the block's bytes that crossed, either way
};

// Opens the port, runs the engine until the transfer ends, closes the port
// as it was found. SIGINT, SIGTERM and SIGHUP cancel as the Cancel button
// does, unless they were ignored when kiv started. Once the engine can no
// longer cancel they are held (held_signals.h), and they stay held when
// this returns: the caller takes them once what was received is saved.
TransferOutcome RunTransfer(const TransferRequest& request);
