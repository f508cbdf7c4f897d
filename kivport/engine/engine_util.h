// Small shared steps of the engine's files.
#pragma once
#include <atomic>
#include "link_engine.h"

// Keeps the first reason a transfer failed: a later one never replaces it.
inline void SetResultCode(int16_t code)
{
    if (transferState.resultCode == 0)
        transferState.resultCode = code;
}

inline bool PortClosed(void) { return transferState.hPort.load() == KIV_INVALID_HANDLE; }

// Every line error the port reported since the transfer started, whoever
// cleared it: ClearCommError clears the port's error state for every caller,
// so an error seen while polling, reading or waiting for events must not be
// lost before the receive step looks for it. Added to by NoteLineErrors.
extern std::atomic<uint32_t> lineErrors;

// ClearCommError through the platform, its errors added to lineErrors; 0 when
// the status cannot be read (st then reads all zero).
int32_t QueryPort(PortStatus* st);

// Appends n received bytes at bytesDone and a NUL behind them, growing the
// block first when they do not fit: to the next multiple of grain that holds
// them. Updates bytesDone and progressBytes; 0 with resultCode set when the
// block cannot be grown or locked. The block on failure stays for the export
// to free.
int StoreReceived(const uint8_t* data, uint32_t n, uint32_t grain);
