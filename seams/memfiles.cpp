// Memory files: a list of named byte strings standing in for a folder. A
// conversion touches a handful of files, so the list is searched in order.
#include "memfiles.h"
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
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
bool inUse;

struct OpenFile {
    MemoryFile* file;
    size_t pos;
};

MemoryFile* Find(const char* path)
{
    for (const auto& f : files)
        if (f->name == path)
            return f.get();
    return nullptr;
}

MemoryFile* FindOrAdd(const char* path)
{
    MemoryFile* f = Find(path);
    if (!f) {
        files.emplace_back(new MemoryFile{path, std::string(), false});
        f = files.back().get();
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

bool MemoryRemove(const char* path)
{
    for (size_t i = 0; i < files.size(); i++) {
        if (files[i]->name == path && !files[i]->blocked) {
            files.erase(files.begin() + (long)i);
            return true;
        }
    }
    return false;
}

}   // namespace

const FileForm memoryFiles = {MemoryOpen, MemoryRead, MemoryWrite, MemorySeek, MemoryClose, MemoryRemove};

void UseMemoryFiles(bool on) { inUse = on; }
bool MemoryFilesInUse(void) { return inUse; }

void PutMemoryFile(const char* path, const void* data, size_t size)
{
    MemoryFile* f = FindOrAdd(path);
    f->blocked = false;
    f->bytes.assign((const char*)data, size);
}

void BlockMemoryFile(const char* path)
{
    MemoryFile* f = FindOrAdd(path);
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
    size_t n = 0;
    for (const auto& f : files)
        n += !f->blocked;
    return n;
}

const char* MemoryFileName(size_t index)
{
    for (const auto& f : files)
        if (!f->blocked && index-- == 0)
            return f->name.c_str();
    return nullptr;
}

void ClearMemoryFiles(void) { files.clear(); }
