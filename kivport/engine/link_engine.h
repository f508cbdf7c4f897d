// The link engine: the entry points the status dialog drives, the link timer
// with its deadlines, the raw byte stream of the cable and IrDA link kinds
// and the framed block protocol of the IR link kind. Everything here runs on
// the status dialog's thread and reaches the platform only through
// linkPlatform; state lives in transferState, portParams and the globals below.
#pragma once
#include <cstdint>
#include "link_platform.h"

enum { EOF_MARK = 0x1A };
enum : uint32_t { RAW_DEADLINE_MS = 360000 };

// Globals of the link timer (link_timer.cpp).
extern uint32_t timerId;
extern uint32_t tickMs;
extern uint32_t remainingMs;
// Re-entry guard of SendChunk (raw_stream.cpp).
extern int32_t sendBusy;
// Set when the engine itself has asked the dialog to close (link_entry.cpp);
// a close that arrives without it came from the window system and counts as
// a cancel.
extern int32_t closeSent;

// Entry points of the status dialog (status_steps.cpp, link_entry.cpp).
void StartEngine(void);   // at WM_INITDIALOG: StartSend or StartReceive by direction
void StartSend(void);
void StartReceive(void);
void OnCommEvent(void);
void AbortTransfer(void);
// WM_COMMNOTIFY: false (not handled) while the transfer is not active.
bool OnStatusCommNotify(uint32_t lParam);
// IDCANCEL: acts while the transfer may still end with a code of its own.
bool OnStatusCancel(void);
// WM_CLOSE: stops the engine and its timer, then closes the port through
// linkPlatform.closePort. The dialog ends itself afterwards.
void OnStatusDialogClosing(void);

// Link timer.
void ArmTimer(uint32_t deadlineMs);
void KillLinkTimer(void);
void LinkTimerProc(void);
void Deactivate(void);
// Ends the transfer as it stands: the engine asks the dialog to close, and
// the dialog's WM_CLOSE runs OnStatusDialogClosing.
void RequestDialogClose(void);

// Raw stream.
int SendChunk(void);
int ReceiveChunk(void);

// Line status of the open port (line_status.cpp): LINE_CAN_SEND,
// LINE_INPUT_WAITING; 0 when the port is closed or its status cannot be read.
uint32_t GetLineStatus(void);

// Framed block protocol of the IR link kind.
enum LinkStateValue { IDLE = 0, RX_WAIT_ENQ = 1, RX_WAIT_DATA = 2, TX_WAIT_SYN = 3, TX_WAIT_ACK = 4 };
enum : uint8_t { FRAME_MARK = 0x96, FT_DATA = 0x81, FT_CONTROL = 0x82 };
enum : uint8_t { ENQ = 0x05, ACK = 0x06, NAK = 0x15, SYN = 0x16, CAN = 0x18 };
enum : uint32_t { IR_BLOCK_MAX = 512, IR_LAST_BLOCK = 0xFFFF };
// The most the protocol can carry: 65534 full blocks and a last one.
enum : uint32_t { IR_MAX_TRANSFER = 65535u * 512u };

struct TxPacketRecord {
    uint16_t blockNo;
    uint16_t length;
    uint8_t data[IR_BLOCK_MAX];
    uint16_t checksum;
};
struct RxFrameRecord {
    uint8_t type;
    uint8_t code;
    uint16_t blockNo;
    uint8_t header[3];
    uint16_t length;
    uint8_t data[IR_BLOCK_MAX];
    uint16_t checksum;
};

extern int32_t LinkState;
extern TxPacketRecord TxPacket;
extern RxFrameRecord RxFrame;
extern uint16_t expectedBlock;
extern uint8_t parseStep;
extern uint16_t rxIndex;
extern uint16_t enqCount;
extern uint16_t enqLimit;
extern int32_t rxWaitMs;
extern int32_t finished;

void StartIrSend(void);
void StartIrReceive(void);
int ReadFrame(void);
int DispatchFrame(void);
int HandleTimeout(void);
void StopLink(void);
void SendControl(uint8_t code);
void SendDataFrame(void);
int FillNextBlock(void);   // 0 when the block cannot be read
uint16_t Checksum16(const uint8_t* data, uint32_t n);
int AppendReceived(const uint8_t* data, uint32_t n);
