// The link timer and the raw stream against the simulated line: deadlines,
// the write pattern of a send, the end mark of a receive, and every way a
// transfer ends.
#include <gtest/gtest.h>
#include "link_sim.h"

namespace {

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = (char)('!' + (i * 7) % 90);   // no NUL, no 0x1A
    return s;
}

SimOptions Raw(int direction, int linkKind = LINK_CABLE, uint32_t baud = 9600)
{
    SimOptions o;
    o.direction = direction;
    o.linkKind = linkKind;
    o.line.baudRate = baud;
    o.line.ctsFlow = linkKind == LINK_IRDA;
    return o;
}

// kivsim's handheld model in the roles these tests need: sending bytes in
// pieces with pauses after each, or listening (and, when it talks, saying
// "?" once 400 bytes have come: about half a second into a 9600-baud send).
SimScenario Sending(const std::string& bytes, uint32_t piece, uint32_t gapMs, uint32_t delayMs)
{
    SimScenario s;
    s.role = ROLE_RAW_SEND;
    s.sendData.assign(bytes.begin(), bytes.end());
    s.pieceSize = piece;
    s.gapMs = gapMs;
    s.delayMs = delayMs;
    return s;
}

SimScenario Listening(bool talks = false)
{
    SimScenario s;
    s.role = talks ? ROLE_RAW_RECEIVE : ROLE_SILENT;
    s.stopAtEof = false;
    if (talks) {
        s.inject = {'?'};
        s.injectAfter = 400;
    }
    return s;
}

std::string Received(const SimHandheld& h) { return std::string(h.received.begin(), h.received.end()); }

std::vector<size_t> WriteSizes(const SimResult& r)
{
    std::vector<size_t> sizes;
    for (const SimWrite& w : r.writes)
        sizes.push_back(w.bytes.size());
    return sizes;
}

// A listener whose IrDA link reports the output held by CTS once it has
// everything: how an IrDA send learns that it is complete.
SimDevice IrdaListener(std::string& got, size_t expect)
{
    SimDevice d;
    d.received = [&got, expect](VirtualLine& line, uint8_t b) {
        got.push_back((char)b);
        if (got.size() == expect)
            line.ctsHold = true;
        return SIM_NEVER;
    };
    return d;
}

TEST(LinkTimer, DeadlinesRunInTicksAndOneShorterPeriod)
{
    struct Row {
        int direction;
        uint32_t deadline;
        std::vector<uint64_t> ticks;   // when the timer fires up to the expiry
    } rows[] = {
        {0, 2500, {1000, 2000, 2500}},
        {0, 1000, {1000}},
        {0, 700, {700}},
        {1, 250, {100, 200, 250}},   // sending raw: 100 ms ticks
        {1, 100, {100}},
    };
    for (const Row& row : rows) {
        SimOptions o = Raw(row.direction);
        o.line.ctsFlow = 1;   // a send that never gets to write
        SimDevice quiet;
        SimResult r;
        o.afterStart = [&] {
            ArmTimer(row.deadline);
            if (row.direction == 1)
                o.actions.clear();
        };
        o.actions = {{0, SIM_CTS_HOLD}};
        r = RunSimTransfer(o, quiet);
        EXPECT_EQ(RC_TIMEOUT, r.resultCode) << row.deadline;
        EXPECT_EQ(row.ticks, r.ticksMs) << row.deadline;
        EXPECT_EQ(row.ticks.back(), r.endMs) << row.deadline;
    }
}

TEST(LinkTimer, SixMinutesWithoutProgressEndWithTimeout)
{
    SimDevice quiet;
    SimResult receive = RunSimTransfer(Raw(0), quiet);
    EXPECT_EQ(RC_TIMEOUT, receive.resultCode);
    EXPECT_EQ(360000u, receive.endMs);
    EXPECT_FALSE(receive.gotBlock);

    // A send held by CTS never writes; a receive that got some bytes times
    // out six minutes after the last of them.
    SimOptions held = Raw(1);
    held.line.ctsFlow = 1;
    held.block = "abc";
    held.actions = {{0, SIM_CTS_HOLD}};
    SimResult send = RunSimTransfer(held, quiet);
    EXPECT_EQ(RC_TIMEOUT, send.resultCode);
    EXPECT_EQ(360000u, send.endMs);
    EXPECT_TRUE(send.writes.empty());

    SimHandheld h;
    SimDevice partial = HandheldDevice(h, Sending("partial", 7, 0, 5000));
    SimResult r = RunSimTransfer(Raw(0), partial);
    EXPECT_EQ(RC_TIMEOUT, r.resultCode);
    EXPECT_NEAR(365000.0, (double)r.endMs, 1000.0);
    EXPECT_FALSE(r.gotBlock);
}

