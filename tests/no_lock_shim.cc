// Loaded with LD_PRELOAD into a tool under test: flock fails as it does on
// file systems without locks, and, with CASSMAK_SHIM_WRITE_DELAY_MS set,
// every write to a file other than the standard streams waits that long
// first, so that another run can write in between.
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

void wait_before_writing(int fd)
{
    static const char* const delay = std::getenv("CASSMAK_SHIM_WRITE_DELAY_MS");
    if (fd <= 2 || delay == nullptr)
        return;
    const long ms = std::strtol(delay, nullptr, 10);
    timespec pause{ms / 1000, (ms % 1000) * 1000000};
    nanosleep(&pause, nullptr);
}

} // namespace

extern "C" int flock(int, int)
{
    errno = ENOLCK;
    return -1;
}

extern "C" ssize_t write(int fd, const void* bytes, size_t count)
{
    using write_function = ssize_t (*)(int, const void*, size_t);
    static const auto real = reinterpret_cast<write_function>(dlsym(RTLD_NEXT, "write"));
    wait_before_writing(fd);
    return real(fd, bytes, count);
}

extern "C" ssize_t pwrite(int fd, const void* bytes, size_t count, off_t at)
{
    using pwrite_function = ssize_t (*)(int, const void*, size_t, off_t);
    static const auto real = reinterpret_cast<pwrite_function>(dlsym(RTLD_NEXT, "pwrite"));
    wait_before_writing(fd);
    return real(fd, bytes, count, at);
}
