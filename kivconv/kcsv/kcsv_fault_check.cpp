// The failure-injection loops behind every conversion test: the disk run, its
// memory twin, and one memory run per failure point, each compared with the
// clean one.
#include "kcsv/kcsv_fault_check.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <vector>
#include "fault_points.h"
#include "kcsv/kcsv_format.h"
#include "kcsv/kcsv_test_util.h"
#include "memfiles.h"

namespace kcsvtest {

namespace {

typedef std::map<std::string, std::string> Files;   // name -> bytes

struct Folder {
    Files files;
    std::vector<std::string> subfolders;
};

// Failure points run by this test program, for the line printed at its end.
FaultCounts totals = {0, 0};
long conversions = 0;

class Totals : public ::testing::Environment {
    void TearDown() override
    {
        if (conversions)
            printf("Failure points run: %ld allocations and %ld writes over %ld conversions\n",
                   totals.allocations, totals.writes, conversions);
    }
};
::testing::Environment* const totalsPrinter = ::testing::AddGlobalTestEnvironment(new Totals);

bool EndsWith(const std::string& s, const char* tail)
{
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

bool IsPicture(const std::string& name)
{
    return EndsWith(name, ".jpg") || EndsWith(name, ".gif") || EndsWith(name, ".png");
}

// Files that are never left cut short: pictures and chunk files.
bool IsWholeOnly(const std::string& name) { return IsPicture(name) || EndsWith(name, ".cnk"); }

// A beginning of the clean output; a Kcsv output may have its end byte after
// it, which follows the header records whenever they were all written.
bool IsBeginningOf(const std::string& part, const std::string& whole)
{
    if (whole.compare(0, part.size(), part) == 0)
        return true;
    const char end = 0x1A;
    return !part.empty() && part.back() == end && !whole.empty() && whole.back() == end &&
           whole.compare(0, part.size() - 1, part, 0, part.size() - 1) == 0;
}

long Lines(const std::string& bytes) { return (long)std::count(bytes.begin(), bytes.end(), '\n'); }

std::string Names(const Files& files)
{
    std::string s;
    for (const auto& f : files)
        s += "\n  " + f.first + " (" + std::to_string(f.second.size()) + " bytes)";
    return s;
}

Folder ReadFolder(const std::string& folder, bool withAliases)
{
    Folder f;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string name = entry.path().string();
        if (entry.is_directory())
            f.subfolders.push_back(name);
        else
            f.files[name] = ReadWholeFile(name);
    }
    // A test that made the folder its current directory names files in it
    // relatively; memory files have no current directory.
    std::error_code ec;
    if (withAliases && fs::equivalent(fs::current_path(), folder, ec)) {
        Files aliases;
        for (const auto& file : f.files)
            aliases[fs::path(file.first).lexically_relative(folder).string()] = file.second;
        f.files.insert(aliases.begin(), aliases.end());
    }
    return f;
}

void LoadMemory(const Folder& folder)
{
    ClearMemoryFiles();
    for (const std::string& name : folder.subfolders)
        BlockMemoryFile(name.c_str());
    for (const auto& file : folder.files)
        PutMemoryFile(file.first.c_str(), file.second.data(), file.second.size());
}

Files MemoryState()
{
    Files files;
    for (size_t i = 0; i < MemoryFileCount(); i++) {
        size_t size = 0;
        const char* name = MemoryFileName(i);
        const unsigned char* bytes = GetMemoryFile(name, &size);
        files[name] = std::string((const char*)bytes, size);
    }
    return files;
}

// A failed run: every file as it was, or a beginning of what the clean run left.
void CheckFailedRun(const Files& before, const Files& clean, const Files& state)
{
    for (const auto& file : state) {
        const std::string& name = file.first;
        auto was = before.find(name);
        if (was != before.end() && was->second == file.second)
            continue;
        auto good = clean.find(name);
        if (good == clean.end()) {
            ADD_FAILURE() << "left a file the clean run does not: " << name;
        } else if (IsWholeOnly(name)) {
            EXPECT_TRUE(file.second == good->second) << "cut short: " << name;
        } else {
            EXPECT_TRUE(IsBeginningOf(file.second, good->second))
                << "not a beginning of the clean output: " << name;
        }
    }
}

// A successful run: the clean run's files, but for pictures a failed write
// dropped; a write fault must have dropped one.
void CheckSuccessfulRun(FaultKind kind, const Files& before, const Files& clean, const Files& state)
{
    bool pictureDropped = false;
    for (const auto& file : clean) {
        const std::string& name = file.first;
        auto got = state.find(name);
        if (got == state.end()) {
            bool dropped = IsPicture(name) && !before.count(name);
            EXPECT_TRUE(dropped) << "missing: " << name;
            pictureDropped = pictureDropped || dropped;
        } else if (IsWholeOnly(name)) {
            EXPECT_TRUE(got->second == file.second) << "differs: " << name;
        } else {
            EXPECT_EQ(Lines(got->second), Lines(file.second)) << name;
        }
    }
    for (const auto& file : state)
        EXPECT_TRUE(clean.count(file.first)) << "left a file the clean run does not: " << file.first;
    if (kind == FAULT_WRITE) {
        EXPECT_TRUE(pictureDropped) << "a write failed and the conversion still succeeded";
    }
}

}   // namespace

bool ConvertEverywhere(Conversion convert, const std::string& folder, const std::string& path)
{
    struct tm fixed = {};
    fixed.tm_year = 101;
    fixed.tm_mon = 1;
    fixed.tm_mday = 3;
    fixed.tm_hour = 4;
    fixed.tm_min = 5;
    fixed.tm_sec = 6;
    fixedStampTime = &fixed;

    Folder before = ReadFolder(folder, true);
    bool diskOk = convert(path.c_str());
    Files disk = ReadFolder(folder, false).files;
    for (const auto& file : before.files)   // the aliases stay as they were
        disk.insert(file);

    UseMemoryFiles(true);
    LoadMemory(before);
    bool memoryOk = convert(path.c_str());
    Files clean = MemoryState();
    EXPECT_EQ(diskOk, memoryOk) << path;
    EXPECT_TRUE(clean == disk) << "in memory:" << Names(clean) << "\non disk:" << Names(disk);

    if (!::testing::Test::HasFailure()) {
        FaultCounts counts = ForEachFaultPoint([&](FaultPoint point) {
            if (::testing::Test::HasFailure())
                return;   // one broken failure point is enough to read
            LoadMemory(before);
            bool ok = convert(path.c_str());
            if (!FaultReached(point))
                return;   // a clean run again
            Files state = MemoryState();
            SCOPED_TRACE((point.kind == FAULT_ALLOCATION ? "allocation " : "write ") +
                         std::to_string(point.n));
            if (ok)
                CheckSuccessfulRun(point.kind, before.files, clean, state);
            else
                CheckFailedRun(before.files, clean, state);
        });
        totals.allocations += counts.allocations;
        totals.writes += counts.writes;
        conversions++;
    }
    ClearMemoryFiles();
    UseMemoryFiles(false);
    fixedStampTime = nullptr;
    return diskOk;
}

}   // namespace kcsvtest
