// Byte files: the binary files the portable core opens by name (the chunk
// file, image files, the description file, block files, and the files under
// the text streams). Each open file keeps the form it was opened in; a form is
// the table of the few calls a file needs. The standard library's binary
// streams are the usual form, a module with file calls of its own brings its
// form, and while memory files are in use (memfiles.h) every open goes to
// memory whatever form was asked for.
#pragma once
#include <cstddef>

enum FileAccess {
    BF_READ,     // an existing file, from its start
    BF_CREATE,   // created, or truncated when it exists
};

struct FileForm {
    void* (*open)(const char* path, FileAccess access);        // null when it cannot be opened
    long (*read)(void* file, void* buffer, size_t n);          // bytes read (0 at the end), -1 on an error
    size_t (*write)(void* file, const void* data, size_t n);   // bytes written
    long (*seek)(void* file, long offset,
                 int origin);    // SEEK_SET or SEEK_END; the new position, -1 on failure
    bool (*close)(void* file);   // false when the file could not be finished
    bool (*remove)(const char* path);
};

// Unbuffered binary streams of the standard library: a failing write is seen
// by the call that made it.
extern const FileForm stdioFiles;

struct ByteFile;

// While a form is routed to (and memory files are not in use), every open
// and removal by name goes to it, whatever form was asked: a caller can thus
// send the core's outputs elsewhere than the names it derives. Null ends it.
void RouteFiles(const FileForm* form);

// Opens through form (stdioFiles when null). Null when the file cannot be
// opened.
ByteFile* FileOpen(const char* path, FileAccess access, const FileForm* form = nullptr);
// Bytes read; 0 at the end, and on an error, which FileReadFailed then tells.
size_t FileRead(ByteFile* file, void* buffer, size_t n);
bool FileReadFailed(const ByteFile* file);
// Writes all n bytes; false when fewer were written.
bool FileWrite(ByteFile* file, const void* data, size_t n);
long FileSeek(ByteFile* file, long offset, int origin);
// Closes and frees; false when the file could not be finished.
bool FileClose(ByteFile* file);
bool FileRemove(const char* path, const FileForm* form = nullptr);

// Fault injection for tests: while fileWriteFaultCountdown is positive, every
// FileWrite of at least one byte counts it down, and the write that brings it
// to zero fails without writing anything, as on a full disk. Zero (the
// default) injects nothing.
extern long fileWriteFaultCountdown;
bool FileWriteFaultDue(void);