TEST(RawSend, WritesTheBlockInChunksWithTheLastByteOfOneChunkAlone)
{
    struct Row {
        int linkKind;
        size_t size;
        std::vector<size_t> writes;
    } rows[] = {
        {LINK_CABLE, 0, {}},
        {LINK_CABLE, 1, {1}},
        {LINK_CABLE, 2, {2}},
        {LINK_CABLE, 3, {2, 1}},
        {LINK_CABLE, 512, {511, 1}},
        {LINK_CABLE, 513, {512, 1}},
        {LINK_CABLE, 1100, {512, 512, 76}},
        {LINK_IRDA, 2, {2}},
        {LINK_IRDA, 1024, {1023, 1}},
        {LINK_IRDA, 1025, {1024, 1}},
        {LINK_IRDA, 3000, {1024, 1024, 952}},
    };
    for (const Row& row : rows) {
        SimOptions o = Raw(1, row.linkKind);
        o.block = Pattern(row.size);
        std::string irdaGot;
        SimHandheld h;
        SimDevice d = row.linkKind == LINK_IRDA ? IrdaListener(irdaGot, row.size)
                                                : HandheldDevice(h, Listening());
        SimResult r = RunSimTransfer(o, d);
        EXPECT_EQ(RC_OK, r.resultCode) << row.size;
        EXPECT_EQ(row.writes, WriteSizes(r)) << row.size;
        EXPECT_EQ(o.block, row.linkKind == LINK_IRDA ? irdaGot : Received(h))
            << "exactly the block, no end byte of its own: " << row.size;
    }
}

TEST(RawSend, StopsAtTheBlocksNulAndShowsProgressPerChunk)
{
    SimOptions o = Raw(1);
    o.block = Pattern(1100) + std::string(1, '\0') + "not sent";
    SimHandheld h;
    SimDevice d = HandheldDevice(h, Listening());
    SimResult r = RunSimTransfer(o, d);
    EXPECT_EQ(RC_OK, r.resultCode);
    EXPECT_EQ(Pattern(1100), Received(h));
    EXPECT_EQ((std::vector<uint32_t>{0, 512, 1024, 1100}), r.shownBytes);   // the waiting text first
}

TEST(RawSend, KeepsPaceWithTheLine)
{
    // 20 000 bytes at 9600 baud, 10 bits a byte: 20.8 s on the wire; the
    // 100 ms polls may add a tick per chunk at most.
    SimOptions o = Raw(1);
    o.block = Pattern(20000);
    SimHandheld h;
    SimDevice d = HandheldDevice(h, Listening());
    SimResult r = RunSimTransfer(o, d);
    EXPECT_EQ(RC_OK, r.resultCode);
    EXPECT_EQ(o.block, Received(h));
    EXPECT_LT(r.endMs, 20834u + 1000u);
}

