// Decodes arbitrary text as a 3TO4 field. The decoder onto a (memory) file
// must agree with the one into a buffer, never produce more than three bytes
// per four characters, and its bytes must survive encoding and decoding
// again. A number field is decoded from the same text, within bounds.
#include "kcsv/field_codecs.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include "memfiles.h"
#include "number/packed_decimal.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    UseMemoryFiles(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = (char*)malloc(size + 1);   // exact size: ASan sees reads past the NUL
    memcpy(text, data, size);
    text[size] = '\0';
    size_t limit = strlen(text);

    size_t cap = size / 4 * 3 + 3;
    unsigned char* bytes = (unsigned char*)malloc(cap);
    size_t n = Decode3to4Bytes(text, bytes, cap);
    if (n > limit / 4 * 3 + 2)
        abort();

    ByteFile* out = FileOpen("decoded", BF_CREATE);
    if (!out || !Decode3to4Text(text, out) || !FileClose(out))
        abort();
    size_t written = 0;
    const unsigned char* streamed = GetMemoryFile("decoded", &written);
    if (!streamed || written != n || memcmp(streamed, bytes, n) != 0)
        abort();

    char* again = (char*)malloc(Encoded3to4Length(n) + 1);
    again[Encode3to4Bytes(bytes, n, again)] = '\0';
    unsigned char* back = (unsigned char*)malloc(n + 1);
    if (Decode3to4Bytes(again, back, n + 1) != n || memcmp(back, bytes, n) != 0)
        abort();

    char* number = (char*)malloc(DEC_TEXT_MAX);
    if (DecodeNumberField(text, number, DEC_TEXT_MAX) && strlen(number) >= DEC_TEXT_MAX)
        abort();

    free(number);
    free(back);
    free(again);
    free(bytes);
    free(text);
    return 0;
}
