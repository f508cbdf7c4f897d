#include "kcsv_window.h"
#include <algorithm>
#include <cerrno>
#include <cstring>
#include "kiv_convert.h"

namespace {

const size_t kPiece = 64 * 1024;
const char kTextEnd = '\x1A';

// Cuts the text at a 0x1A byte from `from` on; the input has then ended.
void CutAtTextEnd(KcsvWindow* w, size_t from)
{
    size_t end = w->text.find(kTextEnd, from);
    if (end == std::string::npos)
        return;
    w->text.resize(end);
    w->ended = true;
}

}   // namespace

void OpenKcsvWindow(std::string bytes, KcsvWindow* window)
{
    *window = KcsvWindow();
    window->text = std::move(bytes);
    window->ended = true;
    CutAtTextEnd(window, 0);
}

void OpenKcsvWindowStream(FILE* file, const std::string& path, KcsvWindow* window)
{
    *window = KcsvWindow();
    window->path = path;
    window->file = file;
}

int OpenKcsvWindowFile(const std::string& path, KcsvWindow* window, std::string* error)
{
    *window = KcsvWindow();
    window->path = path;
    window->file = fopen(path.c_str(), "rb");
    if (!window->file) {
        *error = path + ": " + strerror(errno);
        return KIV_EXIT_READ;
    }
    return KIV_EXIT_OK;
}

bool ReadMoreKcsv(KcsvWindow* w)
{
    if (w->ended || !w->file)
        return false;
    // A record longer than a piece doubles the window rather than growing it
    // a piece at a time: each try at the record reads it from its start.
    size_t old = w->text.size(), piece = std::max(kPiece, old);
    w->text.resize(old + piece);
    size_t n = fread(&w->text[old], 1, piece, w->file);
    w->text.resize(old + n);
    if (n == 0) {
        if (ferror(w->file))
            w->readError = errno;
        w->ended = true;
        return false;
    }
    CutAtTextEnd(w, old);
    return true;
}

size_t DropKcsvBefore(KcsvWindow* w, size_t keep)
{
    // Only a file's window moves; a piece's worth at a time keeps the moves rare.
    if (!w->file || keep < kPiece)
        return 0;
    w->text.erase(0, keep);
    w->dropped += keep;
    return keep;
}

int CloseKcsvWindow(KcsvWindow* w, std::string* error)
{
    if (!w->file)
        return KIV_EXIT_OK;
    char rest[4096];
    while (!w->readError && fread(rest, 1, sizeof rest, w->file) > 0) {
    }
    if (!w->readError && ferror(w->file))
        w->readError = errno;
    fclose(w->file);
    w->file = nullptr;
    if (!w->readError)
        return KIV_EXIT_OK;
    *error = w->path + ": " + strerror(w->readError);
    return KIV_EXIT_READ;
}
