#include "progress.h"
#include <cstdio>
#include "link_engine.h"
#include "posix_port.h"

namespace {

bool shown;
bool waiting;
uint64_t startMs;
uint64_t lastMs;
const uint64_t kRedrawMs = 250;

void Clock(char* out, size_t n, uint64_t seconds)
{
    snprintf(out, n, "%02u:%02u", (unsigned)(seconds / 60), (unsigned)(seconds % 60));
}

// The block on the line, counted from 1: a send's from the bytes taken so
// far (its last block carries the number 0xFFFF on the wire).
unsigned BlockShown(const TransferState& t)
{
    if (t.direction == 0)
        return expectedBlock;
    unsigned block = (unsigned)((t.bytesDone + IR_BLOCK_MAX - 1) / IR_BLOCK_MAX);
    return block ? block : 1;
}

}

void ProgressStart(bool show)
{
    shown = show;
    waiting = false;
    startMs = NowMs();
    lastMs = 0;
}

void ProgressAwait(const std::string& port)
{
    if (!shown)
        return;
    waiting = true;
    fprintf(stderr, "\rwaiting for the handheld on %s (Ctrl-C to stop)\033[K", port.c_str());
    fflush(stderr);
}

void ProgressHeard(void) { waiting = false; }

void ProgressShow(bool final)
{
    if (!shown || (waiting && !final))
        return;
    uint64_t now = NowMs();
    if (!final && now - lastMs < kRedrawMs)
        return;
    lastMs = now;
    const TransferState& t = transferState;
    // A send that ended well took all its bytes, the last block's too.
    uint32_t done = final && t.direction == 1 && t.resultCode == 0 ? t.totalBytes : t.progressBytes;
    uint64_t elapsedMs = now - startMs;
    double rate = elapsedMs ? done * 1000.0 / (double)elapsedMs : 0;
    char elapsed[16];
    Clock(elapsed, sizeof elapsed, elapsedMs / 1000);
    char line[160];
    int n = snprintf(line, sizeof line, "\r%u bytes  %.0f B/s  %s", (unsigned)done, rate, elapsed);
    if (t.direction == 1 && t.totalBytes) {
        char left[16] = "--:--";
        if (rate > 0)
            Clock(left, sizeof left, (uint64_t)((t.totalBytes - done) / rate));
        n += snprintf(line + n, sizeof line - n, "  %3u%%  %s left", (unsigned)(done * 100ull / t.totalBytes),
                      left);
    }
    if (portParams.linkKind == LINK_IR) {
        n += snprintf(line + n, sizeof line - n, "  block %u  retries %u", BlockShown(t),
                      (unsigned)t.retryCount);
    }
    fprintf(stderr, "%s\033[K%s", line, final ? "\n" : "");
    fflush(stderr);
}
