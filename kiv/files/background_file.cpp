#include "background_file.h"
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include "staging.h"

namespace {

// Large enough that a hand-off is rare, small enough to keep memory flat.
const size_t kPiece = 64 * 1024;
const size_t kWriteBackPiece = 1024 * 1024;

int WriteAll(int fd, const std::string& bytes)
{
    for (size_t at = 0; at < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        at += (size_t)n;
    }
    return 0;
}

// One buffer to the kernel, sent on to the disk a piece at a time, so that
// the commit's sync finds most of it written; f->error set on failure.
// Called by the thread, or by the caller when the file has none.
void WriteOut(BackgroundFile* f, const std::string& bytes)
{
    int err = f->error ? 0 : WriteAll(f->fd, bytes);
    size_t written = f->written + bytes.size();
    if (!err && written - f->sentOn >= kWriteBackPiece) {
        StageWriteBack(f->fd, f->sentOn, written);
        f->sentOn = written;
    }
    if (err)
        f->error = err;
    f->written = written;
}

void Writes(BackgroundFile* f)
{
    std::unique_lock<std::mutex> held(f->lock);
    for (;;) {
        f->changed.wait(held, [f] { return f->full || f->closing; });
        if (!f->full)
            return;
        std::string bytes;
        bytes.swap(f->pending);
        held.unlock();
        // Only this thread writes the error once the file is open.
        int err = f->error ? 0 : WriteAll(f->fd, bytes);
        size_t written = f->written + bytes.size();
        if (!err && written - f->sentOn >= kWriteBackPiece) {
            StageWriteBack(f->fd, f->sentOn, written);
            f->sentOn = written;
        }
        bytes.clear();
        held.lock();
        if (err)
            f->error = err;
        f->written = written;
        f->spare.swap(bytes);
        f->full = false;
        f->changed.notify_all();
    }
}

// Waits for the thread to take the last buffer, then gives it the one
// filled; the errno of a failed write so far, or 0.
int HandOff(BackgroundFile* f, bool last)
{
    std::unique_lock<std::mutex> held(f->lock);
    f->changed.wait(held, [f] { return !f->full; });
    f->pending.swap(f->filling);
    f->full = true;
    f->closing = last;
    f->filling.swap(f->spare);
    f->filling.clear();
    f->changed.notify_all();
    return f->error;
}

}   // namespace

BackgroundFile::~BackgroundFile() { CloseBackgroundFile(this); }

bool OpenBackgroundFile(BackgroundFile* file, const std::string& path, bool ownThread)
{
    file->fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file->fd < 0)
        return false;
    file->filling.reserve(kPiece);
    file->ownThread = ownThread;
    if (ownThread)
        file->writer = std::thread(Writes, file);
    return true;
}

bool BackgroundWrite(BackgroundFile* file, const char* data, size_t size)
{
    file->filling.append(data, size);
    if (!file->ownThread) {
        if (file->filling.size() >= kPiece) {
            WriteOut(file, file->filling);
            file->filling.clear();
        }
        errno = file->error ? file->error : errno;
        return file->error == 0;
    }
    int err = file->filling.size() >= kPiece ? HandOff(file, false) : 0;
    errno = err ? err : errno;
    return err == 0;
}

int CloseBackgroundFile(BackgroundFile* file)
{
    if (file->fd < 0)
        return 0;
    if (!file->ownThread)
        WriteOut(file, file->filling);
    else {
        HandOff(file, true);
        file->writer.join();
    }
    int err = file->error;
    if (close(file->fd) != 0 && !err)
        err = errno;
    file->fd = -1;
    return err;
}
