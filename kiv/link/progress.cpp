#include "progress.h"
#include <sys/ioctl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <vector>
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

// The terminal's width, else COLUMNS as a shell sets it, else 80: the line
// is redrawn in place, and a line that wraps cannot be.
size_t Width(void)
{
    struct winsize ws = {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    const char* columns = getenv("COLUMNS");
    int n = columns ? atoi(columns) : 0;
    return n > 0 ? (size_t)n : 80;
}

// Characters, not bytes: a port's path may hold UTF-8.
size_t Shown(const std::string& text)
{
    size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80;
    return n;
}

// text cut to fit before the last column (where the cursor would wrap),
// ending in "…" when cut.
std::string Fitted(std::string text, size_t width)
{
    if (width < 2 || Shown(text) < width)
        return text;
    while (!text.empty() && Shown(text) > width - 2) {
        size_t at = text.size() - 1;
        while (at > 0 && ((unsigned char)text[at] & 0xC0) == 0x80)
            at--;
        text.erase(at);
    }
    return text + "\u2026";
}

// The parts joined, the least needed left out first until the line fits.
std::string Joined(std::vector<std::string> parts, const std::vector<size_t>& dropOrder, size_t width,
                   const char* between = "  ")
{
    auto join = [&] {
        std::string line;
        for (const std::string& p : parts)
            if (!p.empty())
                line += (line.empty() ? "" : between) + p;
        return line;
    };
    for (size_t k = 0; k < dropOrder.size() && Shown(join()) >= width; k++)
        parts[dropOrder[k]].clear();
    return Fitted(join(), width);
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
    std::string line = Joined({"waiting for the handheld on " + port, "(Ctrl-C to stop)"}, {1}, Width(), " ");
    fprintf(stderr, "\r%s\033[K", line.c_str());
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
    enum { BYTES, RATE, ELAPSED, SHARE, LEFT, BLOCK, RETRIES, PARTS };
    std::vector<std::string> parts(PARTS);
    char text[64];
    snprintf(text, sizeof text, "%u bytes", (unsigned)done);
    parts[BYTES] = text;
    snprintf(text, sizeof text, "%.0f B/s", rate);
    parts[RATE] = text;
    parts[ELAPSED] = elapsed;
    if (t.direction == 1 && t.totalBytes) {
        char left[16] = "--:--";
        if (rate > 0)
            Clock(left, sizeof left, (uint64_t)((t.totalBytes - done) / rate));
        snprintf(text, sizeof text, "%3u%%", (unsigned)(done * 100ull / t.totalBytes));
        parts[SHARE] = text;
        parts[LEFT] = std::string(left) + " left";
    }
    if (portParams.linkKind == LINK_IR) {
        snprintf(text, sizeof text, "block %u", BlockShown(t));
        parts[BLOCK] = text;
        snprintf(text, sizeof text, "retries %u", (unsigned)t.retryCount);
        parts[RETRIES] = text;
    }
    // On a narrow terminal what tells most stays: the bytes, the share, the block.
    std::string line = Joined(parts, {RATE, RETRIES, LEFT, ELAPSED, BLOCK, SHARE}, Width());
    fprintf(stderr, "\r%s\033[K%s", line.c_str(), final ? "\n" : "");
    fflush(stderr);
}
