// linesim: a stand-in for the modem-line driver of one serial device, loaded
// into a test process (or the whole program) with LD_PRELOAD. Pseudo-terminals
// have no DTR and RTS; this library keeps them for the device named below and
// logs every change, while everything else (open, TIOCEXCL, termios) stays the
// real kernel's.
//
// Environment:
//   LINESIM_DEVICE  path of the simulated device. It is looked up (through
//                   symlinks) on every call, so it may be a symlink that a test
//                   points at a pseudo-terminal made after the process started.
//                   Unset or missing: every ioctl goes to the kernel.
//   LINESIM_LOG     file to which each change of a line is appended (created
//                   when missing). Unset: no log.
//   LINESIM_REFUSE  "DTR", "RTS" or both: changes of these lines fail with EIO,
//                   a driver fault to inject. Read on every call.
//
// A device that is hung up (the master side of the pseudo-terminal closed, as
// an unplugged adapter is hung up) refuses line changes with EIO.
//
// Intercepted on the simulated device only (found by fstat st_rdev, so dup'ed
// descriptors and other paths to it count too): TIOCMBIS, TIOCMBIC, TIOCMSET
// act on DTR and RTS; TIOCMGET reports them, with CTS, DSR, CD and RI off.
// Each device number starts with DTR and RTS raised, as a serial driver raises
// them when a port opens; a different device number starts afresh.
//
// Log format, one line per change of one line, in the order they happened:
//   <seconds>.<nanoseconds, 9 digits> <DTR|RTS> <0|1>
// timed by CLOCK_MONOTONIC, e.g. "5123.004512345 DTR 1". A call that changes
// both lines writes DTR first.

#include <asm/termios.h>
#include <cstdarg>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using IoctlFunction = int (*)(int, unsigned long, ...);

std::mutex Lock;
dev_t Device = 0;
bool DeviceSeen = false;
int Lines = 0;

bool IsSimulated(int fd)
{
    const char *path = std::getenv("LINESIM_DEVICE");
    struct stat target {}, actual {};
    if (!path || stat(path, &target) != 0 || fstat(fd, &actual) != 0)
        return false;
    return S_ISCHR(target.st_mode) && S_ISCHR(actual.st_mode) && target.st_rdev == actual.st_rdev;
}

void Log(const char *line, bool on)
{
    const char *path = std::getenv("LINESIM_LOG");
    if (!path)
        return;
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char text[64];
    const int length =
        std::snprintf(text, sizeof text, "%lld.%09ld %s %d\n", (long long)now.tv_sec, now.tv_nsec, line, on ? 1 : 0);
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = write(fd, text, size_t(length));
    close(fd);
}

int RefusedLines()
{
    const char *refused = std::getenv("LINESIM_REFUSE");
    if (!refused)
        return 0;
    return (std::strstr(refused, "DTR") ? TIOCM_DTR : 0) | (std::strstr(refused, "RTS") ? TIOCM_RTS : 0);
}

void SetLines(int lines)
{
    lines &= TIOCM_DTR | TIOCM_RTS;
    const int changed = lines ^ Lines;
    Lines = lines;
    if (changed & TIOCM_DTR)
        Log("DTR", lines & TIOCM_DTR);
    if (changed & TIOCM_RTS)
        Log("RTS", lines & TIOCM_RTS);
}
} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);

    static const auto real = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    const bool lineRequest = request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET || request == TIOCMGET;
    if (!lineRequest || !IsSimulated(fd))
        return real(fd, request, argument);

    std::lock_guard guard(Lock);
    struct stat actual {};
    fstat(fd, &actual);
    if (!DeviceSeen || actual.st_rdev != Device) {
        Device = actual.st_rdev;
        DeviceSeen = true;
        Lines = TIOCM_DTR | TIOCM_RTS;
    }
    int *bits = static_cast<int *>(argument);
    if (request != TIOCMGET) {
        pollfd entry{fd, 0, 0};
        const int changing = request == TIOCMSET ? (*bits ^ Lines) : *bits;
        if ((poll(&entry, 1, 0) > 0 && (entry.revents & POLLHUP)) || (changing & RefusedLines())) {
            errno = EIO;
            return -1;
        }
    }
    switch (request) {
    case TIOCMGET: *bits = Lines; break;
    case TIOCMSET: SetLines(*bits); break;
    case TIOCMBIS: SetLines(Lines | *bits); break;
    case TIOCMBIC: SetLines(Lines & ~*bits); break;
    }
    return 0;
}
