// Conversions between the caller's PortSetup and the driver's PortParams.
#include "records.h"
#include <cctype>
#include <cstdio>
#include <cstring>

PortParams portParams;
TransferState transferState;

void ResetTransferState(void)
{
    // The atomics are lock-free machine words, so all-zero bytes are zero values.
    memset((void*)&transferState, 0, sizeof transferState);
}

bool SetupToParams(const PortSetup* setup, bool irOverride)
{
    PortParams& p = portParams;
    snprintf(p.portName, sizeof p.portName, "COM%u", (unsigned)setup->PortNo);

    if (setup->IRMode == LINK_IR && irOverride) {
        // The handheld's infrared adapter only speaks 9600 8O1.
        p.linkKind = LINK_IR;
        p.line.baudRate = 9600;
        p.line.parity = 'o';
        p.line.dataBits = 8;
        p.line.twoStopBits = 0;
        p.line.ctsFlow = 0;
        p.line.xonXoff = 0;
        return true;
    }

    p.linkKind = setup->IRMode == 1 ? LINK_IR : setup->IRMode == 2 ? LINK_IRDA : LINK_CABLE;
    p.line.baudRate = (uint32_t)setup->Speed;

    switch (setup->Parity) {
    case 0: p.line.parity = 'n'; break;
    case 1: p.line.parity = 'o'; break;
    case 2: p.line.parity = 'e'; break;
    default: return false;
    }
    if (setup->Length != 7 && setup->Length != 8)
        return false;
    p.line.dataBits = (uint8_t)setup->Length;
    if (setup->Stop != 1 && setup->Stop != 2)
        return false;
    p.line.twoStopBits = setup->Stop == 2;

    if (p.linkKind == LINK_IRDA) {
        p.line.ctsFlow = 1;
        p.line.xonXoff = 0;
    } else {
        p.line.ctsFlow = setup->CSMon != 0;
        p.line.xonXoff = setup->XFlow != 0;
    }
    return true;
}

// The number after "COM" in a port name, every digit of it (USB adapters are
// often COM10 and above); 0 when there is none or it does not fit PortNo.
static uint16_t PortNumber(const char* portName)
{
    uint32_t n = 0;
    const char* p = portName + strnlen(portName, 3);
    if (*p < '0' || *p > '9')
        return 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        n = n * 10 + (uint32_t)(*p - '0');
        if (n > 0xFFFF)
            return 0;
    }
    return (uint16_t)n;
}

void ParamsToSetup(PortSetup* setup)
{
    const PortParams& p = portParams;
    setup->PortNo = PortNumber(p.portName);
    setup->Speed = (int32_t)p.line.baudRate;
    int parity = tolower((unsigned char)p.line.parity);
    setup->Parity = parity == 'e' ? 2 : parity == 'o' ? 1 : 0;
    setup->Length = p.line.dataBits;
    setup->Stop = p.line.twoStopBits ? 2 : 1;
    setup->CSMon = p.line.ctsFlow == 1;
    setup->XFlow = p.line.xonXoff == 1;
}
