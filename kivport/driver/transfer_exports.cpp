// Transfer entry points. The port layer and engine are not built yet: each
// fails safely with "port unavailable" and hands back no block.
#include "records/driver_win32.h"

extern "C" HGLOBAL WINAPI KivReceiveData(const PortSetup* setup, int16_t* result)
{
    if (result)
        *result = RC_PORT_UNAVAILABLE;
    return nullptr;
}

extern "C" int16_t WINAPI KivSendData(const PortSetup* setup, HGLOBAL hBlock)
{
    return RC_PORT_UNAVAILABLE;
}
