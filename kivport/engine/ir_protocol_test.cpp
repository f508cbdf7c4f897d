// The framed IR protocol against the simulated handheld: the wire bytes of
// the worked example, the deadlines of both roles, the frame parser, the
// handheld's faults, and a randomized campaign in which no transfer may end
// well with wrong data.
#include <gtest/gtest.h>
#include <deque>
#include "link_sim.h"
#include "memblock.h"

namespace {

std::string Bytes(size_t n, uint32_t seed = 1)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245 + 12345;
        s[i] = (char)(1 + (seed >> 16) % 255);   // never NUL: the block ends there
    }
    return s;
}

std::string Hex(const std::string& s)
{
    static const char* d = "0123456789ABCDEF";
    std::string h;
    for (unsigned char c : s) {
        h += d[c >> 4];
        h += d[c & 15];
        h += ' ';
    }
    return h;
}

// The PC sends `block` to the handheld, or takes the handheld's block.
struct IrRun {
    IrHandheld handheld;
    SimResult result;
};

// handheldSends: the PC receives the handheld's block, else sends its own.
IrRun Transfer(bool handheldSends, const std::string& block, std::vector<IrFault> plan, SimOptions o)
{
    IrRun run;
    run.handheld.sends = handheldSends;
    run.handheld.block = handheldSends ? block : "";
    run.handheld.plan = plan;
    o.block = handheldSends ? "" : block;
    SimDevice d = IrHandheldDevice(run.handheld);
    run.result = RunSimTransfer(o, d);
    return run;
}

IrRun Send(const std::string& block, std::vector<IrFault> plan = {}, SimOptions o = IrOptions(1))
{
    return Transfer(false, block, plan, o);
}

IrRun Receive(const std::string& block, std::vector<IrFault> plan = {}, SimOptions o = IrOptions(0))
{
    return Transfer(true, block, plan, o);
}

const std::string ENQ_FRAME("\0\0\0\0\0\x96\x82\x05", 8);
const std::string SYN_FRAME("\0\0\0\0\0\x96\x82\x16", 8);
const std::string ACK_FRAME("\0\0\0\0\0\x96\x82\x06", 8);

TEST(IrProtocol, WorkedExampleOnTheWire)
{
    EXPECT_EQ(0x0126, Checksum16((const uint8_t*)"abc", 3));

    std::string block = Bytes(600);
    IrRun send = Send(block);
    ASSERT_EQ(RC_OK, send.result.resultCode);
    EXPECT_EQ(block, send.handheld.received);
    const std::vector<SimWrite>& w = send.result.writes;
    ASSERT_EQ(4u, w.size());
    EXPECT_EQ(ENQ_FRAME, w[0].bytes);
    EXPECT_EQ(1000u, w[0].atMs);   // the first ENQ when the first deadline expires
    std::string first("\0\0\0\0\0\x96\x81\x10\x01\x00\x01\x40\xFE\x00\x02", 15);
    uint16_t sum1 = Checksum16((const uint8_t*)block.data(), 512);
    EXPECT_EQ(Hex(first + block.substr(0, 512) + (char)(sum1 & 0xFF) + (char)(sum1 >> 8)), Hex(w[1].bytes));
    EXPECT_EQ(ENQ_FRAME, w[2].bytes);
    std::string last("\0\0\0\0\0\x96\x81\x10\xFF\xFF\x01\x40\xFE\x58\x00", 15);
    uint16_t sum2 = Checksum16((const uint8_t*)block.data() + 512, 88);
    EXPECT_EQ(Hex(last + block.substr(512) + (char)(sum2 & 0xFF) + (char)(sum2 >> 8)), Hex(w[3].bytes));
    // Independent of the engine: the handheld's own encoding of the same frames.
    EXPECT_EQ(IrDataFrame(1, block.substr(0, 512)), w[1].bytes);
    EXPECT_EQ(IrDataFrame(0xFFFF, block.substr(512)), w[3].bytes);

    IrRun receive = Receive(block);
    ASSERT_EQ(RC_OK, receive.result.resultCode);
    EXPECT_EQ(block, receive.result.block);
    EXPECT_TRUE(receive.result.blockTerminated);
    std::vector<std::string> answers;
    for (const SimWrite& x : receive.result.writes)
        answers.push_back(x.bytes);
    EXPECT_EQ((std::vector<std::string>{SYN_FRAME, ACK_FRAME, SYN_FRAME, ACK_FRAME}), answers);
    EXPECT_EQ(1, receive.result.irLinePrepared);
}

