// Character maps between the PC's code page 932 and the handheld's own
// double-byte set. A code is one byte b as b, or lead L and trail T as L*256+T.
#pragma once
#include <cstdint>

enum CharMapKind : uint8_t {
    CMK_END = 0,        // ends the table
    CMK_EXACT = 1,      // code == first           -> second
    CMK_SHIFT = 2,      // first <= code <= second -> code - value (16-bit)
    CMK_INDEXED = 3,    // first <= code <= second -> list[code - first]
    CMK_CONSTANT = 4,   // first <= code <= second -> value
};

struct CharMapEntry {
    uint8_t kind;
    uint16_t first;
    uint16_t second;
    uint16_t value;
    const uint16_t* list;   // CMK_INDEXED only: second - first + 1 codes
};

// Handheld code for PC code, for the square-and-sign characters the two sets differ in.
extern const CharMapEntry PcExtMap[];
// Handheld -> PC, by lead byte: 0xEB/0xEC, 0xFC, 0xFD, any other lead.
extern const CharMapEntry HandheldKanaMap[];
extern const CharMapEntry HandheldFcMap[];
extern const CharMapEntry HandheldFdMap[];
extern const CharMapEntry HandheldDbcsMap[];

// ■: the PC's stand-in for handheld characters it has no counterpart for.
const uint16_t MISSING_CHAR = 0x81A1;

// Result of the first row that matches code, or 0 when none does (no row maps to 0).
uint16_t LookupCharMap(uint16_t code, const CharMapEntry* map);
