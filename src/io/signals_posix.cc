// The signals held over a change, and a file size limit that fails a write
// instead of ending the process. Both change only the calling thread's mask,
// and put it back: a library call leaves the process's dispositions alone.
#include "io/platform.h"

#include <csignal>
#include <cstring>
#include <ctime>
#include <pthread.h>

namespace cassmak::core {

namespace platform {

static_assert(sizeof(sigset_t) <= sizeof(unsigned char[256]), "the saved mask fits");

// Only SIGKILL and SIGSTOP cannot be held; the signals of a fault in the run
// itself are not held, as holding them would not stop them. In the tools,
// whose one thread is the process, the thread's mask holds them for it.
signals_held::signals_held(bool whole_process) : held_(whole_process)
{
    if (!held_)
        return;
    sigset_t held;
    sigset_t previous;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE,
                       SIGVTALRM, SIGPROF, SIGPOLL, SIGXCPU, SIGXFSZ, SIGSTKFLT, SIGPWR})
        sigaddset(&held, signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    std::memcpy(previous_, &previous, sizeof previous);
}

signals_held::~signals_held()
{
    if (!held_)
        return;
    sigset_t previous;
    std::memcpy(&previous, previous_, sizeof previous);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// A write beyond the limit raises SIGXFSZ at the thread that wrote; held
// there, it waits instead of ending the process, the write fails with EFBIG,
// and the signal this thread's writes raised is taken away before the mask
// is put back. One that was waiting before is the host's, and stays.
size_limit_fails_writes::size_limit_fails_writes()
{
    sigset_t limit;
    sigset_t previous;
    sigset_t pending;
    sigemptyset(&limit);
    sigaddset(&limit, SIGXFSZ);
    if (pthread_sigmask(SIG_BLOCK, &limit, &previous) != 0)
        return;
    std::memcpy(previous_, &previous, sizeof previous);
    pending_before_ = sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
    changed_ = true;
}

size_limit_fails_writes::~size_limit_fails_writes()
{
    if (!changed_)
        return;
    sigset_t limit;
    sigset_t pending;
    sigemptyset(&limit);
    sigaddset(&limit, SIGXFSZ);
    if (!pending_before_ && sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
        const timespec now{};
        sigtimedwait(&limit, nullptr, &now);
    }
    sigset_t previous;
    std::memcpy(&previous, previous_, sizeof previous);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace platform

} // namespace cassmak::core
