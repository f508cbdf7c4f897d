// The platform table starts with harmless answers (no port, no timer, no
// dialog) so an engine step run before the shell or a test fills it does nothing.
#include "link_platform.h"

namespace {
int32_t NothingRead(KivHandle, uint8_t*, uint32_t) { return 0; }
int32_t WriteRefused(KivHandle, const uint8_t*, uint32_t) { return -1; }
int32_t StatusUnknown(KivHandle, PortStatus*) { return 0; }
void NothingPurged(KivHandle, uint32_t) { }
int32_t LineDeviceSilent(KivHandle) { return 0; }
void Nothing(void) { }
uint32_t TimerRefused(uint32_t) { return 0; }
void NoTimerToKill(uint32_t) { }
}

LinkPlatform linkPlatform = {
    NothingRead,  WriteRefused,  StatusUnknown, NothingPurged, LineDeviceSilent, Nothing,
    TimerRefused, NoTimerToKill, Nothing,       Nothing,       Nothing,          Nothing,
};
