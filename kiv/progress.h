// The progress line of a transfer on stderr: bytes, rate and elapsed time;
// for a send the share done and the time left; on the IR link the block
// number and retries.
#pragma once
#include <cstdint>

void ProgressStart(bool shown);
// Redraws the line from transferState, at most a few times a second unless final.
void ProgressShow(bool final);
