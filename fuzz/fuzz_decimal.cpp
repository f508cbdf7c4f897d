// Parses arbitrary text as a number; the result must format within bounds,
// parse back from its own text, and survive the key round trip. The first 15
// bytes are also taken as a stored key, which must format without overrun.
#include "number/packed_decimal.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>

static void CheckFormat(const PackedDecimal* n)
{
    static const int places[] = {0, 1, 2, 7};
    for (int p : places) {
        char* text = (char*)malloc(DEC_TEXT_MAX + p);   // exact size: ASan sees overruns
        int length = FormatDecimal(text, n, p);
        if (length < 0 || length >= DEC_TEXT_MAX + p || strlen(text) != (size_t)length)
            abort();
        free(text);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = (char*)malloc(size + 1);
    memcpy(text, data, size);
    text[size] = '\0';
    PackedDecimal n;
    if (ParseDecimal(&n, text) > DEC_TRAILING)
        abort();
    free(text);
    CheckFormat(&n);

    char formatted[DEC_TEXT_MAX];
    FormatDecimal(formatted, &n, 0);
    PackedDecimal again;
    ParseDecimal(&again, formatted);
    if (memcmp(&again, &n, DEC_SIZE) != 0 || CompareDecimal(&again, &n) != 0)
        abort();

    DecimalKey key = n;
    EncodeDecimalKey(&key);
    if (memchr(key.bytes, 0, DEC_SIZE))
        abort();
    DecodeDecimalKey(&key);
    if (memcmp(&key, &n, DEC_SIZE) != 0)
        abort();

    if (size >= DEC_SIZE) {
        DecimalKey raw;
        memcpy(raw.bytes, data, DEC_SIZE);
        DecodeDecimalKey(&raw);
        CheckFormat(&raw);
        RoundToPrecision(&raw);
        CheckFormat(&raw);
    }
    return 0;
}
