// The 14-byte file header that makes a packed device-independent bitmap (the
// clipboard's CF_DIB block) a bitmap file.
#pragma once
#include <cstddef>
#include <cstdint>

const size_t kDibFileHeaderSize = 14;

// Where the pixels start in the file: behind the file header, the information
// header, the colour masks that follow a 40-byte header, and the palette.
uint32_t DibPixelOffset(const unsigned char* block, size_t blockSize);

void BuildDibFileHeader(const unsigned char* block, size_t blockSize,
                        unsigned char header[kDibFileHeaderSize]);
