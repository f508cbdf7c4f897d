// Byte files straight over the C library's unbuffered binary streams, for the
// conversion benchmark's build without the seams (KIV_BARE_SEAMS): no form
// table, no file record of our own and no write fault counter, as the core
// read and wrote its files before it had them. Memory files are not served.
#include <cstdio>
#include "bytefile.h"
#include "memblock.h"

#ifndef KIV_BARE_SEAMS
#error "bare_seams.cpp belongs to the build without the seams only"
#endif

ByteFile* FileOpen(const char* path, FileAccess access, const FileForm*)
{
    FILE* f = path ? fopen(path, access == BF_CREATE ? "wb" : "rb") : nullptr;
    if (f)
        setvbuf(f, nullptr, _IONBF, 0);
    return (ByteFile*)f;
}

size_t FileRead(ByteFile* file, void* buffer, size_t n) { return fread(buffer, 1, n, (FILE*)file); }
bool FileReadFailed(const ByteFile* file) { return ferror((FILE*)file) != 0; }
bool FileWrite(ByteFile* file, const void* data, size_t n) { return fwrite(data, 1, n, (FILE*)file) == n; }

long FileSeek(ByteFile* file, long offset, int origin)
{
    return fseek((FILE*)file, offset, origin) == 0 ? ftell((FILE*)file) : -1;
}

bool FileClose(ByteFile* file) { return fclose((FILE*)file) == 0; }
bool FileRemove(const char* path, const FileForm*) { return remove(path) == 0; }
