#pragma once
// What a running process has used, from /proc.
#include <QFile>
#include <QString>
#include <sys/types.h>
#include <unistd.h>

// The whole process's CPU seconds (user and system), or one thread's.
inline double CpuSeconds(pid_t pid, pid_t thread = 0)
{
    QFile stat(thread ? QString("/proc/%1/task/%2/stat").arg(pid).arg(thread) : QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QString text = QString::fromLatin1(stat.readAll());
    // Fields after the command name, which ends with the last ')': state is 3,
    // utime 14, stime 15.
    const QStringList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// Peak resident memory (VmHWM) in kB; 0 when the process is gone.
inline long PeakKilobytes(pid_t pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QString &line : QString::fromLatin1(status.readAll()).split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.section(':', 1).trimmed().section(' ', 0, 0).toLong();
    return 0;
}
