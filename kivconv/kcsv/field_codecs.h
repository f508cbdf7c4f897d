// Value codecs of Kcsv fields: "SJIS1" text between the PC's code page 932 and
// the handheld's character set, "3TO4" text for arbitrary bytes (numbers,
// photographs, the chunk file) and the 20-character number field.
#pragma once
#include <cstddef>
#include "bytefile.h"
#include "kcsv/char_maps.h"
#include "memblock.h"
#include "textstream.h"

// ---- SJIS1 ------------------------------------------------------------------
//
// Both return a new data block holding the converted NUL-terminated text (the
// caller locks, copies, unlocks and frees it), or null for a missing or empty
// text or when memory runs out; callers then use the text unchanged. The
// result is never longer than the text. A lead byte with no trail byte before
// the terminating NUL is dropped, so a dangling lead byte can never swallow the
// quote or separator written after the value.

// PC -> handheld: PcExtMap for double-byte characters (unmapped ones stay),
// LF becomes 0x1F, every other single byte stays.
BlockHandle Sjis1Encode(const char* text);
// Handheld -> PC: leads 0xEB/0xEC, 0xFC and 0xFD (also a lead here, though not
// in code page 932) go through their maps and give MISSING_CHAR when unmapped;
// other code page 932 leads go through HandheldDbcsMap and stay when unmapped.
// Single bytes, 0x1F and 0x07 included, stay.
BlockHandle Sjis1Decode(const char* text);

// The text of a result of Sjis1Encode or Sjis1Decode, locked for reading, or
// original when the conversion gave nothing (no block, or one that cannot be
// locked). ReleaseSjis1Text unlocks and frees the block.
struct Sjis1Text {
    BlockHandle block;   // null when text is the original
    const char* text;
};
Sjis1Text TakeSjis1Text(BlockHandle result, const char* original);
void ReleaseSjis1Text(Sjis1Text* taken);

// Converts text (Sjis1Decode with toPc, else Sjis1Encode) and hands the result,
// or the text unchanged as TakeSjis1Text would, to use, whose answer it
// returns. Texts shorter than kSmallSjis1Text bytes, the usual field value,
// are converted on the stack: no block for each one.
const size_t kSmallSjis1Text = 256;
bool WithSjis1Text(const char* text, bool toPc, bool (*use)(const char* converted, void* context),
                   void* context);

// ---- 3TO4 -------------------------------------------------------------------
//
// Three bytes become four characters of a 64-character alphabet with no comma,
// quote, blank or line end: the low six bits of each byte, then one character
// collecting their top two bits. A short last group of n bytes gives n + 1.

// The characters for the values 0 to 63.
inline constexpr char ALPHABET_3TO4[65] = "012345ABCDEFGHIJKLMNOPQRSTUVWXYZ6789:;abcdefghijklmnopqrstuvwxyz";

// In place: n = 1..3 bytes become n + 1 characters (buffer holds 4). Returns
// n + 1, or 0 for any other n (buffer unchanged).
int Encode3to4(unsigned char* buffer, int n);
// In place: n = 2..4 characters become n - 1 bytes. Returns n - 1, or 0 for
// another n or a character outside the alphabet (buffer unchanged).
int Decode4to3(unsigned char* buffer, int n);

// Characters that n bytes encode to.
constexpr size_t Encoded3to4Length(size_t n) { return n / 3 * 4 + (n % 3 ? n % 3 + 1 : 0); }

// Encodes n bytes into out, which has room for Encoded3to4Length(n) characters
// (no NUL is added). Returns the number of characters written.
size_t Encode3to4Bytes(const void* data, size_t n, char* out);

// Decodes text up to its first NUL, LF, CR or double quote into out and
// returns the number of bytes written. Full groups of four and a last group of
// two or three characters are decoded; a single last character gives nothing;
// a group with a character outside the alphabet gives nothing and the groups
// after it go on. Stops early, before the first group that would not fit in
// outSize bytes.
size_t Decode3to4Bytes(const char* text, unsigned char* out, size_t outSize);

// Reads the byte file from its current position to its end and writes its
// 3TO4 text to output. Holds only a fixed buffer, whatever the input's size.
// False on a read or write error.
bool Encode3to4Stream(ByteFile* input, TextStream* output);

// Decode3to4Bytes onto a byte file. False when writing fails.
bool Decode3to4Text(const char* text, ByteFile* output);

// ---- number fields ----------------------------------------------------------

// An FK_NUMBER value: the 15-byte DecimalKey of the number as 3TO4 text.
const int NUMBER_FIELD_CHARS = 20;

// Parses text as a decimal number (text that is no number, or null, gives the
// key of zero; the parser's result code is not looked at) and writes exactly
// NUMBER_FIELD_CHARS characters to output. False when the write fails.
bool EncodeNumberField(const char* text, TextStream* output);

// The reverse: decodes value (up to its first NUL, LF, CR or quote) to the
// key's 15 bytes and formats the number as decimal text ("1234.5", "0",
// "-1E-3") into text, NUL-terminated and cut to textSize - 1 bytes
// (DEC_TEXT_MAX bytes always suffice). Returns false and leaves text
// unchanged when value is null or decodes to fewer than 15 bytes, or when the
// bytes are no key (a digit outside 0-9); bytes beyond the 15th are ignored.
bool DecodeNumberField(const char* value, char* text, size_t textSize);
