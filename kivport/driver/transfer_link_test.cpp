// Transfers through kivport.dll's exports under Wine, loaded by name as the
// desktop application loads it, with kivsim playing the handheld on a
// pseudo-terminal behind the COM port: blocks of every awkward size both ways
// byte for byte, the line settings and modem lines the port really got (read
// from the preload library's log), and cancels that must hand back no block.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include "kivtest.h"

namespace {

const int kPort = 6;
const wchar_t kStatusCaption[] = L"通信状況表示";

typedef HGLOBAL(WINAPI* ReceiveFn)(const void* setup, int16_t* result);
typedef int16_t(WINAPI* SendFn)(const void* setup, HGLOBAL block);
typedef HGLOBAL(WINAPI* LoadFileFn)(const char* path, int16_t* result);

struct Driver {
    HMODULE dll;
    ReceiveFn receive;
    SendFn send;
    LoadFileFn loadFile;
};

const Driver& Kivport()
{
    static Driver d = [] {
        Driver k = {};
        k.dll = LoadKivLibrary("kivport.dll");
        if (k.dll) {
            k.receive = GetExport<ReceiveFn>(k.dll, "_KivReceiveData@8");
            k.send = GetExport<SendFn>(k.dll, "_KivSendData@8");
            k.loadFile = GetExport<LoadFileFn>(k.dll, "_KivLoadFile@8");
            WidenComOpens(k.dll);
        }
        return k;
    }();
    return d;
}

// The settings a caller fills in: IRMode 0 cable, 2 IrDA.
struct Line {
    int irMode;
    int32_t speed;
    int parity;   // 0 none, 1 odd, 2 even
    int length;
    int stop;
    int csMon;
    int xFlow;
};

const Line kCable115200 = {0, 115200, 0, 8, 1, 0, 0};

// The caller's PortSetup record as bytes: 18 of them, little-endian, packed.
std::vector<uint8_t> SetupRecord(const Line& l, int port = kPort)
{
    std::vector<uint8_t> r;
    auto put16 = [&r](int v) {
        r.push_back((uint8_t)(v & 0xFF));
        r.push_back((uint8_t)((v >> 8) & 0xFF));
    };
    put16(port);
    put16(l.irMode);
    put16(l.speed & 0xFFFF);
    put16((l.speed >> 16) & 0xFFFF);
    put16(l.parity);
    put16(l.length);
    put16(l.stop);
    put16(l.csMon);
    put16(l.xFlow);
    return r;
}

std::string FormatFlag(const Line& l)
{
    static const char parity[] = "NOE";
    return std::to_string(l.length) + parity[l.parity] + std::to_string(l.stop);
}

// kivsim's line flags for the settings of a record.
std::string SimArgs(const Line& l)
{
    return "--baud " + std::to_string(l.speed) + " --format " + FormatFlag(l) + " --linger 1000 ";
}

struct Received {
    int16_t code;
    bool block;
    std::string bytes;
};

Received Receive(const Line& l, int port = kPort)
{
    std::vector<uint8_t> setup = SetupRecord(l, port);
    Received r = {-1, false, ""};
    HGLOBAL h = Kivport().receive(setup.data(), &r.code);
    if (h) {
        r.block = true;
        const char* p = static_cast<const char*>(GlobalLock(h));
        // A received block grows in steps: the NUL ends the data, and the
        // bytes behind it up to the block's size are not the data's.
        size_t size = GlobalSize(h);
        r.bytes.assign(p, strnlen(p, size));
        EXPECT_LT(r.bytes.size(), size) << "the block must end with a NUL";
        GlobalUnlock(h);
        GlobalFree(h);
    }
    return r;
}

HGLOBAL MakeBlock(const std::string& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size() + 1);
    char* p = static_cast<char*>(GlobalLock(h));
    memcpy(p, bytes.c_str(), bytes.size() + 1);
    GlobalUnlock(h);
    return h;
}

int16_t Send(const Line& l, HGLOBAL block, int port = kPort)
{
    std::vector<uint8_t> setup = SetupRecord(l, port);
    return Kivport().send(setup.data(), block);
}

