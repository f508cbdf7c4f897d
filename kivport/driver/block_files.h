// Block files: a whole file into a new data block, a block's text into a
// file. Portable over the block and byte-file seams, so the failure tests run
// them natively from memory; the exports KivLoadFile and KivSaveFile are
// these with the classic file calls.
#pragma once
#include <cstdint>
#include "bytefile.h"
#include "memblock.h"

// The classic file calls (_lopen, _lcreat, _hread, _hwrite, _llseek,
// _lclose) as a byte-file form: the caller's ANSI path and compatibility
// sharing. Windows only.
extern const FileForm classicFiles;

// A new zeroed block one byte longer than the file, holding its bytes; null
// with *result set to RC_FILE_OPEN or RC_NO_MEMORY. Success leaves *result
// alone. Files open through form (null: the standard library's streams).
BlockHandle LoadBlockFile(const char* path, int16_t* result, const FileForm* form);
// Writes the block's text up to its first NUL: RC_OK, RC_FILE_OPEN when the
// file cannot be created, RC_NO_MEMORY when the block cannot be locked,
// RC_FILE_WRITE when fewer bytes were written.
int16_t SaveBlockFile(const char* path, BlockHandle block, const FileForm* form);
