// fulldisk: a full disk under one folder, for a process loaded with LD_PRELOAD.
// Writes to regular files in the folder FULLDISK_DIR (found through
// /proc/self/fd, so unnamed temporary files there count too) share
// FULLDISK_FREE bytes (default 0); a write that finds too little room writes
// what fits and the next one fails with ENOSPC, as a file system that has
// just filled up does. Every other write goes to the kernel.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using WriteFunction = ssize_t (*)(int, const void *, size_t);

std::mutex Lock;
bool FreeRead = false;
size_t Free = 0;

bool InFullFolder(int fd)
{
    const char *folder = std::getenv("FULLDISK_DIR");
    struct stat info {};
    if (!folder || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, path, sizeof path - 1);
    if (length < 0)
        return false;
    path[length] = '\0';
    const size_t prefix = std::strlen(folder);
    return std::strncmp(path, folder, prefix) == 0 && path[prefix] == '/';
}
} // namespace

extern "C" ssize_t write(int fd, const void *buffer, size_t count)
{
    static const auto next = reinterpret_cast<WriteFunction>(dlsym(RTLD_NEXT, "write"));
    if (!InFullFolder(fd))
        return next(fd, buffer, count);
    std::lock_guard<std::mutex> guard(Lock);
    if (!FreeRead) {
        const char *text = std::getenv("FULLDISK_FREE");
        Free = text ? size_t(std::strtoull(text, nullptr, 10)) : 0;
        FreeRead = true;
    }
    if (Free == 0 && count > 0) {
        errno = ENOSPC;
        return -1;
    }
    const size_t fits = count < Free ? count : Free;
    Free -= fits;
    return next(fd, buffer, fits);
}