// Bytes of every value that a block and the raw stream can carry: no NUL
// (ends a block), no 0x1A (ends a receive), no XON/XOFF (flow control).
std::string Pattern(size_t n, uint32_t seed)
{
    std::string s;
    uint32_t x = seed * 2654435761u + 1;
    while (s.size() < n) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        uint8_t b = (uint8_t)(x >> 24);
        if (b != 0 && b != 0x1A && b != 0x11 && b != 0x13)
            s.push_back((char)b);
    }
    return s;
}

class TransferLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, Kivport().dll);
        ASSERT_NE(nullptr, Kivport().receive);
        ASSERT_NE(nullptr, Kivport().send);
    }
    FocusWindow focus;
};

TEST_F(TransferLink, CableReceiveDeliversEverySizeByteForByte)
{
    struct Row {
        size_t dataBytes;    // before the end byte
        const char* extra;   // more kivsim flags
    } rows[] = {
        {0, ""}, {1, ""}, {2, ""}, {511, ""}, {512, ""}, {30000, ""}, {3000, "--piece 700 --gap 300"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.dataBytes) + " " + row.extra);
        KivSim sim;
        ASSERT_TRUE(StartKivsim(sim, kPort,
                                SimArgs(kCable115200) + "--role send --pattern binary --size " +
                                    std::to_string(row.dataBytes) + " --seed " +
                                    std::to_string(row.dataBytes) + " --eof " + row.extra));
        Received r = Receive(kCable115200);
        ASSERT_TRUE(WaitKivsimRecord(sim, 10000));
        std::string sent = KivsimSent(sim);
        ASSERT_EQ(row.dataBytes + 1, sent.size());
        EXPECT_EQ(0, r.code);
        EXPECT_TRUE(r.block);
        EXPECT_TRUE(r.bytes == sent) << "received " << r.bytes.size() << " of " << sent.size();
    }
}

// The writes that reach the line, from the preload log: one for a block of
// one or two bytes, then the last byte alone for a block that fits one chunk,
// chunks of 512 bytes beyond.
TEST_F(TransferLink, CableSendDeliversEverySizeByteForByteWithNothingAdded)
{
    std::vector<int> big(58, 512);
    big.push_back(304);
    struct Row {
        size_t n;
        std::vector<int> writes;
    } rows[] = {
        {1, {1}}, {2, {2}}, {3, {2, 1}}, {512, {511, 1}}, {513, {512, 1}}, {30000, big},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.n);
        std::string data = Pattern(row.n, (uint32_t)row.n);
        size_t mark = PtyLogMark();
        KivSim sim;
        ASSERT_TRUE(StartKivsim(sim, kPort,
                                SimArgs(kCable115200) + "--role receive --no-eof-stop --count " +
                                    std::to_string(row.n)));
        HGLOBAL block = MakeBlock(data);
        EXPECT_EQ(0, Send(kCable115200, block));
        ASSERT_TRUE(WaitKivsimRecord(sim, 15000));
        std::string got = KivsimReceived(sim);
        EXPECT_TRUE(got == data) << "handheld got " << got.size() << " of " << row.n;
        std::vector<int> writes;
        for (const std::string& line : PtyLogLines(mark, sim.pts))
            if (line.find(" write ") != std::string::npos)
                writes.push_back(atoi(LogField(line, "bytes").c_str()));
        EXPECT_EQ(row.writes, writes);
        // The caller's block is read, never changed or freed.
        char* p = static_cast<char*>(GlobalLock(block));
        ASSERT_NE(nullptr, p);
        EXPECT_TRUE(data == p);
        GlobalUnlock(block);
        GlobalFree(block);
    }
}

TEST_F(TransferLink, BlockLoadedFromAFileIsSentUpToItsNul)
{
    TempFolder folder;
    std::string file = folder.File("block.bin");
    WriteFileBytes(file, std::string("Kcsv,1\r\nabc\0after the NUL", 26));
    int16_t loadResult = 0;
    HGLOBAL block = Kivport().loadFile(file.c_str(), &loadResult);
    ASSERT_NE(nullptr, block);
    KivSim sim;
    ASSERT_TRUE(StartKivsim(sim, kPort, SimArgs(kCable115200) + "--role receive --no-eof-stop --count 11"));
    EXPECT_EQ(0, Send(kCable115200, block));
    ASSERT_TRUE(WaitKivsimRecord(sim, 10000));
    EXPECT_EQ("Kcsv,1\r\nabc", KivsimReceived(sim));
    GlobalFree(block);
}

