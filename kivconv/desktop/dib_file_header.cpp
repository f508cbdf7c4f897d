#include "dib_file_header.h"

namespace {

const uint32_t kInfoHeaderSize = 40;   // the plain information header
const uint32_t kBitfields = 3;         // compression: colour masks given
const uint32_t kMaskBytes = 12;        // red, green and blue masks

// A field of the information header; 0 where the block ends before it, so a
// truncated block is never read beyond.
uint32_t Field(const unsigned char* block, size_t blockSize, size_t offset, size_t width)
{
    if (offset + width > blockSize)
        return 0;
    uint32_t v = 0;
    for (size_t i = 0; i < width; i++)
        v |= static_cast<uint32_t>(block[offset + i]) << (8 * i);
    return v;
}

uint32_t PaletteColours(uint32_t bitCount, uint32_t clrUsed)
{
    if (clrUsed != 0)
        return clrUsed;
    switch (bitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

void Put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}

uint32_t DibPixelOffset(const unsigned char* block, size_t blockSize)
{
    uint32_t infoSize = Field(block, blockSize, 0, 4);
    uint32_t bitCount = Field(block, blockSize, 14, 2);
    uint32_t compression = Field(block, blockSize, 16, 4);
    uint32_t clrUsed = Field(block, blockSize, 32, 4);

    // The larger header forms carry their masks inside the header; only the
    // plain 40-byte header is followed by them.
    uint32_t headerSize = infoSize > kInfoHeaderSize ? infoSize : kInfoHeaderSize;
    uint32_t masks = (headerSize == kInfoHeaderSize && compression == kBitfields) ? kMaskBytes : 0;
    return static_cast<uint32_t>(kDibFileHeaderSize) + headerSize + masks +
           4 * PaletteColours(bitCount, clrUsed);
}

void BuildDibFileHeader(const unsigned char* block, size_t blockSize,
                        unsigned char header[kDibFileHeaderSize])
{
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<uint32_t>(blockSize + kDibFileHeaderSize));
    Put32(header + 6, 0);   // the two reserved words
    Put32(header + 10, DibPixelOffset(block, blockSize));
}
