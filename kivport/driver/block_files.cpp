// Block files: a whole file into a new data block, a block's text into a file.
// The DLL's exports reach the files through the classic file calls, which
// keep the caller's ANSI path semantics and sharing.
#include "block_files.h"
#include <cstdio>
#include "records.h"

// Failures are reported through the caller's result; success leaves it alone.
static BlockHandle Fail(int16_t* result, int16_t code)
{
    if (result)
        *result = code;
    return nullptr;
}

BlockHandle LoadBlockFile(const char* path, int16_t* result, const FileForm* form)
{
    ByteFile* f = FileOpen(path, BF_READ, form);
    if (!f)
        return Fail(result, RC_FILE_OPEN);
    long size = FileSeek(f, 0, SEEK_END);
    FileSeek(f, 0, SEEK_SET);
    // Sizes are 32-bit signed here: a file of 2 GiB or more cannot become a
    // block with its terminating NUL.
    if (size < 0 || size >= 0x7FFFFFFF) {
        FileClose(f);
        return Fail(result, RC_NO_MEMORY);
    }
    BlockHandle block = BlockAlloc((size_t)size + 1, true);
    if (!block) {
        FileClose(f);
        return Fail(result, RC_NO_MEMORY);
    }
    char* data = (char*)BlockLock(block);
    if (!data) {
        BlockFree(block);
        FileClose(f);
        return Fail(result, RC_NO_MEMORY);
    }
    size_t got = FileRead(f, data, (size_t)size);
    BlockUnlock(block);
    FileClose(f);
    // A short read would hand back a block with silently missing data.
    if (got != (size_t)size) {
        BlockFree(block);
        return Fail(result, RC_FILE_OPEN);
    }
    return block;
}

int16_t SaveBlockFile(const char* path, BlockHandle block, const FileForm* form)
{
    ByteFile* f = FileOpen(path, BF_CREATE, form);
    if (!f)
        return RC_FILE_OPEN;
    int16_t code = RC_NO_MEMORY;
    const char* data = (const char*)BlockLock(block);
    if (data) {
        // The block is NUL-terminated text; never look past its end.
        size_t capacity = BlockSize(block);
        size_t length = 0;
        while (length < capacity && data[length] != '\0')
            length++;
        code = FileWrite(f, data, length) ? RC_OK : RC_FILE_WRITE;
        BlockUnlock(block);
    }
    FileClose(f);
    return code;
}

#ifdef _WIN32
#include <windows.h>

extern "C" HGLOBAL WINAPI KivLoadFile(const char* path, int16_t* result)
{
    return LoadBlockFile(path, result, &classicFiles);
}

extern "C" int16_t WINAPI KivSaveFile(const char* path, HGLOBAL hBlock)
{
    return SaveBlockFile(path, hBlock, &classicFiles);
}
#endif
