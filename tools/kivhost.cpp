// kivhost: a console stand-in for the desktop application. It loads the DLLs
// by name, exactly as the application's macro code does, and calls their
// exports, printing what came back.
#include <windows.h>
#include "kiv_version.h"
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

int Usage();

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
           s.PortNo, s.IRMode, s.IRMode < 3 ? modes[s.IRMode] : "?", (long)s.Speed, s.Parity, s.Length,
           s.Stop, s.CSMon, s.XFlow);
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
    HWND owner = CreateWindowW(L"STATIC", L"kivhost", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 160, 80,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
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

const char* ResultMeaning(int code)
{
    switch (code) {
    case 0: return "completed";
    case 1: return "no answer from the handheld in time";
    case 2: return "the transfer failed after the protocol's retries";
    case 3: return "communication error on the line, or data where none was expected";
    case 4: return "out of memory";
    case 5: return "no owner window, or the port cannot be opened";
    case 7: return "the file cannot be opened or created";
    case 8: return "the file was written incompletely";
    case 255: return "cancelled";
    }
    return "unknown result";
}

// The settings of a transfer: the INI file's, or a record given as
// "port,irmode,speed,parity,length,stop,csmon,xflow".
bool TransferSetup(const char* text, PortSetup& s)
{
    if (!text) {
        auto load = Export<int16_t(WINAPI*)(PortSetup*)>("kivport.dll", "_KivLoadPortSetup@4");
        load(&s);
        return true;
    }
    unsigned port, mode, parity, length, stop, csmon, xflow;
    long speed;
    char tail;
    if (sscanf(text, "%u,%u,%ld,%u,%u,%u,%u,%u%c", &port, &mode, &speed, &parity, &length, &stop, &csmon,
               &xflow, &tail) != 8)
        return false;
    s = {(uint16_t)port,   (uint16_t)mode, (int32_t)speed,  (uint16_t)parity,
         (uint16_t)length, (uint16_t)stop, (uint16_t)csmon, (uint16_t)xflow};
    return true;
}

// Wine refuses every comm call on a COM port opened for writing only, which
// is how the driver opens the port to send on a cable. Under Wine, kivhost
// points kivport.dll's import of CreateFileA at a wrapper that opens such a
// port for reading as well; on Windows nothing is changed.
HANDLE WINAPI OpenComForWine(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE tmpl)
{
    // The driver names its port through the device namespace: "\\.\COM5".
    const char* port = name && strncmp(name, "\\\\.\\", 4) == 0 ? name + 4 : name;
    if (port && _strnicmp(port, "COM", 3) == 0 && (access & (GENERIC_READ | GENERIC_WRITE)) == GENERIC_WRITE)
        access |= GENERIC_READ;
    return CreateFileA(name, access, share, sa, disposition, flags, tmpl);
}

void WidenComOpensUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version"))
        return;
    BYTE* base = reinterpret_cast<BYTE*>(LoadLibraryA("kivport.dll"));
    if (!base)
        return;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base +
                                                   reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name;
         imp++) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + imp->Name), "kernel32.dll") != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), "CreateFileA") != 0)
                continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<DWORD_PTR>(OpenComForWine);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
        }
    }
}

