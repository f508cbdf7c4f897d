// The export tables of both DLLs, as the application's macros see them: the
// 32-bit and the 64-bit build export exactly the names the macros declare
// (the decorated kivport names included), so one Alias string serves both.
#include "kivtest.h"
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {

// Every name in the module's export table; allNamed is false when an export
// has no name (a macro could not reach it).
std::set<std::string> ExportedNames(HMODULE module, bool* allNamed)
{
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::set<std::string> found;
    for (DWORD i = 0; i < exports->NumberOfNames; i++)
        found.insert(reinterpret_cast<const char*>(base + names[i]));
    *allNamed = exports->NumberOfNames == exports->NumberOfFunctions;
    return found;
}

WORD Machine(HMODULE module)
{
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(
               base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew)
        ->FileHeader.Machine;
}

TEST(Exports, EachDllExportsExactlyTheNamesTheMacrosDeclare)
{
    const struct {
        const char* dll;
        std::set<std::string> names;
    } libraries[] = {
        {"kivconv.dll",
         {"Kcsv2csvMC", "csv2KcsvMC", "filerename", "cutstr", "GetOfficePath", "SaveOleBitmap",
          "ShowSpDialog", "EndSpDialog", "KIRX_IrDA"}},
        {"kivport.dll",
         {"_KivSendData@8", "_KivReceiveData@8", "_KivLoadPortSetup@4", "_KivSavePortSetup@4",
          "_KivPortSetupDialog@8", "_KivSearchFreePort@4", "_KivLoadFile@8", "_KivSaveFile@8"}},
    };
#ifdef _WIN64
    const WORD ownMachine = IMAGE_FILE_MACHINE_AMD64;
#else
    const WORD ownMachine = IMAGE_FILE_MACHINE_I386;
#endif
    for (const auto& lib : libraries) {
        SCOPED_TRACE(lib.dll);
        HMODULE module = LoadKivLibrary(lib.dll);
        ASSERT_NE(nullptr, module) << "error " << GetLastError();
        EXPECT_EQ(ownMachine, Machine(module));
        bool allNamed = false;
        EXPECT_EQ(lib.names, ExportedNames(module, &allNamed));
        EXPECT_TRUE(allNamed);
        for (const std::string& name : lib.names)
            EXPECT_NE(nullptr, GetExport<void*>(module, name.c_str())) << name;
    }
}

}
