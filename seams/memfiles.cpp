// Memory files: a list of named byte strings standing in for a folder, kept
// in the order made and found by name through an index: a conversion of a
// table with pictures makes one file per picture and opens its number
// scratch file once per number, so a search in order cost a pass over every
// picture so far for each of them.
#include "memfiles.h"
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct MemoryFile {
    std::string name;
    std::string bytes;
    bool blocked;
};

// The store stands in for the disk: its own allocations are not the core's
// and are not counted by the allocation fault counter.
std::vector<std::unique_ptr<MemoryFile>> files;
std::unordered_map<std::string, MemoryFile*> byName;
size_t blockedNames;   // files[k] is the k-th unblocked file while this is 0
bool inUse;

struct OpenFile {
    MemoryFile* file;
    size_t pos;
};

MemoryFile* Find(const char* path)
{
    auto f = byName.find(path);
    return f == byName.end() ? nullptr : f->second;
}

MemoryFile* FindOrAdd(const char* path)
{
    MemoryFile* f = Find(path);
    if (!f) {
        files.emplace_back(new MemoryFile{path, std::string(), false});
        f = files.back().get();
        byName[f->name] = f;
    }
    return f;
}

void* MemoryOpen(const char* path, FileAccess access)
{
    MemoryFile* f = access == BF_CREATE ? FindOrAdd(path) : Find(path);
    if (!f || f->blocked)
        return nullptr;
    if (access == BF_CREATE)
        f->bytes.clear();
    return new OpenFile{f, 0};
}

long MemoryRead(void* handle, void* buffer, size_t n)
{
    OpenFile* o = (OpenFile*)handle;
    const std::string& bytes = o->file->bytes;
    size_t left = o->pos < bytes.size() ? bytes.size() - o->pos : 0;
    if (n > left)
        n = left;
    memcpy(buffer, bytes.data() + o->pos, n);
    o->pos += n;
    return (long)n;
}

// Writing past the end fills the gap with zeros, as a file system does.
size_t MemoryWrite(void* handle, const void* data, size_t n)
{
    OpenFile* o = (OpenFile*)handle;
    std::string& bytes = o->file->bytes;
    if (bytes.size() < o->pos)
        bytes.resize(o->pos, '\0');
    bytes.replace(o->pos, n, (const char*)data, n);
    o->pos += n;
    return n;
}

long MemorySeek(void* handle, long offset, int origin)
{
    OpenFile* o = (OpenFile*)handle;
    long base = origin == SEEK_END ? (long)o->file->bytes.size() : 0;
    if ((origin != SEEK_SET && origin != SEEK_END) || offset < -base)
        return -1;
    o->pos = (size_t)(base + offset);
    return base + offset;
}

bool MemoryClose(void* handle)
{
    delete (OpenFile*)handle;
    return true;
}

// A removed file is mostly the one made last (the number scratch file), so
// its place is looked for from the end.
bool MemoryRemove(const char* path)
{
    MemoryFile* f = Find(path);
    if (!f || f->blocked)
        return false;
    byName.erase(f->name);
    for (size_t i = files.size(); i-- > 0;) {
        if (files[i].get() == f) {
            files.erase(files.begin() + (long)i);
            break;
        }
    }
    return true;
}

}   // namespace

const FileForm memoryFiles = {MemoryOpen, MemoryRead, MemoryWrite, MemorySeek, MemoryClose, MemoryRemove};

void UseMemoryFiles(bool on) { inUse = on; }
bool MemoryFilesInUse(void) { return inUse; }

void PutMemoryFile(const char* path, const void* data, size_t size)
{
    MemoryFile* f = FindOrAdd(path);
    blockedNames -= f->blocked;
    f->blocked = false;
    f->bytes.assign((const char*)data, size);
}

void BlockMemoryFile(const char* path)
{
    MemoryFile* f = FindOrAdd(path);
    blockedNames += !f->blocked;
    f->blocked = true;
    f->bytes.clear();
}

const unsigned char* GetMemoryFile(const char* path, size_t* size)
{
    MemoryFile* f = Find(path);
    if (!f || f->blocked)
        return nullptr;
    *size = f->bytes.size();
    return (const unsigned char*)f->bytes.data();
}

size_t MemoryFileCount(void)
{
    if (blockedNames == 0)
        return files.size();
    size_t n = 0;
    for (const auto& f : files)
        n += !f->blocked;
    return n;
}

const char* MemoryFileName(size_t index)
{
    if (blockedNames == 0)
        return index < files.size() ? files[index]->name.c_str() : nullptr;
    for (const auto& f : files)
        if (!f->blocked && index-- == 0)
            return f->name.c_str();
    return nullptr;
}

void ClearMemoryFiles(void)
{
    files.clear();
    byName.clear();
    blockedNames = 0;
}
