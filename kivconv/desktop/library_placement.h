// Test support: a copy of a test library put where the system's search for a
// library by name could find it, for the life of the object; the process's
// library folder and PATH are set to match and restored afterwards.
#pragma once
#include "kivtest.h"
#include <string>

enum Placement {
    PLACED_IN_CURRENT_DIRECTORY,   // the plain search finds it there too
    PLACED_BESIDE_THE_HOST,        // the test program's folder
    PLACED_ON_PATH,                // a folder put first on PATH
    PLACED_IN_LIBRARY_FOLDER,      // a folder set with SetDllDirectory
};

inline const char* PlacementName(Placement where)
{
    static const char* const names[] = {"current directory", "beside the host", "PATH", "SetDllDirectory"};
    return names[where];
}

class PlacedLibrary {
public:
    PlacedLibrary(Placement where, const std::string& fixtureFile, const char* name)
    {
        char buf[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, buf);
        oldDirectory = buf;
        DWORD n = GetEnvironmentVariableA("PATH", nullptr, 0);
        oldPath.assign(n, '\0');
        oldPath.resize(GetEnvironmentVariableA("PATH", &oldPath[0], n));
        std::string folder = folderHere.path;
        if (where == PLACED_BESIDE_THE_HOST) {
            n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
            folder = std::string(buf, n).substr(0, std::string(buf, n).find_last_of('\\'));
        }
        copy = folder + "\\" + name;
        CopyFileA(fixtureFile.c_str(), copy.c_str(), FALSE);
        // The system's default search (SetDllDirectory undone) includes the
        // current directory; only the library-folder case sets one.
        SetDllDirectoryA(where == PLACED_IN_LIBRARY_FOLDER ? folder.c_str() : nullptr);
        if (where == PLACED_IN_CURRENT_DIRECTORY)
            SetCurrentDirectoryA(folder.c_str());
        if (where == PLACED_ON_PATH)
            SetEnvironmentVariableA("PATH", (folder + ";" + oldPath).c_str());
    }
    ~PlacedLibrary()
    {
        SetCurrentDirectoryA(oldDirectory.c_str());
        SetEnvironmentVariableA("PATH", oldPath.c_str());
        SetDllDirectoryA(nullptr);
        DeleteFileA(copy.c_str());
    }
    bool Placed() const { return FileExists(copy); }

private:
    TempFolder folderHere;
    std::string oldDirectory, oldPath, copy;
};
