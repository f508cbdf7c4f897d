// Text as a terminal shows it: code points of display width 0, 1 or 2
// (East Asian wide and full-width characters take two cells, combining marks
// none), whatever the user's locale.
#pragma once
#include <cstdint>
#include <string>

// The code point at *at, which moves past it; U+FFFD for a byte that starts
// no UTF-8 character (one byte is taken).
uint32_t NextCodePoint(const std::string& text, size_t* at);
// cp as UTF-8.
std::string Utf8Of(uint32_t cp);
// The cells cp takes; -1 for a control character.
int CodePointWidth(uint32_t cp);
// The text for one terminal line: line breaks (LF, CR, and the byte 0x1F a
// text field holds one as) as "↵", a tab as a blank, other control
// characters and bytes that are no UTF-8 as U+FFFD.
std::string OneLine(const std::string& text);
// The cells OneLine(text) takes.
int DisplayWidth(const std::string& text);
// OneLine(text) in exactly width cells: padded with blanks (before it when
// right), or cut to end in "…" when wider.
std::string FitCells(const std::string& text, int width, bool right);
