// Helpers shared by the kcsv tests: scratch directories and whole files.
#pragma once
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include "memblock.h"

namespace kcsvtest {

namespace fs = std::filesystem;

// A fresh empty directory, removed with its contents at the end of the scope.
struct TempDir {
    fs::path path;
    TempDir()
    {
        std::random_device rd;
        do
            path = fs::temp_directory_path() / ("kcsv-test-" + std::to_string(rd()));
        while (!fs::create_directory(path));
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string File(const char* name) const { return (path / name).string(); }
};

inline std::string ReadWholeFile(const std::string& path)
{
    std::string data;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buf[65536];
        for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
            data.append(buf, n);
        fclose(f);
    }
    return data;
}

inline bool WriteWholeFile(const std::string& path, const std::string& data)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

// The text of a data block, which is freed; "<none>" for no block.
inline std::string TakeBlock(BlockHandle block)
{
    if (!block)
        return "<none>";
    std::string s = (const char*)BlockLock(block);
    BlockUnlock(block);
    BlockFree(block);
    return s;
}

inline std::string RandomBytes(std::mt19937& rng, size_t n)
{
    std::string s(n, '\0');
    for (auto& c : s)
        c = (char)(rng() & 0xFF);
    return s;
}

}   // namespace kcsvtest
