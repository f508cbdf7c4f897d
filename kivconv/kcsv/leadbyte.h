// Lead bytes of code page 932 double-byte characters. Asked of the data itself,
// never of the system's code page: the files are 932 on any Windows.
#pragma once

inline bool IsLeadByte932(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
