// Many transfers of every kind in one process, on the virtual clock: each
// ends with its own result, closes the port once, and leaves the engine's
// state and the heap as it found them (KIV_TRANSFERS rounds, 1000 unless the
// environment says).
#include <gtest/gtest.h>
#include <cstdlib>
#include "link_sim.h"
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Bytes the C library's heap holds for the program (0 where it cannot say;
// the sanitized build checks for leaks on its own).
size_t HeapInUse()
{
#ifdef __GLIBC__
    return mallinfo2().uordblks;
#else
    return 0;
#endif
}

int Rounds()
{
    const char* n = getenv("KIV_TRANSFERS");
    return n && atoi(n) > 0 ? atoi(n) : 1000;
}

SimScenario Scenario(SimRole role, const std::string& bytes)
{
    SimScenario s;
    s.role = role;
    s.sendData.assign(bytes.begin(), bytes.end());
    s.pieceSize = (uint32_t)bytes.size();
    s.stopAtEof = role == ROLE_RAW_RECEIVE;
    return s;
}

enum Device { RAW_SENDER, RAW_RECEIVER, SILENT, IR_PEER };
const struct Kind {
    const char* what;
    int linkKind, direction;
    Device device;
    std::vector<SimAction> actions;
    int failWriteAt;
    bool portUnusable;
    int16_t code;
} kKinds[] = {
    {"cable send", LINK_CABLE, 1, RAW_RECEIVER, {}, 0, false, RC_OK},
    {"cable receive", LINK_CABLE, 0, RAW_SENDER, {}, 0, false, RC_OK},
    {"IR send", LINK_IR, 1, IR_PEER, {}, 0, false, RC_OK},
    {"IR receive", LINK_IR, 0, IR_PEER, {}, 0, false, RC_OK},
    {"cancelled", LINK_CABLE, 0, SILENT, {{700, SIM_CANCEL}}, 0, false, RC_CANCELLED},
    {"timed out", LINK_CABLE, 0, SILENT, {}, 0, false, RC_TIMEOUT},
    {"port unusable", LINK_CABLE, 1, SILENT, {}, 0, true, RC_CANCELLED},
    {"write fails as on a lost line", LINK_CABLE, 1, RAW_RECEIVER, {}, 1, false, RC_LINE_ERROR},
    {"IR handheld gone", LINK_IR, 1, SILENT, {}, 0, false, RC_RETRY_FAILED},
};

SimResult RunKind(const Kind& k, int serial)
{
    std::string block = "block " + std::to_string(serial % 300) + std::string(100 + serial % 300, 'x');
    SimOptions o = k.linkKind == LINK_IR ? IrOptions(k.direction, block) : SimOptions();
    o.direction = k.direction;
    o.linkKind = k.linkKind;
    o.block = block;
    o.actions = k.actions;
    o.failWriteAt = k.failWriteAt;
    o.portUnusable = k.portUnusable;
    if (k.portUnusable)
        o.actions = {{500, SIM_CANCEL}};
    SimHandheld raw;
    IrHandheld ir;
    ir.sends = k.direction == 0;
    ir.block = block + "\x1A";
    SimDevice d = k.device == IR_PEER        ? IrHandheldDevice(ir)
                  : k.device == RAW_SENDER   ? HandheldDevice(raw, Scenario(ROLE_RAW_SEND, block + "\x1A"))
                  : k.device == RAW_RECEIVER ? HandheldDevice(raw, Scenario(ROLE_RAW_RECEIVE, ""))
                                             : HandheldDevice(raw, Scenario(ROLE_SILENT, ""));
    return RunSimTransfer(o, d);
}

// The heap is compared between the middle of the run and its end: what a
// transfer keeps until the next one starts (a failed receive's block, which
// the export frees; the engine's room for its largest block) is the same
// at both, while anything kept per transfer would grow it by hundreds of
// bytes each time.
TEST(LinkEndurance, ThousandsOfTransfersOfEveryKindEndCleanAndKeepNothing)
{
    const size_t kinds = sizeof kKinds / sizeof kKinds[0];
    size_t heapAtStart = 0;
    int rounds = Rounds();
    for (int i = 0; i < rounds; i++) {
        if (i == rounds / 2)
            heapAtStart = HeapInUse();
        for (size_t n = 0; n < kinds; n++) {
            const Kind& k = kKinds[n];
            SimResult r = RunKind(k, i);
            bool clean = r.resultCode == k.code && r.portCloses == 1 &&
                         transferState.hPort.load() == KIV_INVALID_HANDLE && transferState.active == 0 &&
                         r.gotBlock == (k.direction == 0 && k.code == RC_OK);
            if (!clean) {
                ADD_FAILURE() << k.what << ", round " << i << ": result " << r.resultCode << ", "
                              << r.portCloses << " port closes, block " << r.gotBlock;
                return;
            }
        }
    }
    size_t heapAtEnd = HeapInUse();
    EXPECT_GT(1024u, heapAtEnd > heapAtStart ? heapAtEnd - heapAtStart : 0)
        << "the heap grew from " << heapAtStart << " to " << heapAtEnd << " bytes over the last "
        << (rounds - rounds / 2) * kinds << " transfers";
}

}   // namespace
