// The handheld's protocol side. It keeps its own frame parser and its own
// checks, written apart from the engine's, so the two sides check each other.
#include "ir_handheld.h"
#include <algorithm>

namespace {

enum : uint8_t { MARK = 0x96, T_DATA = 0x81, T_CONTROL = 0x82 };
enum : uint8_t { C_ENQ = 0x05, C_ACK = 0x06, C_NAK = 0x15, C_SYN = 0x16, C_CAN = 0x18 };
enum { SEND_WAIT_SYN = 1, SEND_WAIT_ACK = 2, RECEIVING = 3, GAVE_UP = 4 };
const uint64_t NEVER = UINT64_MAX;
const uint32_t SYN_WAIT_MS = 1500, ACK_WAIT_MS = 6000, NEXT_BLOCK_MS = 100;

uint64_t Next(IrHandheld& h)   // splitmix64
{
    uint64_t z = (h.rng += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t Below(IrHandheld& h, uint32_t n) { return n ? (uint32_t)(Next(h) % n) : 0; }

enum FrameKind { OUT_CONTROL, OUT_DATA, IN_CONTROL, IN_DATA };

bool Fits(IrFault f, FrameKind kind, uint8_t code)
{
    switch (f) {
    case IRF_DROP:
    case IRF_REPEAT:
    case IRF_SPLIT:
    case IRF_SHORT_PREAMBLE:
    case IRF_LONG_PREAMBLE:
    case IRF_DELAY:
    case IRF_SILENCE: return kind == OUT_CONTROL || kind == OUT_DATA;
    case IRF_CORRUPT_DATA:
    case IRF_CORRUPT_SUM:
    case IRF_SKIP_NUMBER:
    case IRF_OVERSIZE:
    case IRF_CANCELLING_PAIR:
    case IRF_RENUMBER:
    case IRF_NUMBER_TO_LAST: return kind == OUT_DATA;
    case IRF_CAN: return kind == OUT_CONTROL && code == C_SYN;
    case IRF_OTHER_CODE: return kind == OUT_CONTROL && (code == C_SYN || code == C_ACK);
    case IRF_NAK_FOR_ACK: return kind == OUT_CONTROL && code == C_ACK;
    case IRF_LOSE_INCOMING: return kind == IN_CONTROL || kind == IN_DATA;
    case IRF_CORRUPT_INCOMING: return kind == IN_DATA;
    default: return false;
    }
}

bool Undetectable(IrFault f)
{
    return f == IRF_CANCELLING_PAIR || f == IRF_RENUMBER || f == IRF_NUMBER_TO_LAST;
}

// The fault for the next frame: the plan's, else a random one that fits.
IrFault Roll(IrHandheld& h, FrameKind kind, uint8_t code)
{
    size_t serial = h.frameSerial++;
    IrFault f = IRF_NONE;
    if (serial < h.plan.size()) {
        f = h.plan[serial];
    } else if (h.rate > 0 && (double)(Next(h) >> 11) / 9007199254740992.0 < h.rate) {
        IrFault pick[IRF_COUNT];
        int n = 0;
        for (int i = IRF_NONE + 1; i < IRF_COUNT; i++) {
            IrFault c = (IrFault)i;
            if (Fits(c, kind, code) && Undetectable(c) != h.detectableOnly)
                pick[n++] = c;
        }
        if (n)
            f = pick[Below(h, (uint32_t)n)];
    }
    if (!Fits(f, kind, code))
        f = IRF_NONE;
    if (f != IRF_NONE)
        h.faultsUsed.push_back(f);
    return f;
}

uint16_t Sum(const std::string& data)
{
    uint32_t s = 0;
    for (unsigned char c : data)
        s += c;
    return (uint16_t)s;
}

void Queue(IrHandheld& h, uint64_t at, const std::string& bytes)
{
    if (!h.out.empty())
        at = std::max(at, h.out.back().first);   // the line keeps the order
    h.out.push_back({at, bytes});
}

// A frame as the handheld sends it: what it says, and the data its
// checksum covers (the true data, unless a fault sends another block whole).
struct OutFrame {
    uint8_t code;
    uint16_t blockNo;
    std::string data;
    std::string summed;
    bool isData;
};

// Bends what the frame says: its code, number or data. False when the fault
// sends nothing at all.
bool BendContent(IrHandheld& h, IrFault f, OutFrame& fr)
{
    std::string& d = fr.data;
    switch (f) {
    case IRF_DROP: return false;
    case IRF_SILENCE: h.silent = true; return false;
    case IRF_CAN: fr.code = C_CAN; break;
    case IRF_OTHER_CODE: fr.code = 0x42; break;
    case IRF_NAK_FOR_ACK: fr.code = C_NAK; break;
    case IRF_SKIP_NUMBER: {
        // The next block in place of this one, unless that is the last: a
        // last block out of turn would end the transfer, which no check sees.
        uint32_t next = h.offset + h.chunk;
        if (fr.blockNo == 0xFFFF || h.block.size() - next <= 512)
            break;
        fr.blockNo++;
        fr.summed = d = h.block.substr(next, 512);
        break;
    }
    case IRF_RENUMBER:
        if (fr.blockNo < 0xFFFE)
            fr.blockNo++;
        break;
    case IRF_NUMBER_TO_LAST: fr.blockNo = 0xFFFF; break;
    case IRF_CORRUPT_DATA:
        if (!d.empty())
            d[Below(h, (uint32_t)d.size())] ^= (char)(1 + Below(h, 255));
        break;
    case IRF_CANCELLING_PAIR:
        for (size_t i = 0; i + 1 < d.size(); i++) {
            unsigned char a = (unsigned char)d[i], b = (unsigned char)d[i + 1];
            if (a < 255 && b > 0) {
                d[i] = (char)(a + 1);
                d[i + 1] = (char)(b - 1);
                break;
            }
        }
        break;
    default: break;
    }
    return true;
}

// The wire bytes, with what the fault does to the sum, the length field or
// the preamble.
std::string WireBytes(IrHandheld& h, IrFault f, const OutFrame& fr)
{
    std::string frame = fr.isData ? IrDataFrame(fr.blockNo, fr.summed) : IrControlFrame(fr.code);
    if (fr.isData) {
        frame.replace(15, fr.data.size(), fr.data);   // the sum stays that of the true data
        if (f == IRF_CORRUPT_SUM)
            frame[15 + fr.data.size()] ^= (char)(1 + Below(h, 255));
        if (f == IRF_OVERSIZE) {
            frame[13] = 0x00;
            frame[14] = 0x03;   // 768 bytes
        }
    }
    if (f == IRF_SHORT_PREAMBLE)
        frame.erase(0, 4);
    if (f == IRF_LONG_PREAMBLE)
        frame.insert(0, 7, '\0');
    return frame;
}

// Queues the frame for time at, as the fault times it: late, in pieces, or twice.
void QueueTimed(IrHandheld& h, IrFault f, uint64_t at, const std::string& frame)
{
    if (f == IRF_DELAY)
        at += Below(h, 8000);
    if (f == IRF_SPLIT) {
        for (size_t i = 0; i < frame.size();) {
            size_t n = 1 + Below(h, 50);
            Queue(h, at, frame.substr(i, n));
            i += n;
            at += Below(h, 300);
        }
        return;
    }
    Queue(h, at, frame);
    if (f == IRF_REPEAT)
        Queue(h, at + 20, frame);
}

// Sends one frame at time at, as a fault may bend it.
void Emit(IrHandheld& h, uint64_t at, uint8_t code, uint16_t blockNo, const std::string& data, bool isData)
{
    if (h.silent)
        return;
    IrFault f = Roll(h, isData ? OUT_DATA : OUT_CONTROL, code);
    OutFrame fr = {code, blockNo, data, data, isData};
    if (!BendContent(h, f, fr))
        return;
    QueueTimed(h, f, at, WireBytes(h, f, fr));
}

void SendEnq(IrHandheld& h, uint64_t at)
{
    h.phase = SEND_WAIT_SYN;
    if (++h.enqSent > 360) {
        h.phase = GAVE_UP;
        h.deadline = NEVER;
        return;
    }
    Emit(h, at, C_ENQ, 0, "", false);
    h.deadline = at + SYN_WAIT_MS;
}

void PrepareBlock(IrHandheld& h)
{
    uint32_t rest = (uint32_t)h.block.size() - h.offset;
    if (rest > 512) {
        h.chunk = 512;
        h.blockNo++;
    } else {
        h.chunk = rest;
        h.blockNo = 0xFFFF;
    }
}

// A retry of the current block (after a NAK, a lost SYN or ACK).
void RetryBlock(IrHandheld& h, uint64_t now)
{
    if (++h.retries > 20) {
        h.phase = GAVE_UP;
        h.deadline = NEVER;
        return;
    }
    SendEnq(h, now + NEXT_BLOCK_MS);
}

// A frame from the PC while the handheld sends its block.
void AnswerAsSender(IrHandheld& h, uint8_t type, uint8_t code, uint64_t now)
{
    if (type != T_CONTROL)
        return;
    if (h.phase == SEND_WAIT_SYN && code == C_SYN) {
        Emit(h, now + h.answerDelayMs, 0, h.blockNo, h.block.substr(h.offset, h.chunk), true);
        h.phase = SEND_WAIT_ACK;
        h.deadline = now + ACK_WAIT_MS;
        h.enqSent = 0;
    } else if (h.phase == SEND_WAIT_ACK && code == C_ACK) {
        h.retries = 0;
        if (h.blockNo == 0xFFFF) {
            h.done = true;
            h.phase = GAVE_UP;
            h.deadline = NEVER;
            return;
        }
        h.offset += h.chunk;
        PrepareBlock(h);
        SendEnq(h, now + NEXT_BLOCK_MS);
    } else if (h.phase == SEND_WAIT_ACK && code == C_NAK) {
        RetryBlock(h, now);
    }
}

// A frame from the PC while the handheld takes the PC's block.
void AnswerAsReceiver(IrHandheld& h, uint8_t type, uint8_t code, uint16_t no, const std::string& data,
                      uint16_t sum, uint64_t now)
{
    now += h.answerDelayMs;
    if (type == T_CONTROL) {
        if (code == C_ENQ)
            Emit(h, now, C_SYN, 0, "", false);
        return;
    }
    if (type != T_DATA)
        return;
    if (Sum(data) != sum) {
        Emit(h, now, C_NAK, 0, "", false);
        return;
    }
    if (no != 0xFFFF && no > h.expected) {
        Emit(h, now, C_NAK, 0, "", false);
        return;
    }
    // Taken (or a repeat of one taken): acknowledged either way. A finished
    // handheld still answers, so a PC whose last ACK was lost can end well.
    if (!h.done && (no == h.expected || no == 0xFFFF)) {
        h.received += data;
        if (no == 0xFFFF)
            h.done = true;
        else
            h.expected++;
    }
    Emit(h, now, C_ACK, 0, "", false);
}

void FrameComplete(IrHandheld& h, uint64_t now)
{
    const std::string& fr = h.frame;
    uint8_t type = (uint8_t)fr[0], code = (uint8_t)fr[1];
    bool isData = type != T_CONTROL;
    IrFault f = Roll(h, isData ? IN_DATA : IN_CONTROL, code);
    if (f == IRF_LOSE_INCOMING)
        return;
    // The PC called the transfer off: the handheld stops waiting for it.
    if (type == T_CONTROL && code == C_CAN) {
        h.cancelled = true;
        h.phase = GAVE_UP;
        h.deadline = NEVER;
        h.out.clear();
        return;
    }
    if (h.sends) {
        AnswerAsSender(h, type, code, now);
        return;
    }
    uint16_t no = 0, sum = 0;
    std::string data;
    if (isData) {
        no = (uint16_t)((uint8_t)fr[2] | (uint8_t)fr[3] << 8);
        uint32_t len = (uint8_t)fr[7] | (uint8_t)fr[8] << 8;
        data = fr.substr(9, len);
        sum = (uint16_t)((uint8_t)fr[9 + len] | (uint8_t)fr[10 + len] << 8);
        if (f == IRF_CORRUPT_INCOMING && !data.empty())
            data[Below(h, (uint32_t)data.size())] ^= (char)(1 + Below(h, 255));
    }
    AnswerAsReceiver(h, type, code, no, data, sum, now);
}

}   // namespace

const char* IrFaultName(IrFault f)
{
    static const char* const names[IRF_COUNT] = {
        "none",
        "drop",
        "corrupt data",
        "corrupt checksum",
        "repeat",
        "skip number",
        "split",
        "short preamble",
        "long preamble",
        "oversize length",
        "CAN",
        "other code",
        "NAK for ACK",
        "delay",
        "silence",
        "lose incoming",
        "corrupt incoming",
        "cancelling pair",
        "renumber",
        "number to last",
    };
    return f >= 0 && f < IRF_COUNT ? names[f] : "?";
}

std::string IrControlFrame(uint8_t code)
{
    return std::string("\0\0\0\0\0", 5) + (char)MARK + (char)T_CONTROL + (char)code;
}

std::string IrDataFrame(uint16_t blockNo, const std::string& data)
{
    std::string f("\0\0\0\0\0", 5);
    f += (char)MARK;
    f += (char)T_DATA;
    f += (char)0x10;
    f += (char)(blockNo & 0xFF);
    f += (char)(blockNo >> 8);
    f += "\x01\x40\xFE";
    f += (char)(data.size() & 0xFF);
    f += (char)(data.size() >> 8);
    f += data;
    uint16_t sum = Sum(data);
    f += (char)(sum & 0xFF);
    f += (char)(sum >> 8);
    return f;
}

void IrHandheldStart(IrHandheld& h, uint64_t nowMs)
{
    h.rng = h.seed;
    h.received.clear();
    h.done = false;
    h.out.clear();
    h.step = h.zeros = 0;
    if (h.sends) {
        h.offset = 0;
        h.blockNo = 0;
        PrepareBlock(h);
        SendEnq(h, nowMs + 300);
    } else {
        h.phase = RECEIVING;
        h.deadline = NEVER;
    }
}

void IrHandheldByte(IrHandheld& h, uint8_t b, uint64_t nowMs)
{
    switch (h.step) {
    case 0:
        if (b == MARK && h.zeros >= 2) {
            h.frame.clear();
            h.step = 1;
        }
        h.zeros = b == 0 ? h.zeros + 1 : 0;
        return;
    case 1:   // type and code
        h.frame += (char)b;
        if (h.frame.size() == 2) {
            if ((uint8_t)h.frame[0] == T_CONTROL) {
                h.step = 0;
                FrameComplete(h, nowMs);
            } else {
                h.step = 2;
                h.need = 7;
            }
        }
        return;
    case 2:   // number, three header bytes, length
        h.frame += (char)b;
        if (--h.need == 0) {
            uint32_t len = (uint8_t)h.frame[7] | (uint8_t)h.frame[8] << 8;
            if (len > 512) {
                h.step = 0;
                return;
            }
            h.step = 3;
            h.need = len + 2;
        }
        return;
    case 3:   // data and sum
        h.frame += (char)b;
        if (--h.need == 0) {
            h.step = 0;
            FrameComplete(h, nowMs);
        }
        return;
    }
}

void IrHandheldTime(IrHandheld& h, uint64_t nowMs)
{
    if (h.deadline > nowMs)
        return;
    h.deadline = NEVER;
    if (h.phase == SEND_WAIT_SYN)
        SendEnq(h, nowMs);
    else if (h.phase == SEND_WAIT_ACK)
        RetryBlock(h, nowMs);
}

bool IrHandheldFinished(const IrHandheld& h) { return h.phase == GAVE_UP || (h.done && !h.sends); }

uint64_t IrHandheldNextWake(const IrHandheld& h)
{
    uint64_t next = h.deadline;
    if (!h.out.empty())
        next = std::min(next, h.out.front().first);
    return next;
}

std::string IrHandheldTakeOutput(IrHandheld& h, uint64_t nowMs)
{
    std::string bytes;
    while (!h.out.empty() && h.out.front().first <= nowMs) {
        bytes += h.out.front().second;
        h.out.pop_front();
    }
    return bytes;
}
