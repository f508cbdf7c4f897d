// Files held in memory under their names, for tests and fuzz targets: while
// memory files are in use, every byte file and text stream opened by name is
// one of these, so a whole conversion runs from bytes to bytes without a file
// system. Names are compared byte for byte; there are no folders and no
// current directory.
#pragma once
#include <cstddef>
#include "bytefile.h"

extern const FileForm memoryFiles;

void UseMemoryFiles(bool on);
bool MemoryFilesInUse(void);

// Puts a file, replacing one of the same name.
void PutMemoryFile(const char* path, const void* data, size_t size);
// Makes a name that can be neither read nor created, as where a folder
// stands in the way.
void BlockMemoryFile(const char* path);
// The bytes of a file, or null when there is none by that name; valid until
// the file is next written, removed or cleared.
const unsigned char* GetMemoryFile(const char* path, size_t* size);
// The names of the files (blocked names not counted), oldest first.
size_t MemoryFileCount(void);
const char* MemoryFileName(size_t index);
// Removes every file and blocked name; files still open must be closed first.
void ClearMemoryFiles(void);
