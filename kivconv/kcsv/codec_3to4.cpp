// "3TO4": bytes as text that fits in a quoted CSV field. Photographs of
// several megabytes pass through here, so both directions work on whole runs
// of groups with table lookups and write through fixed buffers.
#include <cstring>
#include "kcsv/field_codecs.h"

namespace {

constexpr const char* kAlphabet = ALPHABET_3TO4;

// Per character: its 6-bit value, or one of these marks.
const unsigned char kInvalid = 0x40;   // outside the alphabet: its group is skipped
const unsigned char kStop = 0x80;      // ends the text: NUL, LF, CR, double quote

struct ValueTable {
    unsigned char v[256];
};

constexpr ValueTable MakeValueTable()
{
    ValueTable t{};
    for (int i = 0; i < 256; i++)
        t.v[i] = kInvalid;
    for (int i = 0; i < 64; i++)
        t.v[(unsigned char)kAlphabet[i]] = (unsigned char)i;
    t.v[0] = t.v[(unsigned char)'\n'] = t.v[(unsigned char)'\r'] = t.v[(unsigned char)'"'] = kStop;
    return t;
}

constexpr ValueTable kValues = MakeValueTable();

const size_t kGroupsPerChunk = 8192;   // 24 KB of bytes, 32 KB of text on the stack

// Decodes whole groups from p until a stop character or until the next group
// would not fit in out; p is left on the first character not used. Each
// character is looked at only after the one before it was found not to end
// the text, so nothing past the terminator is read.
size_t DecodeRun(const unsigned char*& p, unsigned char* out, size_t outSize, bool& finished)
{
    const unsigned char* s = p;
    const unsigned char* v = kValues.v;
    size_t n = 0;
    finished = true;
    for (;;) {
        unsigned a = v[s[0]];
        if (a & kStop)
            break;
        unsigned b = v[s[1]];
        if (b & kStop)
            break;   // one character left: nothing
        unsigned c = v[s[2]];
        if (c & kStop) {   // two characters: one byte
            if (!((a | b) & kInvalid)) {
                if (n + 1 > outSize) {
                    finished = false;
                    break;
                }
                out[n++] = (unsigned char)(a | ((b << 2) & 0xC0));
            }
            break;
        }
        unsigned d = v[s[3]];
        if (d & kStop) {   // three characters: two bytes
            if (!((a | b | c) & kInvalid)) {
                if (n + 2 > outSize) {
                    finished = false;
                    break;
                }
                out[n++] = (unsigned char)(a | ((c << 2) & 0xC0));
                out[n++] = (unsigned char)(b | ((c << 4) & 0xC0));
            }
            break;
        }
        if (!((a | b | c | d) & kInvalid)) {
            if (n + 3 > outSize) {
                finished = false;
                break;
            }
            out[n] = (unsigned char)(a | ((d << 2) & 0xC0));
            out[n + 1] = (unsigned char)(b | ((d << 4) & 0xC0));
            out[n + 2] = (unsigned char)(c | ((d << 6) & 0xC0));
            n += 3;
        }
        s += 4;
    }
    p = s;
    return n;
}

}   // namespace

int Encode3to4(unsigned char* buffer, int n)
{
    if (!buffer || n < 1 || n > 3)
        return 0;
    unsigned char in[3] = {0, 0, 0};
    memcpy(in, buffer, (size_t)n);
    char out[4];
    size_t count = Encode3to4Bytes(in, (size_t)n, out);
    memcpy(buffer, out, count);
    return (int)count;
}

int Decode4to3(unsigned char* buffer, int n)
{
    if (!buffer || n < 2 || n > 4)
        return 0;
    unsigned char v[4];
    for (int i = 0; i < n; i++) {
        v[i] = kValues.v[buffer[i]];
        if (v[i] & (kInvalid | kStop))
            return 0;
    }
    unsigned top = v[n - 1];
    for (int i = 0; i < n - 1; i++)
        buffer[i] = (unsigned char)(v[i] | ((top << (2 + 2 * i)) & 0xC0));
    return n - 1;
}

size_t Encode3to4Bytes(const void* data, size_t n, char* out)
{
    const unsigned char* s = (const unsigned char*)data;
    const char* A = kAlphabet;
    char* o = out;
    for (size_t groups = n / 3; groups; groups--, s += 3, o += 4) {
        unsigned b0 = s[0], b1 = s[1], b2 = s[2];
        o[0] = A[b0 & 63];
        o[1] = A[b1 & 63];
        o[2] = A[b2 & 63];
        o[3] = A[((b0 >> 6) << 4) | ((b1 >> 6) << 2) | (b2 >> 6)];
    }
    switch (n % 3) {
    case 1:
        o[0] = A[s[0] & 63];
        o[1] = A[(s[0] >> 6) << 4];
        o += 2;
        break;
    case 2:
        o[0] = A[s[0] & 63];
        o[1] = A[s[1] & 63];
        o[2] = A[((s[0] >> 6) << 4) | ((s[1] >> 6) << 2)];
        o += 3;
        break;
    }
    return (size_t)(o - out);
}

size_t Decode3to4Bytes(const char* text, unsigned char* out, size_t outSize)
{
    if (!text || !out)
        return 0;
    const unsigned char* p = (const unsigned char*)text;
    bool finished;
    return DecodeRun(p, out, outSize, finished);
}

bool Encode3to4Stream(ByteFile* input, TextStream* output)
{
    if (!input || !output)
        return false;
    unsigned char in[kGroupsPerChunk * 3];
    char text[kGroupsPerChunk * 4];
    size_t have = 0;
    for (;;) {
        size_t got = FileRead(input, in + have, sizeof in - have);
        if (got == 0)
            break;
        have += got;
        size_t whole = have / 3 * 3;
        size_t chars = Encode3to4Bytes(in, whole, text);
        if (!TextWrite(output, text, chars))
            return false;
        memmove(in, in + whole, have - whole);   // the 0 to 2 bytes of a group begun
        have -= whole;
    }
    if (FileReadFailed(input))
        return false;
    size_t chars = Encode3to4Bytes(in, have, text);
    return TextWrite(output, text, chars);
}

bool Decode3to4Text(const char* text, ByteFile* output)
{
    if (!text || !output)
        return false;
    unsigned char bytes[kGroupsPerChunk * 3];
    const unsigned char* p = (const unsigned char*)text;
    bool finished = false;
    while (!finished) {
        size_t n = DecodeRun(p, bytes, sizeof bytes, finished);
        if (!FileWrite(output, bytes, n))
            return false;
    }
    return true;
}
