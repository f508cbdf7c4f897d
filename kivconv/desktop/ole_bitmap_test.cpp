#include "desktop_test.h"
#include <cstdint>
#include <cstring>

namespace {

uint32_t U32(const std::string& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--)
        v = v << 8 | static_cast<unsigned char>(b.at(at + i));
    return v;
}

void Put(std::string& b, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        b[at + i] = static_cast<char>(v >> (8 * i));
}

// A packed device-independent bitmap as an application puts it on the
// clipboard; pixels is where its pixel rows start.
struct Dib {
    std::string block;
    size_t pixels = 0;
    std::string Pixels() const { return block.substr(pixels); }
};

Dib MakeDib(uint32_t headerSize, uint16_t bitCount, uint32_t compression, uint32_t clrUsed,
            bool masksAfterHeader = false)
{
    const int width = 5, height = 3;
    const size_t stride = (width * bitCount + 31) / 32 * 4;
    uint32_t colours = clrUsed ? clrUsed : (bitCount <= 8 ? 1u << bitCount : 0);
    Dib d;
    d.block.assign(headerSize, '\0');
    Put(d.block, 0, headerSize, 4);
    Put(d.block, 4, width, 4);
    Put(d.block, 8, height, 4);
    Put(d.block, 12, 1, 2);
    Put(d.block, 14, bitCount, 2);
    Put(d.block, 16, compression, 4);
    Put(d.block, 20, static_cast<uint32_t>(stride * height), 4);
    Put(d.block, 32, clrUsed, 4);
    if (headerSize >= 108 && compression == BI_BITFIELDS) {
        Put(d.block, 40, 0x00FF0000, 4);
        Put(d.block, 44, 0x0000FF00, 4);
        Put(d.block, 48, 0x000000FF, 4);
        Put(d.block, 56, 0x73524742, 4);   // LCS_sRGB
    }
    if (masksAfterHeader) {
        d.block += std::string("\x00\xF8\x00\x00\xE0\x07\x00\x00\x1F\x00\x00\x00", 12);
    }
    for (uint32_t i = 0; i < colours; i++) {
        unsigned char c = static_cast<unsigned char>(i * 37);
        d.block += std::string{char(c), char(255 - c), char(c ^ 0x55), 0};
    }
    d.pixels = d.block.size();
    for (size_t i = 0; i < stride * height; i++)
        d.block += static_cast<char>(i * 7 + 3);
    return d;
}

bool PutOnClipboard(HWND owner, UINT format, HANDLE data)
{
    if (!OpenClipboard(owner))
        return false;
    EmptyClipboard();
    bool ok = SetClipboardData(format, data) != nullptr;
    CloseClipboard();
    return ok;
}

bool PutBlock(HWND owner, UINT format, const std::string& block)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, block.size());
    memcpy(GlobalLock(h), block.data(), block.size());
    GlobalUnlock(h);
    return PutOnClipboard(owner, format, h);
}

class SaveOleBitmap : public ::testing::Test {
protected:
    FocusWindow owner;
    TempFolder dir;
    std::string path = dir.File("clip.bmp");

    void SetUp() override { ASSERT_NE(nullptr, Desktop().saveOleBitmap); }

    // Saves the clipboard's bitmap; the file's bytes, empty when none was written.
    std::string Save(BOOLEAN expect = 1)
    {
        EXPECT_EQ(expect, Desktop().saveOleBitmap(owner.hwnd, path.c_str()));
        EXPECT_EQ(nullptr, GetOpenClipboardWindow()) << "clipboard left open";
        return ReadFileBytes(path);
    }

    // The file header and the block behind it.
    void ExpectFile(const std::string& file, const std::string& block, uint32_t pixelOffset)
    {
        ASSERT_EQ(14 + block.size(), file.size());
        EXPECT_EQ("BM", file.substr(0, 2));
        EXPECT_EQ(file.size(), U32(file, 2));
        EXPECT_EQ(0u, U32(file, 6));
        EXPECT_EQ(pixelOffset, U32(file, 10));
        EXPECT_TRUE(file.substr(14) == block) << "block not copied whole";
    }
};

