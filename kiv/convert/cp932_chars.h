// Code page 932 and UTF-8 a character at a time, from tables that iconv
// fills on first use of each character (or each lead byte's row): a table
// cell costs a few lookups instead of a trip through iconv. The answers are
// iconv's own, character by character; anything the tables cannot answer
// (bytes that are no character, a character without a form on the other
// side) is left to iconv, which also says where the trouble is.
#pragma once
#include <string>
#include <string_view>

// Appends the conversion of in to *out; false when some character needs
// iconv, with *out then holding a part of the conversion.
bool Cp932ToUtf8ByTable(std::string_view in, std::string* out);
// The same; *roundTrips tells whether every character's UTF-8 converts back
// to its very bytes (not so for the NEC and IBM duplicates, say), in which
// case Utf8ToCp932 of the whole of *out gives in again.
bool Cp932ToUtf8ByTable(std::string_view in, std::string* out, bool* roundTrips);
bool Utf8ToCp932ByTable(std::string_view in, std::string* out);