TEST(IrProtocol, BlocksOfEverySizeBothWays)
{
    for (size_t n : {0, 1, 511, 512, 513, 1024, 1025, 5000}) {
        std::string block = Bytes(n, (uint32_t)n);
        IrRun send = Send(block);
        EXPECT_EQ(RC_OK, send.result.resultCode) << n;
        EXPECT_EQ(block, send.handheld.received) << n;
        size_t frames = 0;
        for (const SimWrite& w : send.result.writes)
            frames += (uint8_t)w.bytes[6] == FT_DATA;
        EXPECT_EQ(n <= 512 ? 1u : (n + 511) / 512, frames) << n;

        IrRun receive = Receive(block);
        EXPECT_EQ(RC_OK, receive.result.resultCode) << n;
        EXPECT_EQ(n > 0, receive.result.gotBlock) << "an empty block leaves nothing allocated";
        EXPECT_EQ(block, receive.result.block) << n;
    }
    IrRun empty = Send("");
    EXPECT_EQ(IrDataFrame(0xFFFF, ""), empty.result.writes.at(1).bytes);
}

// When each deadline expires and what the engine does then.
TEST(IrProtocol, Deadlines)
{
    // The handheld's frames in order, taken and sent: ENQ in, SYN out, data
    // in, ACK out. A silent handheld: ENQ every second, give-up at the 360th expiry.
    IrRun silent = Send("abc", {IRF_NONE, IRF_SILENCE});
    EXPECT_EQ(RC_RETRY_FAILED, silent.result.resultCode);
    ASSERT_EQ(359u, silent.result.writes.size());
    for (size_t i = 0; i < 359; i++)
        EXPECT_EQ((i + 1) * 1000, silent.result.writes[i].atMs);
    EXPECT_EQ(360000u, silent.result.endMs);

    // No SYN ... a refused block is announced again 100 ms after the NAK.
    IrRun nak = Send("abc", {IRF_NONE, IRF_NONE, IRF_NONE, IRF_NAK_FOR_ACK});
    EXPECT_EQ(RC_OK, nak.result.resultCode);
    EXPECT_EQ("abc", nak.handheld.received);
    const std::vector<SimWrite>& w = nak.result.writes;
    ASSERT_EQ(4u, w.size());   // ENQ, data, ENQ, data again
    uint64_t nakArrives = w[1].atMs + 20 * 11 * 1000 / 9600 + 5 + 8 * 11 * 1000 / 9600;
    EXPECT_NEAR((double)nakArrives + 100, (double)w[2].atMs, 3.0);

    // An ACK that never comes: again after 5000 ms and 100 ms more.
    IrRun lost = Send("abc", {IRF_NONE, IRF_NONE, IRF_NONE, IRF_DROP});
    EXPECT_EQ(RC_OK, lost.result.resultCode);
    EXPECT_EQ(lost.result.writes[1].atMs + 5100, lost.result.writes[2].atMs);

    // The third refusal of one block ends the send.
    IrRun refused = Send("abc", {IRF_NONE, IRF_NONE, IRF_CORRUPT_INCOMING, IRF_NONE, IRF_NONE, IRF_NONE,
                                 IRF_CORRUPT_INCOMING, IRF_NONE, IRF_NONE, IRF_NONE, IRF_CORRUPT_INCOMING});
    EXPECT_EQ(RC_RETRY_FAILED, refused.result.resultCode);
    EXPECT_EQ("", refused.handheld.received);

    // The next block is announced 100 ms after the ACK.
    IrRun two = Send(Bytes(600));
    uint64_t ackArrives = two.result.writes[1].atMs + (529 + 8) * 11 * 1000 / 9600 + 5;
    EXPECT_NEAR((double)ackArrives + 100, (double)two.result.writes[2].atMs, 3.0);

    // Receiving (ENQ out, SYN in, data out, ACK in): six minutes for the
    // first ENQ, ten seconds after a refusal.
    IrRun none = Receive("abc", {IRF_SILENCE});
    EXPECT_EQ(RC_TIMEOUT, none.result.resultCode);
    EXPECT_EQ(360000u, none.result.endMs);
    IrRun after = Receive("abc", {IRF_NONE, IRF_NONE, IRF_CORRUPT_DATA, IRF_NONE, IRF_SILENCE});
    EXPECT_EQ(RC_TIMEOUT, after.result.resultCode);
    EXPECT_EQ((std::vector<uint8_t>{NAK}),
              std::vector<uint8_t>{(uint8_t)after.result.writes.back().bytes[7]});
    EXPECT_EQ(after.result.writes.back().atMs + 10000, after.result.endMs);
    EXPECT_FALSE(after.result.gotBlock);

    // A control frame where data was due (a second ENQ) re-arms 400 ms; when
    // the data is lost too, that expiry counts as a loss and the handheld's
    // next announcement brings the block.
    IrRun wrong = Receive("abc", {IRF_REPEAT, IRF_NONE, IRF_DROP});
    EXPECT_EQ(RC_OK, wrong.result.resultCode);
    EXPECT_EQ("abc", wrong.result.block);

    // Three losses in a row without a block taken between them end the receive.
    IrRun three = Receive("abc", {IRF_NONE, IRF_NONE, IRF_CORRUPT_SUM, IRF_NONE, IRF_NONE, IRF_NONE,
                                  IRF_CORRUPT_SUM, IRF_NONE, IRF_NONE, IRF_NONE, IRF_CORRUPT_SUM});
    EXPECT_EQ(RC_RETRY_FAILED, three.result.resultCode);
    EXPECT_FALSE(three.result.gotBlock);

    // After the last block the receive ends when its ACK has left the port.
    IrRun done = Receive("abc");
    EXPECT_NEAR((double)done.result.writes.back().atMs + 8 * 11 * 1000 / 9600, (double)done.result.endMs,
                2.0);
}

