// The line status as the engine sees it: what ClearCommError reports, with
// every line error of the transfer kept in one place.
#include "engine_util.h"

std::atomic<uint32_t> lineErrors;

void NoteLineErrors(uint32_t errors) { lineErrors |= errors; }

int32_t QueryPort(PortStatus* st)
{
    *st = PortStatus{};
    int32_t ok = linkPlatform.clearCommError(transferState.hPort, st);
    NoteLineErrors(st->errors);
    return ok;
}

uint32_t GetLineStatus(void)
{
    if (PortClosed())
        return 0;
    PortStatus st;
    if (!QueryPort(&st))
        return 0;
    const LineSettings& line = portParams.line;
    bool held = (line.ctsFlow && st.ctsHold) || (line.xonXoff && st.xoffHold);
    uint32_t s = (st.outQueue == 0 && !held) ? (uint32_t)LINE_CAN_SEND : 0u;
    if (st.inQueue)
        s |= LINE_INPUT_WAITING;
    return s;
}
