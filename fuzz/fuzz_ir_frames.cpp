// The IR frame parser and the protocol's state machine over arbitrary bytes
// arriving in arbitrary pieces, in every state of both roles: no crash, no
// hang, nothing written outside the frame record, the parser's place always
// valid, and a received block always as long as what was appended.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include "link_engine.h"
#include "memblock.h"

namespace {

const uint8_t* input;
size_t inputLeft, pieceLeft;

int32_t Read(KivHandle, uint8_t* buffer, uint32_t max)
{
    uint32_t n = 0;
    while (n < max && pieceLeft && inputLeft) {
        buffer[n++] = *input++;
        inputLeft--;
        pieceLeft--;
    }
    return (int32_t)n;
}
int32_t Write(KivHandle, const uint8_t*, uint32_t n) { return (int32_t)n; }
int32_t Status(KivHandle, PortStatus* st)
{
    memset(st, 0, sizeof *st);
    st->inQueue = (uint32_t)(pieceLeft < inputLeft ? pieceLeft : inputLeft);
    return 1;
}
void Purge(KivHandle, uint32_t) { }
uint32_t Timer(uint32_t) { return 1; }
void Close(void) { transferState.hPort = KIV_INVALID_HANDLE; }

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static const char sendData[] = "a block of the PC's to send, a little over nothing";
    linkPlatform.readPort = Read;
    linkPlatform.writePort = Write;
    linkPlatform.clearCommError = Status;
    linkPlatform.purgePort = Purge;
    linkPlatform.setTimer = Timer;
    linkPlatform.sendClose = Close;
    ResetTransferState();
    portParams.linkKind = LINK_IR;
    transferState.hPort = (KivHandle)1;
    transferState.active = 1;
    bool sending = data[0] & 1;
    transferState.direction = sending;
    if (sending) {
        transferState.hBlock = BlockAlloc(sizeof sendData, false);
        memcpy(BlockLock(transferState.hBlock), sendData, sizeof sendData);
        BlockUnlock(transferState.hBlock);
        transferState.blockSize = (uint32_t)strlen(sendData);
        StartIrSend();
        LinkState = (data[0] >> 1) & 1 ? TX_WAIT_ACK : TX_WAIT_SYN;
    } else {
        StartIrReceive();
        LinkState = (data[0] >> 1) & 1 ? RX_WAIT_DATA : RX_WAIT_ENQ;
    }
    size_t piece = 1 + data[1] % 64;
    input = data + 2;
    inputLeft = size - 2;
    while (inputLeft && transferState.hPort.load() != KIV_INVALID_HANDLE) {
        pieceLeft = piece;
        while (ReadFrame()) {
            // A control frame leaves the length of an earlier, dropped header.
            if (parseStep > 14 || rxIndex > 512 || (RxFrame.type != FT_CONTROL && RxFrame.length > 512))
                abort();
            if (!DispatchFrame() || (inputLeft % 7 == 0 && !HandleTimeout())) {
                StopLink();
                Close();
                break;
            }
        }
        if (parseStep > 14 || rxIndex > 512)
            abort();
    }
    if (!sending && transferState.hBlock) {
        if (transferState.bytesDone + 1 > BlockSize(transferState.hBlock))
            abort();
        const char* block = (const char*)BlockLock(transferState.hBlock);
        if (block[transferState.bytesDone] != 0)
            abort();
        BlockUnlock(transferState.hBlock);
    }
    BlockFree(transferState.hBlock);
    transferState.hBlock = nullptr;
    parseStep = 0;
    finished = 0;
    return 0;
}
