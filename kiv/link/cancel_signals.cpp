// The handlers only write the signal's number to a pipe: nothing else is
// safe in a handler, and the poll loop wakes for it at once. A signal that
// was ignored when kiv started (nohup, a background job of a script) stays
// ignored, and each signal's handling goes back to what it was.
#include "cancel_signals.h"
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
const int kCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction saved[kCount];
bool installed[kCount];   // a handler of ours is in place

void OnSignal(int signo)
{
    unsigned char b = (unsigned char)signo;
    ssize_t w = write(pipeFds[1], &b, 1);
    (void)w;
}

}

int InstallCancelSignals(void)
{
    if (pipe(pipeFds) != 0)
        return -1;
    for (int fd : pipeFds) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < kCount; i++)
        installed[i] = sigaction(kSignals[i], nullptr, &saved[i]) == 0 && saved[i].sa_handler != SIG_IGN &&
                       sigaction(kSignals[i], &sa, nullptr) == 0;
    return pipeFds[0];
}

int TakeCancelSignal(int fd)
{
    unsigned char b = 0;
    return read(fd, &b, 1) == 1 ? b : 0;
}

void RemoveCancelSignals(void)
{
    for (int i = 0; i < kCount; i++) {
        if (installed[i])
            sigaction(kSignals[i], &saved[i], nullptr);
        installed[i] = false;
    }
    for (int& fd : pipeFds) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}
