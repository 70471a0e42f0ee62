#include "TestSupport.h"
#include "app/KOTARUnit.h"

#include "audio/bass.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QThread>

bool PumpUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit, std::chrono::microseconds poll)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        QThread::usleep(static_cast<unsigned long>(poll.count()));
    }
    return true;
}

RecordedDialogs::RecordedDialogs(bool answer) : confirmAnswer(answer)
{
    Dialogs::SetHooks({
        [this](const QString &text) { messages << text; },
        [this](const QString &text, const QString &caption) {
            questions << caption + '|' + text;
            return confirmAnswer;
        },
        [this](const QString &caption, const QString &text) { errors << caption + '|' + text; },
    });
}

RecordedDialogs::~RecordedDialogs() { Dialogs::SetHooks({}); }

TemporaryWorkDir::TemporaryWorkDir() : FPrevious(QDir::currentPath()) { QDir::setCurrent(FDir.path()); }
TemporaryWorkDir::~TemporaryWorkDir() { QDir::setCurrent(FPrevious); }

QString ReadText(const QString &fileName) { return QString::fromUtf8(ReadBytes(fileName)); }

void WriteText(const QString &fileName, const QString &text) { WriteBytes(fileName, text.toUtf8()); }

QByteArray ReadBytes(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void WriteBytes(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QStringList TraceMessages(const QString &logFile)
{
    // Each line is "<short date> <long time> <text>"; the date and time of this
    // locale have a fixed number of blanks, found from a sample.
    const QLocale locale = QLocale::system();
    const QDateTime sample(QDate(2026, 12, 31), QTime(23, 59, 58));
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove('t');
    const QString stamp = locale.toString(sample.date(), QLocale::ShortFormat) + ' '
                          + locale.toString(sample.time(), timeFormat.trimmed()) + ' ';
    const int blanks = int(stamp.count(' '));
    QStringList messages;
    const QStringList lines = ReadText(logFile).split('\n', Qt::SkipEmptyParts);
    for (const QString &line : lines)
        messages << line.section(' ', blanks);
    return messages;
}

namespace {
std::chrono::steady_clock::time_point SteppedNow{std::chrono::hours(1)};
} // namespace

void UseSteppedClock(TFormPlayer &form)
{
    form.Keying->Core().SetClock([] { return SteppedNow; });
}

void PassTime(std::chrono::milliseconds span) { SteppedNow += span; }

void DelayTick(TFormPlayer &form)
{
    PassTime(std::chrono::milliseconds(100));
    form.TimerDelayTimer();
}

bool AwaitSoundServerAnswer()
{
    const QDeadlineTimer deadline(10000);
    while (SoundServerState() == ssConnecting) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    return true;
}
