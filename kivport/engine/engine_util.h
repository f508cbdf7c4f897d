// Small shared steps of the engine's files.
#pragma once
#include "link_engine.h"

// Keeps the first reason a transfer failed: a later one never replaces it.
inline void SetResultCode(int16_t code)
{
    if (transferState.resultCode == 0)
        transferState.resultCode = code;
}

inline bool PortClosed(void) { return transferState.hPort.load() == KIV_INVALID_HANDLE; }

// Line errors the port reported since the transfer started. ClearCommError
// clears the port's error state whoever calls it, so an error seen while
// polling or reading the line status must not be lost before the receive
// step looks for it.
extern uint32_t lineErrors;

inline int32_t QueryPort(PortStatus* st)
{
    *st = PortStatus{};
    int32_t ok = linkPlatform.clearCommError(transferState.hPort, st);
    lineErrors |= st->errors;
    return ok;
}