// The transfer exports take the window with the focus as the status dialog's
// owner and refuse without one, as under the desktop application.
HWND ShowOwnerWindow()
{
    HWND owner = CreateWindowW(L"STATIC", L"kivhost", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 160, 80,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(owner);
    SetFocus(owner);
    return owner;
}

int SendFile(const char* path, const char* setupText)
{
    PortSetup s = {};
    if (!TransferSetup(setupText, s))
        return Usage();
    auto loadFile = Export<HGLOBAL(WINAPI*)(const char*, int16_t*)>("kivport.dll", "_KivLoadFile@8");
    auto send = Export<int16_t(WINAPI*)(const PortSetup*, HGLOBAL)>("kivport.dll", "_KivSendData@8");
    int16_t r = 0;
    HGLOBAL block = loadFile(path, &r);
    if (!block) {
        printf("KivLoadFile(%s) -> %d (%s)\n", path, r, ResultMeaning(r));
        return 1;
    }
    PrintSetup(s);
    WidenComOpensUnderWine();
    HWND owner = ShowOwnerWindow();
    r = send(&s, block);
    DestroyWindow(owner);
    GlobalFree(block);
    printf("KivSendData(%s) -> %d (%s)\n", path, r, ResultMeaning(r));
    return r == 0 ? 0 : 1;
}

int ReceiveFile(const char* path, const char* setupText)
{
    PortSetup s = {};
    if (!TransferSetup(setupText, s))
        return Usage();
    auto receive = Export<HGLOBAL(WINAPI*)(const PortSetup*, int16_t*)>("kivport.dll", "_KivReceiveData@8");
    auto saveFile = Export<int16_t(WINAPI*)(const char*, HGLOBAL)>("kivport.dll", "_KivSaveFile@8");
    PrintSetup(s);
    WidenComOpensUnderWine();
    HWND owner = ShowOwnerWindow();
    int16_t r = -1;
    HGLOBAL block = receive(&s, &r);
    DestroyWindow(owner);
    printf("KivReceiveData -> %d (%s)\n", r, ResultMeaning(r));
    if (!block)
        return 1;
    int16_t w = saveFile(path, block);
    GlobalFree(block);
    printf("KivSaveFile(%s) -> %d (%s)\n", path, w, ResultMeaning(w));
    return w == 0 ? 0 : 1;
}

// The files of a folder with their sizes and write times, to show what a
// conversion wrote.
typedef std::map<std::string, std::pair<ULONGLONG, ULONGLONG>> Listing;

std::string FolderOf(const char* path)
{
    const char* slash = strrchr(path, '\\');
    const char* fwd = strrchr(path, '/');
    if (fwd > slash)
        slash = fwd;
    return slash ? std::string(path, slash - path + 1) : std::string();
}

Listing ListFolder(const std::string& folder)
{
    Listing files;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        ULONGLONG size = (ULONGLONG)fd.nFileSizeHigh << 32 | fd.nFileSizeLow;
        ULONGLONG time = (ULONGLONG)fd.ftLastWriteTime.dwHighDateTime << 32 |
                         fd.ftLastWriteTime.dwLowDateTime;
        files[fd.cFileName] = {size, time};
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return files;
}

int Convert(const char* exportName, const char* path)
{
    std::string folder = FolderOf(path);
    Listing before = ListFolder(folder);
    unsigned char result;
    if (!strcmp(exportName, "csv2KcsvMC"))
        result = Export<BOOLEAN(WINAPI*)(const char*, DWORD)>("kivconv.dll", exportName)(path, 0);
    else
        result = Export<BOOLEAN(WINAPI*)(const char*)>("kivconv.dll", exportName)(path);
    printf("%s(%s) -> %u\n", exportName, path, result);
    for (const auto& f : ListFolder(folder)) {
        auto old = before.find(f.first);
        if (old == before.end() || old->second != f.second)
            printf("  wrote %s%s (%llu bytes)\n", folder.c_str(), f.first.c_str(),
                   (unsigned long long)f.second.first);
    }
    return result ? 0 : 1;
}

int Usage()
{
    fprintf(stderr, "kivhost " KIV_VERSION_TEXT ": calls the DLLs' exports as the application's macros do\n"
                    "usage: kivhost COMMAND [ARG]\n"
                    "  send FILE [--setup S]     load FILE as a block and send it to the handheld\n"
                    "  receive FILE [--setup S]  receive a block from the handheld and save it as FILE\n"
                    "      S = port,irmode,speed,parity,length,stop,csmon,xflow (e.g. 1,0,38400,0,8,1,0,0);\n"
                    "      without it the INI file's settings\n"
                    "  load-setup        read the port settings from the INI file\n"
                    "  setup-dialog      edit the port settings in the setup dialog and save them\n"
                    "  search-port N     find a COM port that opens (0: COM1 to COM3)\n"
                    "  csv2kcsv FILE     turn the application's CSV file (and its .table) into a Kcsv file\n"
                    "  kcsv2csv FILE     turn a Kcsv file into layout, record, length and image files\n"
                    "  --version         print kivhost's version, which is that of the DLLs it came with\n");
    return 2;
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    if (!strcmp(argv[1], "--version")) {
        printf("kivhost %s\n", KIV_VERSION_TEXT);
        return 0;
    }
    if (!strcmp(argv[1], "load-setup"))
        return LoadSetup();
    if (!strcmp(argv[1], "setup-dialog"))
        return SetupDialog();
    if (!strcmp(argv[1], "search-port") && argc > 2)
        return SearchPort(argv[2]);
    if (!strcmp(argv[1], "csv2kcsv") && argc > 2)
        return Convert("csv2KcsvMC", argv[2]);
    if (!strcmp(argv[1], "kcsv2csv") && argc > 2)
        return Convert("Kcsv2csvMC", argv[2]);
    if ((!strcmp(argv[1], "send") || !strcmp(argv[1], "receive")) && (argc == 3 || argc == 5)) {
        const char* setup = nullptr;
        if (argc == 5) {
            if (strcmp(argv[3], "--setup") != 0)
                return Usage();
            setup = argv[4];
        }
        return !strcmp(argv[1], "send") ? SendFile(argv[2], setup) : ReceiveFile(argv[2], setup);
    }
    return Usage();
}
