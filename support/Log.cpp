#include "support/Log.h"

#include "support/PosixFile.h"
#include "support/StandardError.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The locale's long time format without the time-zone name, which the trace
// would only repeat on every line.
QString LongTimeFormat()
{
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove('t');
    return format.trimmed();
}
} // namespace

// The log file opened for writing (created when missing), or -1. A name that
// is no regular file refuses the log for the run.
int TLog::Open(int flags)
{
    const QByteArray path = QFile::encodeName(FileName);
    // Neither following a link nor blocking on a FIFO without a reader.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags,
                          0666);
    struct stat info {};
    const bool regular = fd >= 0 ? fstat(fd, &info) == 0 && S_ISREG(info.st_mode)
                                 : lstat(path.constData(), &info) != 0 || S_ISREG(info.st_mode);
    if (regular)
        return fd;
    if (fd >= 0)
        ::close(fd);
    Enabled = false;
    if (!FRefused)
        WriteStandardError(FileName + " is no regular file: the trace log is off for this run");
    FRefused = true;
    return -1;
}

void TLog::Enable(bool on)
{
    Enabled = on && !FRefused;
    if (!Enabled)
        return;
    TFileDescriptor file(Open(0));
    const bool emptied = file.Fd >= 0 && ftruncate(file.Fd, 0) == 0;
    if (!emptied || !file.Close())
        Enabled = false;
}

void TLog::Write(uint8_t level, const QString &text)
{
    if (!Enabled || level > Level)
        return;
    // Append; a deleted file is simply created again by the same open.
    const TFileDescriptor file(Open(O_APPEND));
    if (file.Fd < 0)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    const QString line = locale.toString(now.date(), QLocale::ShortFormat) + ' '
                         + locale.toString(now.time(), LongTimeFormat()) + ' ' + text + '\n';
    WriteAll(file.Fd, line.toUtf8());
}