// USB adapters are often COM10 and above: the record's port 12 is opened
// through the device namespace, where such ports are found.
TEST_F(TransferLink, PortAboveNineCarriesABlockBothWays)
{
    for (bool send : {true, false}) {
        SCOPED_TRACE(send ? "send" : "receive");
        TakeComOpenNames();
        KivSim sim;
        if (send) {
            std::string data = Pattern(700, 12);
            ASSERT_TRUE(StartKivsim(sim, 12, SimArgs(kCable115200) + "--role receive --count 700"));
            HGLOBAL block = MakeBlock(data);
            EXPECT_EQ(0, Send(kCable115200, block, 12));
            GlobalFree(block);
            ASSERT_TRUE(WaitKivsimRecord(sim, 10000));
            EXPECT_TRUE(KivsimReceived(sim) == data) << "handheld got " << KivsimReceived(sim).size();
        } else {
            ASSERT_TRUE(StartKivsim(
                sim, 12, SimArgs(kCable115200) + "--role send --pattern binary --size 700 --seed 12 --eof"));
            Received r = Receive(kCable115200, 12);
            ASSERT_TRUE(WaitKivsimRecord(sim, 10000));
            EXPECT_EQ(0, r.code);
            EXPECT_TRUE(r.bytes == KivsimSent(sim)) << "received " << r.bytes.size();
        }
        EXPECT_EQ(std::vector<std::string>{"\\\\.\\COM12"}, TakeComOpenNames());
    }
}

// A UART driver reports output held while CTS is down and the handshake is
// on; Wine's serial layer never reports a hold. The DLL's ClearCommError is
// given the hold from the modem status, which the preload library takes from
// kivsim's adapter, so an IrDA send can see the adapter's CTS.
decltype(&ClearCommError) realClearCommError;
BOOL WINAPI ClearCommErrorWithHold(HANDLE port, LPDWORD errors, LPCOMSTAT stat)
{
    BOOL ok = realClearCommError(port, errors, stat);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    DWORD modem = 0;
    if (ok && stat && GetCommState(port, &dcb) && dcb.fOutxCtsFlow && GetCommModemStatus(port, &modem))
        stat->fCtsHold = (modem & MS_CTS_ON) ? 0 : 1;
    return ok;
}

// The IrDA link end to end: a receive, and a send that the adapter completes
// by dropping CTS once the block has come (after the wake byte that brought
// its link up), or ends with 3 by dropping it before.
TEST_F(TransferLink, IrdaSendAndReceiveCompleteEndToEnd)
{
    static bool patched = (realClearCommError = reinterpret_cast<decltype(&ClearCommError)>(
                               PatchImport(Kivport().dll, "kernel32.dll", "ClearCommError",
                                           reinterpret_cast<void*>(ClearCommErrorWithHold)))) != nullptr;
    ASSERT_TRUE(patched) << "the DLL does not read the port's status with ClearCommError";
    const Line irda = {2, 115200, 0, 8, 1, 0, 0};
    const char adapter[] = "--role receive --no-eof-stop --count 3000 --irda-adapter ";
    const struct {
        bool send;
        std::string sim;
        int16_t code;
        const char* event;   // in kivsim's log
    } rows[] = {
        {false, "--role send --pattern text --size 5000 --eof --piece 1024 --gap 200", 0, "end reason=sent"},
        {true, adapter, 0, "cts up"},
        {true, adapter + std::string("--cts-drop-after 1000"), 3, "cts down: link lost"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sim);
        KivSim sim;
        ASSERT_TRUE(StartKivsim(sim, kPort, SimArgs(irda) + row.sim));
        std::string data = Pattern(3000, 3);
        if (row.send) {
            HGLOBAL block = MakeBlock(data);
            EXPECT_EQ(row.code, Send(irda, block));
            GlobalFree(block);
            ASSERT_TRUE(StopKivsim(sim));   // an adapter stays on the line until stopped
            if (row.code == 0) {
                EXPECT_TRUE(KivsimReceived(sim) == data) << "handheld got " << KivsimReceived(sim).size();
            }
        } else {
            Received r = Receive(irda);
            ASSERT_TRUE(WaitKivsimRecord(sim, 10000));
            EXPECT_EQ(row.code, r.code);
            EXPECT_TRUE(r.bytes == KivsimSent(sim)) << "received " << r.bytes.size();
        }
        EXPECT_NE(std::string::npos, KivsimLog(sim).find(row.event)) << KivsimLog(sim);
    }
}

