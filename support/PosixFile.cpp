#include "support/PosixFile.h"

#include <cerrno>
#include <unistd.h>

TFileDescriptor::~TFileDescriptor()
{
    if (Fd >= 0)
        ::close(Fd);
}

bool TFileDescriptor::Close()
{
    const int closing = Fd;
    Fd = -1;
    return ::close(closing) == 0;
}

bool WriteAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (count < 0 && errno != EINTR)
            return false;
        if (count > 0)
            done += count;
    }
    return true;
}
