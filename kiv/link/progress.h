// The progress line of a transfer on stderr: bytes, rate and elapsed time;
// for a send the share done and the time left; on the IR link the block
// number and retries.
#pragma once
#include <cstdint>
#include <string>

void ProgressStart(bool shown);
// Until the handheld's first byte the line says what kiv waits for and how
// to stop; ProgressHeard ends that.
void ProgressAwait(const std::string& port);
void ProgressHeard(void);
// Redraws the line from transferState, at most a few times a second unless final.
void ProgressShow(bool final);
