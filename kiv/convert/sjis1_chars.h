// SJIS1, the handheld's text to code page 932 and back, a character at a
// time from tables that the core's own conversion fills on first use of
// each character: a table cell costs a few lookups instead of the core's
// search of its character maps.
#pragma once
#include <string>

// What WithSjis1Text gives for text (up to its first NUL) in that direction,
// into *out. False when a character's answer cannot be told apart from the
// end of the text (its bytes hold a NUL); the caller then asks the core.
bool Sjis1ByTable(const std::string& text, bool toPc, std::string* out);
// Sjis1ByTable(text, true, out), and whether encoding *out again gives text
// back, told from each character's answer.
bool Sjis1DecodeByTable(const std::string& text, std::string* out, bool* encodesBack);
