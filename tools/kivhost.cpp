// kivhost: a console stand-in for the desktop application. It loads the DLLs
// by name, exactly as the application's macro code does, and calls their
// exports, printing what came back.
#include <windows.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

#pragma pack(push, 1)
struct PortSetup {
    uint16_t PortNo, IRMode;
    int32_t Speed;
    uint16_t Parity, Length, Stop, CSMon, XFlow;
};
#pragma pack(pop)

template <class F>
F Export(const char* dll, const char* name)
{
    HMODULE m = LoadLibraryA(dll);
    if (!m) {
        fprintf(stderr, "kivhost: cannot load %s\n", dll);
        exit(2);
    }
    FARPROC f = GetProcAddress(m, name);
    if (!f) {
        fprintf(stderr, "kivhost: %s has no export %s\n", dll, name);
        exit(2);
    }
    return reinterpret_cast<F>(reinterpret_cast<void*>(f));
}

void PrintSetup(const PortSetup& s)
{
    static const char* modes[] = {"cable", "IR", "IrDA"};
    printf("  PortNo %u, IRMode %u (%s), Speed %ld, Parity %u, Length %u, Stop %u, CSMon %u, XFlow %u\n",
           s.PortNo, s.IRMode, s.IRMode < 3 ? modes[s.IRMode] : "?", (long)s.Speed, s.Parity,
           s.Length, s.Stop, s.CSMon, s.XFlow);
}

int LoadSetup()
{
    auto load = Export<int16_t(WINAPI*)(PortSetup*)>("kivport.dll", "_KivLoadPortSetup@4");
    PortSetup s = {};
    int16_t r = load(&s);
    printf("KivLoadPortSetup -> %d\n", r);
    PrintSetup(s);
    return 0;
}

// The setup dialog needs an owner with the focus, as in the application.
int SetupDialog()
{
    auto load = Export<int16_t(WINAPI*)(PortSetup*)>("kivport.dll", "_KivLoadPortSetup@4");
    auto dialog = Export<int16_t(WINAPI*)(PortSetup*, HWND)>("kivport.dll", "_KivPortSetupDialog@8");
    auto save = Export<int16_t(WINAPI*)(const PortSetup*)>("kivport.dll", "_KivSavePortSetup@4");
    PortSetup s = {};
    load(&s);
    HWND owner = CreateWindowW(L"STATIC", L"kivhost", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 160,
                               80, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetFocus(owner);
    int16_t r = dialog(&s, owner);
    DestroyWindow(owner);
    printf("KivPortSetupDialog -> %d\n", r);
    PrintSetup(s);
    if (r == 1)
        printf("KivSavePortSetup -> %d\n", save(&s));
    return 0;
}

int SearchPort(const char* arg)
{
    auto search = Export<int16_t(WINAPI*)(int16_t)>("kivport.dll", "_KivSearchFreePort@4");
    int16_t r = search((int16_t)atoi(arg));
    printf("KivSearchFreePort(%s) -> %d\n", arg, r);
    return 0;
}

int Usage()
{
    fprintf(stderr,
            "usage: kivhost COMMAND [ARG]\n"
            "  load-setup        read the port settings from the INI file\n"
            "  setup-dialog      edit the port settings in the setup dialog and save them\n"
            "  search-port N     find a COM port that opens (0: COM1 to COM3)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    if (!strcmp(argv[1], "load-setup"))
        return LoadSetup();
    if (!strcmp(argv[1], "setup-dialog"))
        return SetupDialog();
    if (!strcmp(argv[1], "search-port") && argc > 2)
        return SearchPort(argv[2]);
    return Usage();
}
