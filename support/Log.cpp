#include "support/Log.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

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

void TLog::Enable(bool on)
{
    Enabled = on;
    if (!on)
        return;
    QFile file(FileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Enabled = false;
}

void TLog::Write(uint8_t level, const QString &text)
{
    if (!Enabled || level > Level)
        return;
    QFile file(FileName);
    // Append; a deleted file is simply created again by the same open.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    const QString line = locale.toString(now.date(), QLocale::ShortFormat) + ' '
                         + locale.toString(now.time(), LongTimeFormat()) + ' ' + text + '\n';
    file.write(line.toUtf8());
}
