// Outside libraries by full path: the name is resolved over the search folders
// here, so the system's own search, which may still include the current
// directory, never runs for them.
#include "desktop/outside_library.h"
#include <cstring>
#include <string>

namespace {

typedef DWORD(WINAPI* GetDllDirectoryFn)(DWORD, LPSTR);

bool IsFile(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// "C:\..." or "\\server\...": a folder that does not depend on the current
// directory (nor on the current drive's).
bool IsAbsolute(const std::string& folder)
{
    if (folder.size() >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/'))
        return true;
    return folder.size() >= 2 && (folder[0] == '\\' || folder[0] == '/') && folder[0] == folder[1];
}

HMODULE LoadFrom(std::string folder, const char* name)
{
    if (!IsAbsolute(folder))
        return nullptr;
    if (folder.back() != '\\' && folder.back() != '/')
        folder += '\\';
    std::string path = folder + name;
    if (path.size() >= MAX_PATH || !IsFile(path))
        return nullptr;
    // The library's own imports are then looked for beside it first.
    return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A folder from one of the system's "where is" calls; empty when it fails.
template <class Call>
std::string Folder(Call call)
{
    char buf[MAX_PATH];
    UINT n = call(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buf, n) : std::string();
}

std::string ApplicationFolder()
{
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::string();
    std::string path(buf, n);
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Set with SetDllDirectory; asked of the system by name, since older ones
// lack the call.
std::string LibraryFolder()
{
    GetDllDirectoryFn get = reinterpret_cast<GetDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetDllDirectoryA")));
    if (!get)
        return std::string();
    return Folder([get](char* buf, UINT size) { return (UINT)get(size, buf); });
}

std::string PathVariable()
{
    DWORD n = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (n == 0)
        return std::string();
    std::string value(n, '\0');
    n = GetEnvironmentVariableA("PATH", &value[0], n);
    value.resize(n);
    return value;
}

}   // namespace

HMODULE LoadOutsideLibrary(const char* name)
{
    if (!name || strpbrk(name, "\\/:"))
        return nullptr;
    std::string windows = Folder([](char* buf, UINT size) { return GetWindowsDirectoryA(buf, size); });
    std::string folders[] = {
        ApplicationFolder(),
        LibraryFolder(),
        Folder([](char* buf, UINT size) { return GetSystemDirectoryA(buf, size); }),
        windows.empty() ? windows : windows + "\\SYSTEM",
        windows,
    };
    for (const std::string& folder : folders)
        if (HMODULE module = LoadFrom(folder, name))
            return module;
    std::string path = PathVariable();
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(';', start);
        if (end == std::string::npos)
            end = path.size();
        if (HMODULE module = LoadFrom(path.substr(start, end - start), name))
            return module;
        start = end + 1;
    }
    return nullptr;
}
