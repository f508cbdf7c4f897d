// Block files: a whole file into a new data block, a block's text into a file.
// The classic file calls keep the caller's ANSI path semantics and sharing.
#include "records/driver_win32.h"

// Failures are reported through the caller's result; success leaves it alone.
static HGLOBAL Fail(int16_t* result, int16_t code)
{
    if (result)
        *result = code;
    return nullptr;
}

extern "C" HGLOBAL WINAPI KivLoadFile(const char* path, int16_t* result)
{
    HFILE f = _lopen(path, OF_READ | OF_SHARE_COMPAT);
    if (f == HFILE_ERROR)
        return Fail(result, RC_FILE_OPEN);
    LONG size = _llseek(f, 0, FILE_END);
    _llseek(f, 0, FILE_BEGIN);
    // Sizes are 32-bit signed here: a file of 2 GiB or more cannot become a
    // block with its terminating NUL.
    if (size < 0 || size == 0x7FFFFFFF) {
        _lclose(f);
        return Fail(result, RC_NO_MEMORY);
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (SIZE_T)size + 1);
    if (!block) {
        _lclose(f);
        return Fail(result, RC_NO_MEMORY);
    }
    char* data = (char*)GlobalLock(block);
    if (!data) {
        GlobalFree(block);
        _lclose(f);
        return Fail(result, RC_NO_MEMORY);
    }
    long got = _hread(f, data, size);
    GlobalUnlock(block);
    _lclose(f);
    // A short read would hand back a block with silently missing data.
    if (got != size) {
        GlobalFree(block);
        return Fail(result, RC_FILE_OPEN);
    }
    return block;
}

extern "C" int16_t WINAPI KivSaveFile(const char* path, HGLOBAL hBlock)
{
    HFILE f = _lcreat(path, 0);
    if (f == HFILE_ERROR)
        return RC_FILE_OPEN;
    int16_t code = RC_NO_MEMORY;
    const char* data = (const char*)GlobalLock(hBlock);
    if (data) {
        // The block is NUL-terminated text; never look past its end.
        SIZE_T capacity = GlobalSize(hBlock);
        long length = 0;
        while ((SIZE_T)length < capacity && data[length] != '\0')
            length++;
        long written = _hwrite(f, data, length);
        code = written == length ? RC_OK : RC_FILE_WRITE;
        GlobalUnlock(hBlock);
    }
    _lclose(f);
    return code;
}
