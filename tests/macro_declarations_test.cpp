// docs/macros.md against the code: every export of both DLLs is declared in
// both branches of the macro module, under its exported name, and each
// argument and result has the macro type that matches the C++ prototype (a
// handle is LongPtr in the 64-bit branch and Long in the 32-bit one; a record
// or a 16-bit result goes by reference; a string by value).
#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::filesystem::path kSource = KIV_SOURCE_DIR;

// Exported name -> internal name, from a DLL's export list.
std::map<std::string, std::string> ExportList(const char* def)
{
    std::map<std::string, std::string> exports;
    std::istringstream in(ReadFile(kSource / def));
    static const std::regex line(R"(^\s*(\S+)\s*=\s*(\w+)@\d+\s*$)");
    std::smatch m;
    for (std::string text; std::getline(in, text);)
        if (std::regex_match(text, m, line))
            exports[m[1]] = m[2];
    return exports;
}

struct Prototype {
    std::string result;
    std::vector<std::string> params;   // C++ types, without const and the name
};

// The exported functions' prototypes in the library's sources (tests excepted).
std::map<std::string, Prototype> Prototypes(const char* folder)
{
    static const std::regex exported(R"re(extern "C" (\w+) WINAPI (\w+)\(([^)]*)\))re");
    static const std::regex param(R"(^\s*(?:const )?(\w+\s*\**)\s*\w*\s*$)");
    std::map<std::string, Prototype> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kSource / folder)) {
        std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".cpp" || name.find("_test") != std::string::npos)
            continue;
        std::string text = ReadFile(entry.path());
        for (std::sregex_iterator it(text.begin(), text.end(), exported), end; it != end; ++it) {
            Prototype p{(*it)[1], {}};
            std::istringstream params((*it)[3].str());
            std::smatch m;
            for (std::string one; std::getline(params, one, ',');) {
                if (one == "void")
                    continue;
                EXPECT_TRUE(std::regex_match(one, m, param)) << one;
                std::string type = m[1];
                type.erase(std::remove(type.begin(), type.end(), ' '), type.end());
                p.params.push_back(type);
            }
            found[(*it)[2]] = p;
        }
    }
    return found;
}

struct Declaration {
    std::string lib;
    std::vector<std::string> params;   // "ByVal As String", "ByRef As PortSetup", ...
    std::string result;
};

// The Declare statements of one branch of the module, by the name the DLL is
// asked for (the Alias, else the declared name).
std::map<std::string, Declaration> Declarations(bool win64)
{
    static const std::regex declare(
        R"re(^(?:Public|Private) Declare (PtrSafe )?(?:Function|Sub) (\w+) Lib "([^"]+)")re"
        R"re((?: Alias "([^"]+)")? \(([^)]*)\)(?: As (\w+))?$)re");
    static const std::regex param(R"(^\s*(ByVal |ByRef )?\w+ As (\w+)\s*$)");
    std::map<std::string, Declaration> found;
    std::istringstream in(ReadFile(kSource / "docs/macros.md"));
    int branch = 0;   // 64, 32, or 0 outside the #If
    std::smatch m;
    for (std::string text; std::getline(in, text);) {
        if (text == "#If Win64 Then" || text == "#Else" || text == "#End If") {
            branch = text[1] == 'I' ? 64 : text[1] == 'E' && text[2] == 'l' ? 32 : 0;
            continue;
        }
        if (text.find(" Declare ") == std::string::npos)
            continue;
        EXPECT_NE(0, branch) << "outside #If Win64: " << text;
        if (branch != (win64 ? 64 : 32))
            continue;
        EXPECT_TRUE(std::regex_match(text, m, declare)) << text;
        if (m.empty())
            continue;
        EXPECT_EQ(win64, m[1].matched) << "PtrSafe exactly in the 64-bit branch: " << text;
        Declaration d{m[3], {}, m[6]};
        std::string params = m[5];
        std::istringstream list(params);
        for (std::string one; std::getline(list, one, ',');) {
            std::smatch p;
            EXPECT_TRUE(std::regex_match(one, p, param)) << one;
            d.params.push_back((p[1].matched ? p[1].str() : "ByRef ") + "As " + p[2].str());
        }
        found[m[4].matched ? m[4].str() : m[2].str()] = d;
    }
    return found;
}

// The macro form of a C++ argument or result type in one branch.
std::string MacroParam(const std::string& cpp, bool win64)
{
    const std::string handle = win64 ? "LongPtr" : "Long";
    static const std::map<std::string, std::string> byValue = {
        {"char*", "String"}, {"int16_t", "Integer"}, {"short", "Integer"},
        {"int", "Long"},     {"DWORD", "Long"},      {"LONG", "Long"},
    };
    if (cpp == "HWND" || cpp == "HGLOBAL")
        return "ByVal As " + handle;
    if (byValue.count(cpp))
        return "ByVal As " + byValue.at(cpp);
    if (cpp == "PortSetup*")
        return "ByRef As PortSetup";
    if (cpp == "int16_t*")
        return "ByRef As Integer";
    return "? " + cpp;
}

std::string MacroResult(const std::string& cpp, bool win64)
{
    static const std::map<std::string, std::string> types = {
        {"BOOLEAN", "Byte"},
        {"int16_t", "Integer"},
        {"int", "Long"},
        {"LONG", "Long"},
    };
    if (cpp == "BSTR" || cpp == "HGLOBAL")
        return win64 ? "LongPtr" : "Long";
    return types.count(cpp) ? types.at(cpp) : "? " + cpp;
}

TEST(MacroDeclarations, EveryExportIsDeclaredAsItsPrototypeInBothBranches)
{
    const struct {
        const char* dll;
        const char* def;
        const char* folder;
    } libraries[] = {{"kivconv.dll", "kivconv/exports.def", "kivconv"},
                     {"kivport.dll", "kivport/exports.def", "kivport"}};
    for (bool win64 : {false, true}) {
        SCOPED_TRACE(win64 ? "64-bit branch" : "32-bit branch");
        std::map<std::string, Declaration> declared = Declarations(win64);
        size_t ours = 0;
        for (const auto& lib : libraries) {
            std::map<std::string, Prototype> prototypes = Prototypes(lib.folder);
            std::map<std::string, std::string> exports = ExportList(lib.def);
            ASSERT_FALSE(exports.empty()) << lib.def;
            for (const auto& [exported, internal] : exports) {
                SCOPED_TRACE(exported);
                ASSERT_TRUE(declared.count(exported)) << "not declared";
                ASSERT_TRUE(prototypes.count(internal)) << "no prototype of " << internal;
                const Declaration& d = declared.at(exported);
                const Prototype& p = prototypes.at(internal);
                EXPECT_EQ(lib.dll, d.lib);
                std::vector<std::string> expected;
                for (const std::string& type : p.params)
                    expected.push_back(MacroParam(type, win64));
                EXPECT_EQ(expected, d.params);
                EXPECT_EQ(MacroResult(p.result, win64), d.result);
            }
            for (const auto& [name, d] : declared)
                ours += d.lib == lib.dll;
        }
        // Nothing else is declared from our DLLs.
        EXPECT_EQ(17u, ours);
    }
}

}
