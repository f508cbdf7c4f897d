// Byte files over their forms, the standard library's form, and the write
// fault counter that every form shares.
#include "bytefile.h"
#include <cstdio>
#include <cstdlib>
#include "memfiles.h"

long fileWriteFaultCountdown;

bool FileWriteFaultDue(void) { return fileWriteFaultCountdown > 0 && --fileWriteFaultCountdown == 0; }

namespace {

void* StdioOpen(const char* path, FileAccess access)
{
    FILE* f = fopen(path, access == BF_CREATE ? "wb" : "rb");
    if (f)
        setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

long StdioRead(void* file, void* buffer, size_t n)
{
    size_t got = fread(buffer, 1, n, (FILE*)file);
    return got == 0 && ferror((FILE*)file) ? -1 : (long)got;
}
size_t StdioWrite(void* file, const void* data, size_t n) { return fwrite(data, 1, n, (FILE*)file); }

long StdioSeek(void* file, long offset, int origin)
{
    return fseek((FILE*)file, offset, origin) == 0 ? ftell((FILE*)file) : -1;
}

bool StdioClose(void* file) { return fclose((FILE*)file) == 0; }
bool StdioRemove(const char* path) { return remove(path) == 0; }

}   // namespace

const FileForm stdioFiles = {StdioOpen, StdioRead, StdioWrite, StdioSeek, StdioClose, StdioRemove};

// The file's own allocation is the file system's, like fopen's: it is not
// counted as one of the core's allocations.
struct ByteFile {
    const FileForm* form;
    void* handle;
    bool readFailed;
};

static const FileForm* routed = nullptr;

void RouteFiles(const FileForm* form) { routed = form; }

static const FileForm* Form(const FileForm* asked)
{
    if (MemoryFilesInUse())
        return &memoryFiles;
    if (routed)
        return routed;
    return asked ? asked : &stdioFiles;
}

ByteFile* FileOpen(const char* path, FileAccess access, const FileForm* form)
{
    if (!path)
        return nullptr;
    form = Form(form);
    ByteFile* file = (ByteFile*)malloc(sizeof(ByteFile));
    if (!file)
        return nullptr;
    file->form = form;
    file->readFailed = false;
    file->handle = form->open(path, access);
    if (!file->handle) {
        free(file);
        return nullptr;
    }
    return file;
}

size_t FileRead(ByteFile* file, void* buffer, size_t n)
{
    if (!file || n == 0)
        return 0;
    long got = file->form->read(file->handle, buffer, n);
    if (got < 0) {
        file->readFailed = true;
        return 0;
    }
    return (size_t)got;
}

bool FileReadFailed(const ByteFile* file) { return !file || file->readFailed; }

bool FileWrite(ByteFile* file, const void* data, size_t n)
{
    if (!file)
        return false;
    if (n == 0)
        return true;
    if (FileWriteFaultDue())
        return false;
    return file->form->write(file->handle, data, n) == n;
}

long FileSeek(ByteFile* file, long offset, int origin)
{
    return file ? file->form->seek(file->handle, offset, origin) : -1;
}

bool FileClose(ByteFile* file)
{
    if (!file)
        return false;
    bool ok = file->form->close(file->handle);
    free(file);
    return ok;
}

bool FileRemove(const char* path, const FileForm* form) { return path && Form(form)->remove(path); }
