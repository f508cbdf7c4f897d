// A file written by a second thread: the caller fills one buffer while the
// thread hands the other to the kernel, so a conversion does not wait for the
// kernel's copies of its output. The bytes are sent on to the disk as they
// go (StageWriteBack), so that the commit's sync finds most of them written.
#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct BackgroundFile {
    int fd = -1;
    std::string filling;   // the caller's buffer
    std::string pending;   // handed to the thread, while full is set
    std::string spare;     // room the thread gives back
    bool full = false, closing = false;
    int error = 0;                    // errno of the first failed write
    size_t written = 0, sentOn = 0;   // by the thread: bytes written, and of those sent on to the disk
    std::mutex lock;
    std::condition_variable changed;
    std::thread writer;
    bool ownThread = true;   // else the caller's writes go to the kernel as each buffer fills
    ~BackgroundFile();       // closes a file left open, as when an exception passes
};

// Creates (or empties) path, never through a link; false with errno set when it cannot be opened.
// Without ownThread the caller writes each full buffer itself: on a busy machine a
// second thread may wait long for its turn, and the caller with it.
bool OpenBackgroundFile(BackgroundFile* file, const std::string& path, bool ownThread = true);
// Appends bytes; false (with errno) when a write has failed by the time a
// full buffer is handed on, so a failure shows a buffer late at most.
bool BackgroundWrite(BackgroundFile* file, const char* data, size_t size);
// Writes what is left, ends the thread and closes the file: 0, or the errno
// of the first failure. Does nothing for a file never opened.
int CloseBackgroundFile(BackgroundFile* file);
