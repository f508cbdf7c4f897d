// The platform table starts with harmless answers (no port, no timer, no
// dialog) so an engine step run before the shell or a test fills it does nothing.
#include "link_platform.h"

namespace {
int32_t NoRead(KivHandle, uint8_t*, uint32_t) { return 0; }
int32_t NoWrite(KivHandle, const uint8_t*, uint32_t) { return -1; }
int32_t NoStatus(KivHandle, PortStatus*) { return 0; }
void NoPurge(KivHandle, uint32_t) { }
void NoPortStep(KivHandle) { }
int32_t NoIrLine(KivHandle) { return 0; }
void Nothing(void) { }
uint32_t NoTimer(uint32_t) { return 0; }
void NoKill(uint32_t) { }
}

LinkPlatform linkPlatform = {
    NoRead,  NoWrite, NoStatus, NoPurge, NoPortStep, NoIrLine, Nothing,
    NoTimer, NoKill,  Nothing,  Nothing, Nothing,    Nothing,
};
