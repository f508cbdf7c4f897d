// Decodes arbitrary text as a 3TO4 field. The stream decoder must agree with
// the in-memory one, never produce more than three bytes per four characters,
// and its bytes must survive encoding and decoding again. A number field is
// decoded from the same text, within bounds.
#include "kcsv/field_codecs.h"
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "number/packed_decimal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = (char*)malloc(size + 1);      // exact size: ASan sees reads past the NUL
    memcpy(text, data, size);
    text[size] = '\0';
    size_t limit = strlen(text);

    size_t cap = size / 4 * 3 + 3;
    unsigned char* bytes = (unsigned char*)malloc(cap);
    size_t n = Decode3to4Bytes(text, bytes, cap);
    if (n > limit / 4 * 3 + 2)
        abort();

    unsigned char* streamed = (unsigned char*)malloc(cap);
    FILE* out = fmemopen(streamed, cap, "wb");
    if (!out || !Decode3to4Text(text, out))
        abort();
    long written = ftell(out);
    fclose(out);
    if ((size_t)written != n || memcmp(streamed, bytes, n) != 0)
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
    free(streamed);
    free(bytes);
    free(text);
    return 0;
}
