// The classic file calls as a byte-file form, for the block files. A handle
// travels as the HFILE value itself.
#include <windows.h>
#include <cstdint>
#include <cstdio>
#include "block_files.h"

namespace {

void* Handle(HFILE f) { return (void*)(intptr_t)f; }
HFILE File(void* handle) { return (HFILE)(intptr_t)handle; }

// HFILE_ERROR is -1 and no handle is 0: both mean "not opened" here.
void* ClassicOpen(const char* path, FileAccess access)
{
    HFILE f = access == BF_CREATE ? _lcreat(path, 0) : _lopen(path, OF_READ | OF_SHARE_COMPAT);
    return f == HFILE_ERROR ? nullptr : Handle(f);
}

long ClassicRead(void* handle, void* buffer, size_t n)
{
    long got = _hread(File(handle), buffer, (long)n);
    return got == HFILE_ERROR ? -1 : got;
}

// _hwrite takes a long: a text of 2 GiB or more (a 64-bit caller's) goes
// out in pieces rather than with a size cut to a negative count.
size_t ClassicWrite(void* handle, const void* data, size_t n)
{
    const size_t pieceMax = 0x7FFFFFFF;
    const char* p = (const char*)data;
    size_t done = 0;
    while (done < n) {
        size_t piece = n - done < pieceMax ? n - done : pieceMax;
        long written = _hwrite(File(handle), p + done, (long)piece);
        if (written == HFILE_ERROR)
            break;
        done += (size_t)written;
        if ((size_t)written < piece)
            break;
    }
    return done;
}

long ClassicSeek(void* handle, long offset, int origin)
{
    LONG at = _llseek(File(handle), offset, origin == SEEK_END ? FILE_END : FILE_BEGIN);
    return at == HFILE_ERROR ? -1 : at;
}

bool ClassicClose(void* handle) { return _lclose(File(handle)) != HFILE_ERROR; }
bool ClassicRemove(const char* path) { return DeleteFileA(path) != 0; }

}   // namespace

const FileForm classicFiles = {ClassicOpen, ClassicRead,  ClassicWrite,
                               ClassicSeek, ClassicClose, ClassicRemove};