TEST_F(SaveOleBitmap, PixelOffsetPointsAtThePixelsForEveryHeaderForm)
{
    struct Case {
        const char* name;
        Dib dib;
        uint32_t offset;
    } cases[] = {
        {"1-bit", MakeDib(40, 1, BI_RGB, 0), 54 + 8},
        {"4-bit", MakeDib(40, 4, BI_RGB, 0), 54 + 64},
        {"8-bit", MakeDib(40, 8, BI_RGB, 0), 54 + 1024},
        {"8-bit, 5 colours used", MakeDib(40, 8, BI_RGB, 5), 54 + 20},
        {"24-bit", MakeDib(40, 24, BI_RGB, 0), 54},
        {"24-bit with a palette", MakeDib(40, 24, BI_RGB, 3), 54 + 12},
        {"32-bit", MakeDib(40, 32, BI_RGB, 0), 54},
        {"16-bit masks after the header", MakeDib(40, 16, BI_BITFIELDS, 0, true), 54 + 12},
        {"32-bit version 5 header", MakeDib(124, 32, BI_BITFIELDS, 0), 14 + 124},
        {"8-bit version 4 header", MakeDib(108, 8, BI_RGB, 0), 14 + 108 + 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(path.c_str());
        ASSERT_TRUE(PutBlock(owner.hwnd, CF_DIB, c.dib.block));
        std::string file = Save();
        ExpectFile(file, c.dib.block, c.offset);
        EXPECT_TRUE(file.substr(c.offset) == c.dib.Pixels()) << "offset misses the pixels";
    }
}

TEST_F(SaveOleBitmap, BitmapConvertedByTheClipboardKeepsItsPixelsFindable)
{
    // An application that copies a picture often hands over a device bitmap;
    // the system makes the device-independent block from it.
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 7, 4);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 7; x++)
            SetPixel(dc, x, y, RGB(x * 30, y * 60, 200 - x * y * 5));
    SelectObject(dc, old);
    DeleteDC(dc);

    // The pixels as the clipboard's block describes them, read from a copy.
    HBITMAP copy = static_cast<HBITMAP>(CopyImage(bitmap, IMAGE_BITMAP, 0, 0, 0));
    ASSERT_TRUE(PutOnClipboard(owner.hwnd, CF_BITMAP, bitmap));
    std::string file = Save();
    ASSERT_GT(file.size(), 14u + 40u);
    std::string block = file.substr(14);
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD extra[256];
    } info = {};
    memcpy(&info.h, block.data(), sizeof info.h);
    info.h.biSize = sizeof info.h;
    std::string expected(info.h.biSizeImage ? info.h.biSizeImage : 4 * 7 * 4 * 4, '\0');
    int lines = GetDIBits(screen, copy, 0, 4, &expected[0], reinterpret_cast<BITMAPINFO*>(&info),
                          DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    DeleteObject(copy);
    ASSERT_EQ(4, lines);
    size_t rows = (7 * info.h.biBitCount + 31) / 32 * 4 * 4;
    uint32_t offset = U32(file, 10);
    ASSERT_LE(offset + rows, file.size());
    EXPECT_TRUE(file.substr(offset, rows) == expected.substr(0, rows))
        << "header size " << U32(block, 0) << ", bits " << info.h.biBitCount << ", compression "
        << info.h.biCompression << ", offset " << offset;
}

TEST_F(SaveOleBitmap, BlockShorterThanItsHeaderIsWrittenAsItComes)
{
    // Twenty bytes: the colour count field lies beyond the block.
    std::string block = MakeDib(40, 8, BI_RGB, 0).block.substr(0, 20);
    ASSERT_TRUE(PutBlock(owner.hwnd, CF_DIB, block));
    ExpectFile(Save(), block, 54 + 1024);
}

TEST_F(SaveOleBitmap, NoBitmapOnTheClipboardWritesNothing)
{
    ASSERT_TRUE(PutBlock(owner.hwnd, CF_TEXT, std::string("text only", 10)));
    EXPECT_EQ("", Save(0));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
}

TEST_F(SaveOleBitmap, FileThatCannotBeCreatedGivesZero)
{
    ASSERT_TRUE(PutBlock(owner.hwnd, CF_DIB, MakeDib(40, 24, BI_RGB, 0).block));
    path = dir.File("missing\\clip.bmp");
    EXPECT_EQ("", Save(0));
}

}