// After its last chunk an IrDA send waits for the port to have sent
// everything and for the link's CTS hold that confirms it. A line held with
// bytes still queued is neither success nor a frozen dialog: the wait runs
// on the ticks, so Cancel and the deadline still end it.
TEST(RawSend, EndsOnlyWhenThePortHasSentEverything)
{
    struct Row {
        const char* what;
        std::vector<SimAction> actions;   // CTS held at 2500 ms with the last chunk queued
        int16_t code;
        bool allSent;
        uint64_t endFrom, endTo;
    } rows[] = {
        {"released later", {{2500, SIM_CTS_HOLD}, {8000, SIM_CTS_RELEASE}}, RC_OK, true, 8500, 9200},
        {"cancelled while held", {{2500, SIM_CTS_HOLD}, {5000, SIM_CANCEL}}, RC_CANCELLED, false, 5000, 5000},
        {"closed by the window system while held",
         {{2500, SIM_CTS_HOLD}, {6000, SIM_WINDOW_CLOSE}},
         RC_CANCELLED,
         false,
         6000,
         6000},
        {"held for good", {{2500, SIM_CTS_HOLD}}, RC_TIMEOUT, false, 362000, 362500},
    };
    for (const Row& row : rows) {
        SimOptions o = Raw(1, LINK_IRDA);
        o.block = Pattern(3000);
        o.actions = row.actions;
        std::string got;
        SimDevice d = IrdaListener(got, 3000);
        SimResult r = RunSimTransfer(o, d);
        EXPECT_EQ(row.code, r.resultCode) << row.what;
        EXPECT_EQ((std::vector<size_t>{1024, 1024, 952}), WriteSizes(r)) << row.what;
        ASSERT_LT(r.writes.back().atMs, 2500u) << "the last chunk is queued before the hold";
        EXPECT_EQ(row.allSent, o.block == got) << row.what;
        EXPECT_GE(r.endMs, row.endFrom) << row.what;
        EXPECT_LE(r.endMs, row.endTo) << row.what;
    }
}

TEST(RawReceive, EndsAtTheFirstEndMarkAndKeepsIt)
{
    struct Row {
        std::string sent;
        size_t piece;
        std::string block;
    } rows[] = {
        {"abc\x1A", 4, "abc\x1A"},
        {"abc\x1A"
         "def",
         7, "abc\x1A"},
        {"\x1A", 1, "\x1A"},
        {"ab\x1A\x1A", 4, "ab\x1A"},
        {Pattern(5000) + "\x1A" + "tail", 97, Pattern(5000) + "\x1A"},
        {Pattern(511) + "\x1A", 600, Pattern(511) + "\x1A"},
    };
    for (const Row& row : rows) {
        SimHandheld h;
        SimDevice d = HandheldDevice(h, Sending(row.sent, row.piece, 30, 1500));
        SimResult r = RunSimTransfer(Raw(0), d);
        ASSERT_EQ(RC_OK, r.resultCode) << row.block.size();
        ASSERT_TRUE(r.gotBlock);
        EXPECT_EQ(row.block, r.block);
        EXPECT_TRUE(r.blockTerminated);
        // Grown 512 bytes at a time, always with room for the NUL.
        EXPECT_EQ(0u, r.allocated % 512);
        EXPECT_GT(r.allocated, row.block.size());
        EXPECT_LT(r.allocated, row.block.size() + 1 + 512);
    }
}

TEST(RawReceive, IrdaPollsForInputAsWell)
{
    SimOptions o = Raw(0, LINK_IRDA, 115200);
    std::string data = Pattern(3000) + "\x1A";
    SimHandheld h;
    SimDevice d = HandheldDevice(h, Sending(data, 64, 1, 10));
    SimResult r = RunSimTransfer(o, d);
    EXPECT_EQ(RC_OK, r.resultCode);
    EXPECT_EQ(data, r.block);
}

