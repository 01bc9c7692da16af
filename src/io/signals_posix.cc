// The signals held over a change, and a file size limit that fails a write
// instead of ending the process.
#include "io/platform.h"

#include <csignal>
#include <cstring>

namespace cassmak::core {

namespace platform {

static_assert(sizeof(sigset_t) <= sizeof(unsigned char[256]), "the saved mask fits");

// Only SIGKILL and SIGSTOP cannot be held; the signals of a fault in the run
// itself are not held, as holding them would not stop them.
signals_held::signals_held()
{
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE,
                       SIGVTALRM, SIGPROF, SIGPOLL, SIGXCPU, SIGXFSZ, SIGSTKFLT, SIGPWR})
        sigaddset(&held, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&held, signal);
    sigprocmask(SIG_BLOCK, &held, &previous);
    std::memcpy(previous_, &previous, sizeof previous);
}

signals_held::~signals_held()
{
    sigset_t previous;
    std::memcpy(&previous, previous_, sizeof previous);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

size_limit_fails_writes::size_limit_fails_writes()
{
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    changed_ = previous_ != SIG_ERR;
}

size_limit_fails_writes::~size_limit_fails_writes()
{
    if (changed_)
        std::signal(SIGXFSZ, previous_);
}

} // namespace platform

} // namespace cassmak::core
