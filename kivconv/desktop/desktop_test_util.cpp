#include "desktop_test.h"
#include <cstdio>

std::string FixtureFolder(const char* name)
{
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe, n);
    dir.erase(dir.find_last_of('\\'));
    return dir + "\\fixtures\\" + name;
}
