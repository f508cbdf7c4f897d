// A link session recorded as JSON Lines (docs/formats.md, "Recorded link
// sessions"): a header line, then the bytes each way, the line changes kiv
// makes and the engine's state changes, each with its time, and a last line
// with the result. Writes are buffered and flushed at every state change and
// at the end, so that the trace costs the link no time worth speaking of and
// a session cut short still leaves what led up to it. Every call but
// TraceOpen does nothing while no trace is open.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include "records.h"

// Creates the trace file (replaces it when replace), never through a link;
// false with *error when it cannot be.
bool TraceOpen(const std::string& path, bool replace, std::string* error);
// The header line; the trace's clock starts here.
void TraceStart(const std::string& command, const std::string& port, const PortParams& params);
void TraceBytes(bool out, const uint8_t* bytes, size_t n);
// A line change kiv made: "dtr=1 rts=1", a purge's queues, the IR line device's set-up.
void TraceLines(const char* lines);
void TracePurge(uint32_t flags);
void TraceLineDevice(bool answered);
// Writes a state line when the engine's state differs from the last one written.
void TraceEngineState(void);
// The last line; closes the trace.
void TraceEnd(int exitStatus, int resultCode, uint32_t bytes);