// The handheld misbehaving once: the transfer still ends with the right
// data, or with the code the protocol gives that misbehaviour.
TEST(IrProtocol, HandheldFaults)
{
    struct Row {
        const char* what;
        bool handheldSends;
        std::vector<IrFault> plan;
        int16_t code;
    } rows[] = {
        {"repeated data frame", true, {IRF_NONE, IRF_NONE, IRF_REPEAT}, RC_OK},
        {"skipped block number", true, {IRF_NONE, IRF_NONE, IRF_SKIP_NUMBER}, RC_OK},
        {"frame in pieces", true, {IRF_SPLIT, IRF_NONE, IRF_SPLIT, IRF_NONE, IRF_SPLIT}, RC_OK},
        {"twelve preamble zeros", true, {IRF_LONG_PREAMBLE, IRF_NONE, IRF_LONG_PREAMBLE}, RC_OK},
        {"one preamble zero", true, {IRF_SHORT_PREAMBLE}, RC_OK},
        {"oversize length", true, {IRF_NONE, IRF_NONE, IRF_OVERSIZE}, RC_OK},
        {"bad checksum", true, {IRF_NONE, IRF_NONE, IRF_CORRUPT_SUM}, RC_OK},
        {"bad data byte", true, {IRF_NONE, IRF_NONE, IRF_CORRUPT_DATA}, RC_OK},
        {"late data", true, {IRF_NONE, IRF_NONE, IRF_DELAY}, RC_OK},
        {"CAN for SYN", false, {IRF_NONE, IRF_CAN}, RC_CANCELLED},
        {"another code for SYN", false, {IRF_NONE, IRF_OTHER_CODE}, RC_OK},
        {"repeated SYN", false, {IRF_NONE, IRF_REPEAT}, RC_OK},
        {"ACK in pieces", false, {IRF_NONE, IRF_NONE, IRF_NONE, IRF_SPLIT}, RC_OK},
        {"lost data frame", false, {IRF_NONE, IRF_NONE, IRF_LOSE_INCOMING}, RC_OK},
    };
    std::string block = Bytes(1500);
    for (const Row& row : rows) {
        IrRun run = row.handheldSends ? Receive(block, row.plan) : Send(block, row.plan);
        EXPECT_EQ(row.code, run.result.resultCode) << row.what;
        if (row.code != RC_OK)
            continue;
        EXPECT_EQ(block, row.handheldSends ? run.result.block : run.handheld.received) << row.what;
        EXPECT_EQ(row.plan.size() > 1 || row.plan[0] != IRF_NONE, !run.handheld.faultsUsed.empty())
            << row.what;
    }
}