// How a transfer ends when something goes wrong, and which code it reports.
TEST(RawTransfer, FailuresEndWithTheirOwnCode)
{
    struct Row {
        const char* what;
        int direction;
        int linkKind;
        std::function<void(SimOptions&)> setup;
        int16_t code;
    } rows[] = {
        {"input during a send", 1, LINK_CABLE, [](SimOptions& o) {}, RC_LINE_ERROR},
        {"input during an IrDA send", 1, LINK_IRDA, [](SimOptions& o) {}, RC_LINE_ERROR},
        {"cable write error", 1, LINK_CABLE, [](SimOptions& o) { o.failWriteAt = 2; }, RC_LINE_ERROR},
        {"first allocation fails", 0, LINK_CABLE, [](SimOptions& o) { o.failAllocAt = 1; }, RC_NO_MEMORY},
        {"growth fails", 0, LINK_CABLE, [](SimOptions& o) { o.failAllocAt = 3; }, RC_NO_MEMORY},
        {"line error", 0, LINK_CABLE,
         [](SimOptions& o) {
             o.actions = {{2000, SIM_LINE_ERROR}};
         },
         RC_LINE_ERROR},
        {"line error cleared by the port's own read", 0, LINK_CABLE,
         [](SimOptions& o) {
             o.readClearsErrors = true;
             o.actions = {{2000, SIM_LINE_ERROR}};
         },
         RC_LINE_ERROR},
        {"cancel during a receive", 0, LINK_CABLE,
         [](SimOptions& o) {
             o.actions = {{1200, SIM_CANCEL}};
         },
         RC_CANCELLED},
        {"cancel during a send", 1, LINK_CABLE,
         [](SimOptions& o) {
             o.actions = {{300, SIM_CANCEL}};
         },
         RC_CANCELLED},
        {"closed by the window system", 0, LINK_CABLE,
         [](SimOptions& o) {
             o.actions = {{1200, SIM_WINDOW_CLOSE}};
         },
         RC_CANCELLED},
    };
    for (const Row& row : rows) {
        SimOptions o = Raw(row.direction, row.linkKind);
        o.block = Pattern(3000);
        row.setup(o);
        SimHandheld sender, listener;
        SimDevice talker = HandheldDevice(sender, Sending(Pattern(3000) + "\x1A", 100, 10, 1000));
        SimDevice talkingListener = HandheldDevice(listener,
                                                   Listening(true));   // only heard when the PC sends
        SimResult r = RunSimTransfer(o, row.direction == 1 ? talkingListener : talker);
        EXPECT_EQ(row.code, r.resultCode) << row.what;
        EXPECT_FALSE(r.gotBlock) << row.what;
        EXPECT_NE(SIM_NEVER, r.endMs) << row.what;
        if (row.code == RC_LINE_ERROR && row.direction == 1 && !o.failWriteAt) {
            EXPECT_EQ(LINK_PURGE_TXCLEAR | LINK_PURGE_RXCLEAR, r.purges.back()) << row.what;
        }
    }
}

TEST(RawTransfer, IrdaWriteErrorsRetryTheSameBytes)
{
    SimOptions o = Raw(1, LINK_IRDA);
    o.block = Pattern(2500);
    o.failWriteAt = 2;
    o.failWriteCount = 3;
    std::string got;
    SimDevice d = IrdaListener(got, 2500);
    SimResult r = RunSimTransfer(o, d);
    EXPECT_EQ(RC_OK, r.resultCode);
    EXPECT_EQ(o.block, got);
    EXPECT_EQ((std::vector<size_t>{1024, 1024, 452}), WriteSizes(r));
}

TEST(RawTransfer, IrdaSendThatIsNeverConfirmedCanBeCancelledOrTimesOut)
{
    SimOptions o = Raw(1, LINK_IRDA);
    o.block = Pattern(100);
    SimHandheld h;
    SimDevice d = HandheldDevice(h, Listening());
    SimResult waited = RunSimTransfer(o, d);
    EXPECT_EQ(RC_TIMEOUT, waited.resultCode);
    EXPECT_EQ(o.block, Received(h));
    EXPECT_LT(waited.endMs, 361000u);

    o.actions = {{5000, SIM_CANCEL}};
    SimHandheld h2;
    SimDevice d2 = HandheldDevice(h2, Listening());
    SimResult cancelled = RunSimTransfer(o, d2);
    EXPECT_EQ(RC_CANCELLED, cancelled.resultCode);
    EXPECT_EQ(5000u, cancelled.endMs);
}

TEST(RawTransfer, WithoutATimerCommEventsStillCarryAReceive)
{
    SimOptions o = Raw(0);
    o.timerRefuses = true;
    std::string data = Pattern(2000) + "\x1A";
    SimHandheld h;
    SimDevice d = HandheldDevice(h, Sending(data, 50, 5, 100));
    SimResult r = RunSimTransfer(o, d);
    EXPECT_GT(r.timerFailures, 0);
    EXPECT_EQ(RC_OK, r.resultCode);
    EXPECT_EQ(data, r.block);
}

}   // namespace
