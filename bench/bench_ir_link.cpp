// The framed IR protocol on the simulated 9600-baud odd-parity line: the
// throughput of a send and a receive against the protocol's own bound, and a
// soak of randomized fault campaigns that counts how transfers end.
//   kivbench_ir [TRANSFERS]   (default 10000)
//   kivbench_ir --seed N      (one transfer of the campaign again, in detail)
// The bound per block is the wire time of ENQ, SYN, the data frame and ACK at
// 11 bits a byte, plus the 100 ms the sender must wait before each next ENQ
// (and the 1000 ms before the first). Virtual time: the figures do not
// depend on the machine.
#include <cstdio>
#include <cstdlib>
#include <string>
#include "link_sim.h"

namespace {

std::string Bytes(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245 + 12345;
        s[i] = (char)(1 + (seed >> 16) % 255);
    }
    return s;
}

double BoundSeconds(size_t size)
{
    const double byteSeconds = 11.0 / 9600;
    double seconds = 1.0;   // before the first ENQ
    size_t blocks = size <= 512 ? 1 : (size + 511) / 512;
    for (size_t b = 0; b < blocks; b++) {
        size_t n = b + 1 < blocks ? 512 : size - 512 * (blocks - 1);
        seconds += (8 + 8 + 17 + n + 8) * byteSeconds;
        if (b + 1 < blocks)
            seconds += 0.1;
    }
    return seconds;
}

void Throughput(size_t size)
{
    std::string block = Bytes(size, 7);
    for (int handheldSends = 0; handheldSends < 2; handheldSends++) {
        IrHandheld h;
        h.sends = handheldSends;
        h.block = block;
        SimOptions o = IrOptions(handheldSends ? 0 : 1, block);
        SimDevice d = IrHandheldDevice(h);
        SimResult r = RunSimTransfer(o, d);
        double seconds = r.endMs / 1000.0;
        if (handheldSends) {
            // The receive starts when the handheld does; its first ENQ comes
            // after its own start-up, not after the PC's mandated second.
            seconds += 1.0 - 0.3;
        }
        bool ok = r.resultCode == 0 && (handheldSends ? r.block : h.received) == block;
        printf("IR %-8s %7zu bytes: %8.2f s, bound %8.2f s, ratio %.3f%s\n",
               handheldSends ? "receive" : "send", size, seconds, BoundSeconds(size),
               BoundSeconds(size) / seconds, ok ? "" : "  (FAILED)");
    }
}

void Replay(uint64_t seed)
{
    CampaignRun run = RunCampaignTransfer(seed, true);
    const IrHandheld& h = run.handheld;
    const std::string& block = run.block;
    const SimResult& r = run.result;
    std::string got = h.sends ? r.block : h.received;
    printf("seed %llu: the PC %s %zu bytes; result %d after %.1f s; %zu bytes arrived, %s\n",
           (unsigned long long)seed, h.sends ? "receives" : "sends", block.size(), r.resultCode,
           r.endMs / 1000.0, got.size(), got == block ? "identical" : "different");
    printf("faults:");
    for (IrFault f : h.faultsUsed)
        printf(" %s,", IrFaultName(f));
    printf("\nthe PC wrote:\n");
    for (const SimWrite& w : r.writes)
        printf("  %8.3f s  %s %02X, %zu bytes\n", w.atMs / 1000.0,
               (uint8_t)w.bytes[6] == 0x82 ? "control" : "data", (uint8_t)w.bytes[w.bytes.size() > 8 ? 8 : 7],
               w.bytes.size());
}

void Soak(int transfers, bool detectable)
{
    int ok = 0, failed = 0, silent = 0;
    int codes[256] = {};
    long faults[IRF_COUNT] = {};
    for (int i = 0; i < transfers; i++) {
        uint64_t seed = (uint64_t)i + 1;
        CampaignRun run = RunCampaignTransfer(seed, detectable);
        const SimResult& r = run.result;
        for (IrFault f : run.handheld.faultsUsed)
            faults[f]++;
        if (run.outcome == CAMPAIGN_OK) {
            ok++;
        } else if (run.outcome == CAMPAIGN_FAILED) {
            failed++;
            codes[r.resultCode & 255]++;
        } else {
            silent++;
            if (detectable)
                printf("  seed %llu: code %d\n", (unsigned long long)seed, r.resultCode);
        }
    }
    printf("%s faults, %d transfers: %d ended well, %d failed (1: %d, 2: %d, 4: %d, 255: %d), %d silently "
           "wrong\n",
           detectable ? "detectable" : "undetectable", transfers, ok, failed, codes[1], codes[2], codes[4],
           codes[255], silent);
    printf("  faults:");
    for (int f = 1; f < IRF_COUNT; f++)
        if (faults[f])
            printf(" %s %ld,", IrFaultName((IrFault)f), faults[f]);
    printf("\n");
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::string(argv[1]) == "--seed") {
        Replay(strtoull(argv[2], nullptr, 10));
        return 0;
    }
    int transfers = argc > 1 ? atoi(argv[1]) : 10000;
    for (size_t size : {512, 5000, 50000})
        Throughput(size);
    Soak(transfers, true);
    Soak(transfers / 10, false);
    return 0;
}
