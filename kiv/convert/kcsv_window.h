// A Kcsv input read a piece at a time, so that a table of any length converts
// in flat memory: the window holds the bytes from the oldest record still in
// use to as far as has been read. The text ends at its first 0x1A byte, as a
// text-mode read ends it, so the window is cut there and every reader over it
// sees the same end.
#pragma once
#include <cstdio>
#include <string>

struct KcsvWindow {
    std::string text;     // the input's bytes from offset `dropped` on
    size_t dropped = 0;   // bytes before text[0] no longer held
    FILE* file = nullptr;
    std::string path;     // names the file in a read error
    bool ended = false;   // text reaches the end of the input
    int readError = 0;    // errno of a failed read
};

// A whole table already in memory: the window holds it from the start.
void OpenKcsvWindow(std::string bytes, KcsvWindow* window);
// An open stream, read from where it stands; the window closes it. path
// names it in a read error.
void OpenKcsvWindowStream(FILE* file, const std::string& path, KcsvWindow* window);
// KIV_EXIT_READ with *error "<path>: <reason>" when the file cannot be opened.
int OpenKcsvWindowFile(const std::string& path, KcsvWindow* window, std::string* error);
// Appends the next piece of the file; false once the input has ended.
bool ReadMoreKcsv(KcsvWindow* window);
// Drops the bytes before text[keep] when there are enough of them to be
// worth moving the rest; returns how many went.
size_t DropKcsvBefore(KcsvWindow* window, size_t keep);
// Reads the rest of the file unkept and closes it: KIV_EXIT_READ with *error
// when any read failed, so that a read error wins as when the file was read
// whole first.
int CloseKcsvWindow(KcsvWindow* window, std::string* error);
