// The link driver's records: the caller's settings record, the driver's own
// form of the same settings, the running transfer and the result codes. No
// <windows.h> here: handles are opaque so the protocol logic builds natively.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

// The caller's settings record. It crosses the module boundary by pointer, so
// its layout is fixed: little-endian, no padding, 18 bytes.
#pragma pack(push, 1)
struct PortSetup {
    uint16_t PortNo;   // COM port number: 1 for COM1, 12 for COM12
    uint16_t IRMode;   // 0 cable, 1 IR, 2 IrDA
    int32_t Speed;     // bits per second
    uint16_t Parity;   // 0 none, 1 odd, 2 even
    uint16_t Length;   // data bits, 7 or 8
    uint16_t Stop;     // stop bits, 1 or 2
    uint16_t CSMon;    // 1 = RTS/CTS flow control
    uint16_t XFlow;    // 1 = XON/XOFF flow control
};
#pragma pack(pop)
static_assert(sizeof(PortSetup) == 18, "PortSetup is 18 bytes on the wire");
static_assert(offsetof(PortSetup, Speed) == 4 && offsetof(PortSetup, Parity) == 8 &&
                  offsetof(PortSetup, XFlow) == 16,
              "PortSetup field offsets are fixed by the callers");

enum LinkKind { LINK_CABLE = 0, LINK_IR = 1, LINK_IRDA = 2 };

struct LineSettings {
    uint32_t baudRate;
    char parity;        // 'n', 'o' or 'e'
    uint8_t dataBits;   // 7 or 8
    int32_t twoStopBits;
    int32_t ctsFlow;   // 1 = RTS/CTS handshake
    int32_t xonXoff;   // 1 = XON/XOFF
};

struct PortParams {
    char portName[12];   // "COM1"
    int32_t linkKind;    // LinkKind
    LineSettings line;
};

// Result codes of every export and of the engine's resultCode.
enum : int16_t {
    RC_OK = 0,
    RC_TIMEOUT = 1,
    RC_RETRY_FAILED = 2,
    RC_LINE_ERROR = 3,
    RC_NO_MEMORY = 4,
    RC_PORT_UNAVAILABLE = 5,
    RC_FILE_OPEN = 7,
    RC_FILE_WRITE = 8,
    RC_CANCELLED = 255,
};

typedef void* KivHandle;

// Same layout as the system's OVERLAPPED record on 32-bit Windows.
struct IoOverlapped {
    uintptr_t internal;
    uintptr_t internalHigh;
    uint32_t offset;
    uint32_t offsetHigh;
    KivHandle hEvent;
};

// The one running transfer; zeroed at the start of every send and receive.
// The reader thread reads hPort, active and notifyMask (written by the
// dialog's thread) and writes readerThreadId; those four are atomic.
struct TransferState {
    KivHandle hBlock;   // block sent (the caller's) or received
    uint32_t blockSize;
    uint32_t bytesDone;
    uint32_t totalBytes;
    uint32_t progressBytes;   // what the progress pane shows
    uint16_t retryCount;
    std::atomic<KivHandle> hPort;   // invalid-handle value once closed
    int16_t resultCode;             // the first reason set stays
    int32_t direction;              // 1 sending, 0 receiving
    std::atomic<int32_t> active;
    std::atomic<uint32_t> readerThreadId;
    IoOverlapped readOverlapped;
    IoOverlapped writeOverlapped;
    KivHandle readerThread;
    std::atomic<uint32_t> notifyMask;
};
static_assert(std::atomic<KivHandle>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free,
              "the reader thread's fields are plain machine words");

// Module globals: one set per process.
extern PortParams portParams;
extern TransferState transferState;

// Sets every field of transferState to zero.
void ResetTransferState(void);

// Fills portParams from a PortSetup. irOverride (on for transfers) forces the
// IR link's fixed line settings. False when Parity, Length or Stop is out of
// range: the conversion stops there and later fields keep their old values.
bool SetupToParams(const PortSetup* setup, bool irOverride);
// Writes portParams back into the caller's record; IRMode stays as it was.
void ParamsToSetup(PortSetup* setup);