// What the port was set to, from the preload log: the last frame format the
// driver asked for and the modem-line requests in order.
TEST_F(TransferLink, PortGetsTheRecordsLineSettingsAndDropsDtrAndRtsAtTheEnd)
{
    struct Row {
        bool send;
        Line line;
        const char* speed;
        const char* data;
        const char* parity;
        const char* stop;
        const char* crtscts;
        const char* xon;
    } rows[] = {
        {false, {0, 9600, 0, 8, 1, 0, 0}, "9600", "8", "n", "1", "0", "0"},
        {false, {0, 38400, 1, 7, 2, 1, 1}, "38400", "7", "o", "2", "1", "1"},
        {true, {0, 19200, 2, 8, 1, 0, 1}, "19200", "8", "e", "1", "0", "1"},
        {true, {0, 115200, 2, 7, 2, 1, 0}, "115200", "7", "e", "2", "1", "0"},
        // IrDA runs with RTS/CTS and without XON/XOFF, whatever the record says.
        {false, {2, 57600, 0, 8, 1, 0, 1}, "57600", "8", "n", "1", "1", "0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.send ? "send " : "receive ") + row.speed + " " + FormatFlag(row.line));
        size_t mark = PtyLogMark();
        KivSim sim;
        if (row.send) {
            ASSERT_TRUE(StartKivsim(sim, kPort, SimArgs(row.line) + "--role receive --count 3"));
            HGLOBAL block = MakeBlock("abc");
            EXPECT_EQ(0, Send(row.line, block));
            GlobalFree(block);
        } else {
            ASSERT_TRUE(StartKivsim(sim, kPort, SimArgs(row.line) + "--role send --size 0 --eof"));
            EXPECT_EQ(0, Receive(row.line).code);
        }
        ASSERT_TRUE(WaitKivsimRecord(sim, 10000));

        std::string termios, modem;
        std::vector<std::string> modemLines;
        for (const std::string& line : PtyLogLines(mark, sim.pts)) {
            if (line.find(" termios ") != std::string::npos)
                termios = line;
            if (line.find(" modem ") != std::string::npos)
                modemLines.push_back(LogField(line, "dtr") + LogField(line, "rts"));
        }
        ASSERT_FALSE(termios.empty()) << "no line settings were logged";
        EXPECT_EQ(row.speed, LogField(termios, "speed"));
        EXPECT_EQ(row.data, LogField(termios, "data"));
        EXPECT_EQ(row.parity, LogField(termios, "parity"));
        EXPECT_EQ(row.stop, LogField(termios, "stop"));
        EXPECT_EQ(row.crtscts, LogField(termios, "crtscts"));
        EXPECT_EQ(row.xon, LogField(termios, "ixon"));
        EXPECT_EQ(row.xon, LogField(termios, "ixoff"));
        // Raised while the transfer ran; at the end DTR drops, then RTS.
        ASSERT_GE(modemLines.size(), 3u);
        EXPECT_NE(modemLines.end(), std::find(modemLines.begin(), modemLines.end(), "11"));
        EXPECT_EQ("01", modemLines[modemLines.size() - 2]);
        EXPECT_EQ("00", modemLines.back());
    }
}

TEST_F(TransferLink, ReceiveCancelledAfterPartOfABlockHandsBackNoBlock)
{
    KivSim sim;
    ASSERT_TRUE(StartKivsim(sim, kPort,
                            SimArgs(kCable115200) + "--role send --pattern text --size 3000 --linger 20000"));
    Received r = {};
    WithDriver(
        [] {
            HWND dlg = WaitForWindow(kStatusCaption, nullptr, 5000);
            ASSERT_NE(nullptr, dlg);
            Sleep(1000);   // the 3000 bytes have crossed by now
            SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
        },
        [&r] { r = Receive(kCable115200); });
    EXPECT_EQ(255, r.code);
    EXPECT_FALSE(r.block);
    ASSERT_TRUE(StopKivsim(sim));
    EXPECT_EQ(3000u, KivsimSent(sim).size());
}

// The IR link kind: the record asks for anything, the line runs at 9600 baud,
// 8 data bits, odd parity, no flow control; the line device is probed and
// set up first; then the framed protocol carries the block.
const Line kIrRecord = {1, 38400, 0, 8, 2, 1, 1};
const char kIrSim[] = "--baud 9600 --format 8O1 --probe-answer f4 --linger 500 ";

// Bytes for kivsim to send, in a file it can read.
std::string SimDataFile(const std::string& bytes)
{
    std::string unix = UnixTempPath("kivir") + ".bin";
    WriteFileBytes("Z:" + unix, bytes);
    return unix;
}

std::vector<std::string> Writes(const std::vector<std::string>& log)
{
    std::vector<std::string> writes;
    for (const std::string& line : log)
        if (line.find(" write ") != std::string::npos)
            writes.push_back(line);
    return writes;
}

TEST_F(TransferLink, IrBlocksBothWaysAfterTheLineDeviceIsSetUp)
{
    for (size_t n : {1, 600, 5000}) {
        SCOPED_TRACE(n);
        std::string data = Pattern(n, (uint32_t)n + 7);
        {
            size_t mark = PtyLogMark();
            KivSim sim;
            ASSERT_TRUE(
                StartKivsim(sim, kPort, std::string(kIrSim) + "--role ir-send --data " + SimDataFile(data)));
            Received r = Receive(kIrRecord);
            ASSERT_TRUE(WaitKivsimRecord(sim, 30000));
            EXPECT_EQ(0, r.code);
            EXPECT_TRUE(r.bytes == data) << "received " << r.bytes.size() << " of " << n;
            EXPECT_NE(std::string::npos, KivsimLog(sim).find("setup 0b 21 37 45 50 64 70 d1 56 d0 87 91 11"));
            // By the first frame (the SYN, eight bytes) the IR settings are in force.
            std::string settings;
            for (const std::string& line : PtyLogLines(mark, sim.pts)) {
                if (line.find(" termios ") != std::string::npos)
                    settings = line;
                if (line.find(" write ") != std::string::npos && LogField(line, "bytes") == "8")
                    break;
            }
            EXPECT_EQ("9600 8 o 1 0 0", LogField(settings, "speed") + " " + LogField(settings, "data") + " " +
                                            LogField(settings, "parity") + " " + LogField(settings, "stop") +
                                            " " + LogField(settings, "crtscts") + " " +
                                            LogField(settings, "ixon"));
        }
        {
            KivSim sim;
            ASSERT_TRUE(StartKivsim(sim, kPort, std::string(kIrSim) + "--role ir-receive"));
            HGLOBAL block = MakeBlock(data);
            EXPECT_EQ(0, Send(kIrRecord, block));
            GlobalFree(block);
            ASSERT_TRUE(WaitKivsimRecord(sim, 30000));
            EXPECT_TRUE(KivsimReceived(sim) == data) << "the handheld took " << KivsimReceived(sim).size();
        }
    }
}

// The probe as the line sees it: RTS dropped, then after two waits of 50 ms
// DTR dropped, then 0xF0. Only the order and the waits' least length are
// checked: a busy machine makes every step later, never earlier. The waits
// count GetTickCount's milliseconds, so each may be short by up to one.
TEST_F(TransferLink, IrProbeDropsRtsThenDtrBeforeItsByte)
{
    size_t mark = PtyLogMark();
    KivSim sim;
    ASSERT_TRUE(StartKivsim(sim, kPort, std::string(kIrSim) + "--role ir-send --size 10"));
    EXPECT_EQ(0, Receive(kIrRecord).code);
    ASSERT_TRUE(WaitKivsimRecord(sim, 30000));
    // The last drop of each line before the probe byte is the probe's own.
    double rtsLow = 0, dtrLow = 0, probe = 0;
    for (const std::string& line : PtyLogLines(mark, sim.pts)) {
        if (line.find(" write ") != std::string::npos) {
            EXPECT_EQ("1", LogField(line, "bytes"));
            probe = LogTime(line);
            break;
        }
        if (line.find(" modem ") == std::string::npos)
            continue;
        if (LogField(line, "dtr") == "1" && LogField(line, "rts") == "0")
            rtsLow = LogTime(line);
        if (LogField(line, "dtr") == "0")
            dtrLow = LogTime(line);
    }
    ASSERT_TRUE(rtsLow && dtrLow && probe);
    EXPECT_GE(dtrLow - rtsLow, 98.0);
    EXPECT_LE(dtrLow, probe);
}

// The handheld misbehaving on the line, and how each transfer ends.
TEST_F(TransferLink, IrHandheldFaultsEndAsTheProtocolSays)
{
    struct Row {
        const char* what;
        bool pcSends;
        const char* plan;   // one fault per frame the handheld takes or sends
        int16_t code;
        size_t pcShortFrames;   // control frames the PC wrote, 0: not checked
    } rows[] = {
        {"NAK, then the block again", true, "none,none,none,NAK-for-ACK", 0, 0},
        {"three NAKs", true,
         "none,none,corrupt-incoming,none,none,none,corrupt-incoming,none,none,none,corrupt-incoming", 2, 0},
        {"CAN for SYN", true, "none,CAN", 255, 0},
        {"bad checksum answered with NAK, then taken", false, "none,none,corrupt-checksum", 0, 4},
    };
    std::string data = Pattern(300, 3);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        size_t mark = PtyLogMark();
        KivSim sim;
        std::string plan = std::string("--plan ") + row.plan + " ";
        if (row.pcSends) {
            ASSERT_TRUE(
                StartKivsim(sim, kPort, std::string(kIrSim) + plan + "--role ir-receive --timeout 30000"));
            HGLOBAL block = MakeBlock(data);
            EXPECT_EQ(row.code, Send(kIrRecord, block));
            GlobalFree(block);
            ASSERT_TRUE(StopKivsim(sim));
            if (row.code == 0) {
                EXPECT_TRUE(KivsimReceived(sim) == data);
            }
        } else {
            ASSERT_TRUE(StartKivsim(
                sim, kPort, std::string(kIrSim) + plan + "--role ir-send --data " + SimDataFile(data)));
            Received r = Receive(kIrRecord);
            ASSERT_TRUE(WaitKivsimRecord(sim, 30000));
            EXPECT_EQ(row.code, r.code);
            EXPECT_TRUE(r.bytes == data);
            size_t shortFrames = 0;
            for (const std::string& w : Writes(PtyLogLines(mark, sim.pts)))
                shortFrames += LogField(w, "bytes") == "8";
            EXPECT_EQ(row.pcShortFrames, shortFrames) << "SYN, NAK, SYN, ACK";
        }
    }
}

TEST_F(TransferLink, IrReceiveCancelledHandsBackNoBlock)
{
    KivSim sim;
    ASSERT_TRUE(StartKivsim(sim, kPort, std::string(kIrSim) + "--role ir-send --size 5000 --timeout 30000"));
    Received r = {};
    WithDriver(
        [] {
            HWND dlg = WaitForWindow(kStatusCaption, nullptr, 5000);
            ASSERT_NE(nullptr, dlg);
            Sleep(2500);   // a few blocks have been taken by now
            SendMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
        },
        [&r] { r = Receive(kIrRecord); });
    EXPECT_EQ(255, r.code);
    EXPECT_FALSE(r.block);
    ASSERT_TRUE(StopKivsim(sim));
}

}   // namespace
