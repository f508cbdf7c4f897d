// The raw byte stream of the cable and IrDA link kinds. A send writes the
// block as it is in chunks, driven by the link timer's polls and EV_TXEMPTY;
// a receive collects bytes on EV_RXCHAR until the first 0x1A. Nothing here
// waits on the port.
#include <cstring>
#include "engine_util.h"
#include "memblock.h"

int32_t sendBusy;

// One chunk of a raw send; 0 when the transfer must end (resultCode says why).
static int WriteNextChunk(void)
{
    TransferState& t = transferState;
    bool irda = portParams.linkKind == LINK_IRDA;
    if (t.bytesDone) {
        t.progressBytes = t.bytesDone;
        linkPlatform.repaintProgress();
    }
    if (t.bytesDone == t.blockSize) {
        Deactivate();   // all queued: the link timer finishes the send
        return 1;
    }
    uint32_t limit = irda ? 1024 : 512;
    uint32_t rest = t.blockSize - t.bytesDone;
    uint32_t n = rest > limit ? limit : rest;
    if (rest <= limit && t.bytesDone == 0 && rest > 2)
        n = rest - 1;   // a block of one chunk goes out as two writes, the last byte alone

    // A pending write goes on reading the caller's block after the unlock:
    // the block is the caller's until the export returns, and neither moves
    // nor changes before the port has closed, which ends any write still pending.
    const uint8_t* data = (const uint8_t*)BlockLock(t.hBlock);
    if (!data) {
        SetResultCode(RC_NO_MEMORY);
        return 0;
    }
    int32_t written = linkPlatform.writePort(t.hPort, data + t.bytesDone, n);
    BlockUnlock(t.hBlock);
    if (written == -1) {
        if (!irda) {
            PortStatus st;
            QueryPort(&st);
            SetResultCode(RC_LINE_ERROR);
            return 0;
        }
        return 1;   // IrDA: the same bytes again at the next step
    }
    t.bytesDone += n;
    t.retryCount = 0;
    if (irda && t.bytesDone == t.blockSize) {
        Deactivate();
        t.progressBytes = t.bytesDone;
        linkPlatform.repaintProgress();
    }
    return 1;
}

int SendChunk(void)
{
    if (PortClosed() || sendBusy)
        return 1;
    sendBusy = 1;
    int ok = WriteNextChunk();
    sendBusy = 0;
    return ok;
}

int ReceiveChunk(void)
{
    TransferState& t = transferState;
    if (PortClosed())
        return 1;
    if (!t.active) {
        linkPlatform.purgePort(t.hPort, LINK_PURGE_TXCLEAR | LINK_PURGE_RXCLEAR);
        return 1;
    }
    uint8_t buffer[512];
    int32_t got = linkPlatform.readPort(t.hPort, buffer, 511);
    uint32_t n = got > 0 ? (uint32_t)got : 0;
    PortStatus st;
    QueryPort(&st);
    if (lineErrors) {
        SetResultCode(RC_LINE_ERROR);   // the bytes just read are not trusted
        return 0;
    }
    const uint8_t* mark = (const uint8_t*)memchr(buffer, EOF_MARK, n);
    if (mark)
        n = (uint32_t)(mark - buffer) + 1;   // what follows the end mark is not ours
    if (n == 0)
        return 1;
    if ((uint64_t)t.bytesDone + n >= t.blockSize)
        linkPlatform.repaintProgress();   // the count before this chunk, as the block grows
    if (!StoreReceived(buffer, n, 512))
        return 0;
    if (buffer[n - 1] == EOF_MARK) {
        Deactivate();
        RequestDialogClose();
    }
    return 1;
}