// The port may go on reading a frame after the write was handed over, and
// a following write waits for it: every frame must reach the line as it was
// built, including one still pending when the engine builds the next.
TEST(IrProtocol, FramesReachTheLineIntactWhileTheirWritesPend)
{
    struct Row {
        const char* what;
        bool handheldSends;
        size_t size;
        uint32_t pendsMs;
        int16_t code;
    } rows[] = {
        {"send, every write pending a while", false, 1500, 40, RC_OK},
        {"receive, every answer pending a while", true, 1500, 40, RC_OK},
        // Each data frame outlives its 5 s deadline, so the block is
        // announced again while the frame is still being read.
        {"send, data frames pending past their deadline", false, 700, 5300, RC_RETRY_FAILED},
    };
    for (const Row& row : rows) {
        SimOptions o = IrOptions(row.handheldSends ? 0 : 1);
        o.writePendsMs = row.pendsMs;
        std::string block = Bytes(row.size, (uint32_t)row.pendsMs);
        IrRun run = Transfer(row.handheldSends, block, {}, o);
        EXPECT_EQ(row.code, run.result.resultCode) << row.what;
        if (row.code == RC_OK) {
            EXPECT_TRUE(block == (row.handheldSends ? run.result.block : run.handheld.received)) << row.what;
        }
        // What went on the line, frame by frame, against the frames the
        // handheld's own encoder makes.
        size_t dataFrames = 0;
        for (const SimWrite& w : run.result.writes) {
            ASSERT_GE(w.bytes.size(), 8u) << row.what;
            if (w.bytes.size() == 8) {
                std::string frame = ENQ_FRAME;
                frame[7] = w.bytes[7];
                EXPECT_EQ(Hex(frame), Hex(w.bytes)) << row.what;
                continue;
            }
            ASSERT_GT(w.bytes.size(), 10u) << row.what;
            dataFrames++;
            uint16_t no = (uint16_t)((uint8_t)w.bytes[8] | (uint8_t)w.bytes[9] << 8);
            size_t at = no == IR_LAST_BLOCK ? block.size() / 512 * 512 : (size_t)(no - 1) * 512;
            EXPECT_EQ(Hex(IrDataFrame(no, block.substr(at, 512))), Hex(w.bytes)) << row.what;
        }
        EXPECT_EQ(!row.handheldSends, dataFrames > 0) << row.what;
    }
}

// The parser on its own: bytes queued on a port, frames taken out.
struct Port {
    std::deque<uint8_t> in;
};
Port* port;
int32_t PortRead(KivHandle, uint8_t* b, uint32_t max)
{
    uint32_t n = 0;
    while (n < max && !port->in.empty()) {
        b[n++] = port->in.front();
        port->in.pop_front();
    }
    return (int32_t)n;
}
uint32_t TimerStarted(uint32_t) { return 1; }

