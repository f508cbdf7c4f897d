// The engine's entry points as the status dialog drives them: how every
// transfer ends, and what the buttons do once it has.
#include <gtest/gtest.h>
#include "link_sim.h"

namespace {

SimOptions Raw(int direction)
{
    SimOptions o;
    o.direction = direction;
    return o;
}

// kivsim's handheld model sending bytes in one piece after a pause, or listening.
SimScenario Sending(const std::string& bytes, uint32_t delayMs)
{
    SimScenario s;
    s.role = ROLE_RAW_SEND;
    s.sendData.assign(bytes.begin(), bytes.end());
    s.pieceSize = (uint32_t)bytes.size();
    s.delayMs = delayMs;
    return s;
}

SimScenario Listening(void)
{
    SimScenario s;
    s.role = ROLE_SILENT;
    s.stopAtEof = false;
    return s;
}

// However a transfer ends, the dialog's close step closes the port, once,
// through the platform.
TEST(LinkEntry, EveryEndClosesThePortOnce)
{
    struct Row {
        const char* what;
        int linkKind;
        int direction;
        std::vector<SimAction> actions;
        int16_t code;
    } rows[] = {
        {"raw receive up to its end mark", LINK_CABLE, 0, {}, RC_OK},
        {"raw send", LINK_CABLE, 1, {}, RC_OK},
        {"IR receive", LINK_IR, 0, {}, RC_OK},
        {"IR send", LINK_IR, 1, {}, RC_OK},
        {"cancel", LINK_CABLE, 0, {{50, SIM_CANCEL}}, RC_CANCELLED},
        {"closed by the window system", LINK_IR, 1, {{500, SIM_WINDOW_CLOSE}}, RC_CANCELLED},
        {"IrDA send waiting for the link's confirmation", LINK_IRDA, 1, {{3000, SIM_CANCEL}}, RC_CANCELLED},
    };
    for (const Row& row : rows) {
        SimOptions o = row.linkKind == LINK_IR ? IrOptions(row.direction, "abc") : Raw(row.direction);
        o.linkKind = row.linkKind;
        o.block = "abc";
        o.actions = row.actions;
        IrHandheld h;
        h.sends = row.direction == 0;
        h.block = "abc";
        SimHandheld raw;
        SimDevice d = row.linkKind == LINK_IR
                          ? IrHandheldDevice(h)
                          : HandheldDevice(raw, row.direction == 1 ? Listening() : Sending("abc\x1A", 100));
        SimResult r = RunSimTransfer(o, d);
        EXPECT_EQ(row.code, r.resultCode) << row.what;
        EXPECT_EQ(1, r.portCloses) << row.what;
        EXPECT_EQ(KIV_INVALID_HANDLE, transferState.hPort.load()) << row.what;
    }
}

TEST(LinkEntry, ClosedPortMakesEveryEntryReturnUntilCancelled)
{
    for (int direction : {0, 1}) {
        SimOptions o = Raw(direction);
        o.block = "abc";
        o.portUnusable = true;
        o.actions = {{90000, SIM_CANCEL}, {95000, SIM_CANCEL}};
        SimHandheld h;
        SimDevice d = HandheldDevice(h, Sending("abc\x1A", 10));
        SimResult r = RunSimTransfer(o, d);
        EXPECT_EQ(RC_CANCELLED, r.resultCode);
        EXPECT_EQ(90000u, r.endMs);
        EXPECT_TRUE(r.timerPeriods.empty());
        EXPECT_TRUE(r.writes.empty());
    }
}

TEST(LinkEntry, ButtonPressAfterTheEndChangesNothing)
{
    std::string data = "done\x1A";
    SimHandheld h;
    SimDevice d = HandheldDevice(h, Sending(data, 10));
    SimResult r = RunSimTransfer(Raw(0), d);
    ASSERT_EQ(RC_OK, r.resultCode);
    EXPECT_FALSE(OnStatusCancel());
    EXPECT_EQ(RC_OK, transferState.resultCode);
}

}   // namespace
