#include "progress.h"
#include <cstdio>
#include "link_engine.h"
#include "posix_port.h"

namespace {

bool shown;
uint64_t startMs;
uint64_t lastMs;
const uint64_t kRedrawMs = 250;

void Clock(char* out, size_t n, uint64_t seconds)
{
    snprintf(out, n, "%02u:%02u", (unsigned)(seconds / 60), (unsigned)(seconds % 60));
}

}

void ProgressStart(bool show)
{
    shown = show;
    startMs = NowMs();
    lastMs = 0;
}

void ProgressShow(bool final)
{
    if (!shown)
        return;
    uint64_t now = NowMs();
    if (!final && now - lastMs < kRedrawMs)
        return;
    lastMs = now;
    const TransferState& t = transferState;
    uint64_t elapsedMs = now - startMs;
    double rate = elapsedMs ? t.progressBytes * 1000.0 / (double)elapsedMs : 0;
    char elapsed[16];
    Clock(elapsed, sizeof elapsed, elapsedMs / 1000);
    char line[160];
    int n = snprintf(line, sizeof line, "\r%u bytes  %.0f B/s  %s", (unsigned)t.progressBytes, rate, elapsed);
    if (t.direction == 1 && t.totalBytes) {
        char left[16] = "--:--";
        if (rate > 0)
            Clock(left, sizeof left, (uint64_t)((t.totalBytes - t.progressBytes) / rate));
        n += snprintf(line + n, sizeof line - n, "  %3u%%  %s left",
                      (unsigned)(t.progressBytes * 100ull / t.totalBytes), left);
    }
    if (portParams.linkKind == LINK_IR) {
        unsigned block = t.direction == 1 ? TxPacket.blockNo : expectedBlock;
        n += snprintf(line + n, sizeof line - n, "  block %u  retries %u", block, (unsigned)t.retryCount);
    }
    fprintf(stderr, "%s\033[K%s", line, final ? "\n" : "");
    fflush(stderr);
}
