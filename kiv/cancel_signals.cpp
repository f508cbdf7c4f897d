// The handlers only write the signal's number to a pipe: nothing else is
// safe in a handler, and the poll loop wakes for it at once.
#include "cancel_signals.h"
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

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
    for (int s : kSignals)
        sigaction(s, &sa, nullptr);
    return pipeFds[0];
}

int TakeCancelSignal(int fd)
{
    unsigned char b = 0;
    return read(fd, &b, 1) == 1 ? b : 0;
}

void RemoveCancelSignals(void)
{
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals)
        sigaction(s, &sa, nullptr);
    for (int& fd : pipeFds) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}