TEST(IrProtocol, ParserFindsFramesInAnyPieces)
{
    LinkPlatform saved = linkPlatform;
    linkPlatform.readPort = PortRead;
    linkPlatform.setTimer = TimerStarted;
    Port p;
    port = &p;
    transferState.hPort = (KivHandle)1;
    std::string data = IrDataFrame(7, "hello");
    struct Row {
        std::string bytes;
        std::vector<std::string> frames;   // type, code and length of each frame found
    } rows[] = {
        {std::string("\0\0\x96\x82\x05", 5), {"82 05 0"}},
        {std::string("\0\x96\x82\x05", 4), {}},
        {std::string(12, '\0') + "\x96\x82\x06", {"82 06 0"}},
        {std::string("\0\0\x07\0\0\x96\x82\x16", 8), {"82 16 0"}},
        {std::string("\0\0\x96\x81\x10\x01\x00\x01\x40\xFE\x01\x03", 12) + data, {"81 10 5"}},
        {data + data.substr(0, 9), {"81 10 5"}},
        {IrDataFrame(0xFFFF, ""), {"81 10 0"}},
    };
    for (const Row& row : rows) {
        for (size_t piece = 1; piece <= row.bytes.size(); piece++) {
            parseStep = 0;
            std::vector<std::string> found;
            for (size_t i = 0; i < row.bytes.size(); i += piece) {
                for (char c : row.bytes.substr(i, piece))
                    p.in.push_back((uint8_t)c);
                while (ReadFrame()) {
                    char buf[32];
                    bool data = RxFrame.type == FT_DATA;
                    snprintf(buf, sizeof buf, "%02X %02X %u", RxFrame.type, RxFrame.code,
                             data ? RxFrame.length : 0);
                    found.push_back(buf);
                    if (data) {
                        EXPECT_EQ(Checksum16(RxFrame.data, RxFrame.length), RxFrame.checksum);
                    }
                }
            }
            EXPECT_EQ(row.frames, found) << Hex(row.bytes) << " in pieces of " << piece;
        }
    }
    transferState.hPort = KIV_INVALID_HANDLE;
    parseStep = 0;
    linkPlatform = saved;
}

TEST(IrProtocol, FrameThatArrivedBeatsTheDeadline)
{
    // The reader never forwards an event: the deadlines alone find the frames
    // that have arrived (SYN, ACK), and each is handled instead of its
    // deadline; else every deadline would only announce the block again.
    SimOptions deafSend = IrOptions(1);
    deafSend.readerDeaf = true;
    IrRun send = Send(Bytes(700), {}, deafSend);
    EXPECT_EQ(RC_OK, send.result.resultCode);
    EXPECT_EQ(Bytes(700), send.handheld.received);
}

TEST(IrProtocol, EndsOfTheTransferByTheUserOrMemory)
{
    SimOptions cancel = IrOptions(0);
    cancel.actions = {{1500, SIM_CANCEL}};
    IrRun cancelled = Receive(Bytes(3000), {}, cancel);
    EXPECT_EQ(RC_CANCELLED, cancelled.result.resultCode);
    EXPECT_FALSE(cancelled.result.gotBlock);
    EXPECT_EQ(LINK_PURGE_TXABORT | LINK_PURGE_RXABORT, cancelled.result.purges.back());

    SimOptions closed = IrOptions(1);
    closed.actions = {{1500, SIM_WINDOW_CLOSE}};
    EXPECT_EQ(RC_CANCELLED, Send(Bytes(3000), {}, closed).result.resultCode);

    for (long failAt : {1, 2, 3}) {
        SimOptions memory = IrOptions(0);
        memory.failAllocAt = failAt;
        IrRun r = Receive(Bytes(1800), {}, memory);
        EXPECT_EQ(RC_NO_MEMORY, r.result.resultCode) << failAt;
        EXPECT_FALSE(r.result.gotBlock);
    }

    // Past 65535 blocks a full block would carry the last block's number.
    IrRun tooLong = Send(std::string(65535u * 512u + 1, 'x'));
    EXPECT_EQ(RC_NO_MEMORY, tooLong.result.resultCode);
    EXPECT_TRUE(tooLong.result.writes.empty());
}

// Random faults from a seed, several a transfer, both directions: a transfer
// ends with 0 and the very block, or with a failure code and nothing.
TEST(IrProtocol, RandomFaultsNeverEndWellWithWrongData)
{
    int count[3] = {};
    std::string firstWrong;
    for (uint64_t seed = 1; seed <= 300; seed++) {
        CampaignRun run = RunCampaignTransfer(seed, true);
        count[run.outcome]++;
        if (run.outcome == CAMPAIGN_WRONG && firstWrong.empty())
            firstWrong = "seed " + std::to_string(seed) + " code " + std::to_string(run.result.resultCode);
    }
    EXPECT_EQ(0, count[CAMPAIGN_WRONG]) << firstWrong;
    EXPECT_GT(count[CAMPAIGN_OK], 150);
    EXPECT_GT(count[CAMPAIGN_FAILED], 10);
}

}   // namespace
