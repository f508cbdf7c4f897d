#include "kirx_library.h"
#include "desktop/outside_library.h"

namespace {
template <class F>
F Function(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
}

bool LoadKirx(KirxLibrary* kirx)
{
    *kirx = KirxLibrary();
    kirx->module = LoadOutsideLibrary("KIRX.dll");
    if (!kirx->module)
        return false;
    kirx->setMode = Function<KirxSetModeFn>(kirx->module, "KIRX_SetMode");
    kirx->setPort = Function<KirxSetPortFn>(kirx->module, "KIRX_SetPort");
    kirx->appTextRecv = Function<KirxAppTextFn>(kirx->module, "KIRX_AppTextRecv");
    kirx->appTextSend = Function<KirxAppTextFn>(kirx->module, "KIRX_AppTextSend");
    kirx->setBaudEx = Function<KirxSetBaudExFn>(kirx->module, "KIRX_SetBaudEx");
    if (kirx->setMode && kirx->setPort && kirx->appTextRecv && kirx->appTextSend && kirx->setBaudEx)
        return true;
    ReleaseKirx(kirx);
    return false;
}

void ReleaseKirx(KirxLibrary* kirx)
{
    if (kirx->module)
        FreeLibrary(kirx->module);
    *kirx = KirxLibrary();
}
