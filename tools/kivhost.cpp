// kivhost: a console stand-in for the desktop application. It loads the DLLs
// by name, exactly as the application's macro code does, and calls their
// exports, printing what came back.
#include <windows.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

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
    fprintf(stderr,
            "usage: kivhost COMMAND [ARG]\n"
            "  load-setup        read the port settings from the INI file\n"
            "  setup-dialog      edit the port settings in the setup dialog and save them\n"
            "  search-port N     find a COM port that opens (0: COM1 to COM3)\n"
            "  csv2kcsv FILE     turn the application's CSV file (and its .table) into a Kcsv file\n"
            "  kcsv2csv FILE     turn a Kcsv file into layout, record, length and image files\n");
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
    if (!strcmp(argv[1], "csv2kcsv") && argc > 2)
        return Convert("csv2KcsvMC", argv[2]);
    if (!strcmp(argv[1], "kcsv2csv") && argc > 2)
        return Convert("Kcsv2csvMC", argv[2]);
    return Usage();
}
