#include "held_signals.h"
#include <signal.h>
#include <time.h>

namespace {

sigset_t TerminationSignals(void)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}

void HoldTerminationSignals(void)
{
    sigset_t set = TerminationSignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void ReleaseTerminationSignals(void)
{
    sigset_t set = TerminationSignals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

int TakeHeldSignal(void)
{
    sigset_t set = TerminationSignals();
    struct timespec now = {0, 0};
    for (;;) {
        int signo = sigtimedwait(&set, nullptr, &now);
        if (signo <= 0)
            return 0;
        struct sigaction action;
        if (sigaction(signo, nullptr, &action) != 0 || action.sa_handler != SIG_IGN)
            return signo;
    }
}
