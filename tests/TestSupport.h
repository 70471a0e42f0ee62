#pragma once
#include "support/Dialogs.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>

// Handles events until `condition` holds or `limit` passes, looking again
// every `poll`; whether it held.
bool PumpUntil(const std::function<bool()> &condition, std::chrono::milliseconds limit,
               std::chrono::microseconds poll = std::chrono::milliseconds(2));

// Answers the program's message boxes and records what they said.
class RecordedDialogs {
public:
    explicit RecordedDialogs(bool confirmAnswer = true);
    ~RecordedDialogs();

    QStringList messages;                        // information boxes
    QStringList questions;                       // "caption|text" of OK/Cancel boxes
    QStringList errors;                          // "caption|text" of the error report
    bool confirmAnswer;
};

// A temporary folder made the process's working directory for the test's life.
class TemporaryWorkDir {
public:
    TemporaryWorkDir();
    ~TemporaryWorkDir();
    QString path() const { return FDir.path(); }
    QString file(const QString &name) const { return FDir.filePath(name); }

private:
    QTemporaryDir FDir;
    QString FPrevious;
};

QString ReadText(const QString &fileName);
void WriteText(const QString &fileName, const QString &text);
QByteArray ReadBytes(const QString &fileName);
void WriteBytes(const QString &fileName, const QByteArray &bytes);
// The message texts of the trace log's lines, without date and time.
QStringList TraceMessages(const QString &logFile);

// Window tests step the keying engine on the window's thread; with the stepped
// clock its time moves only when the test moves it.
class TFormPlayer;
void UseSteppedClock(TFormPlayer &form);
void PassTime(std::chrono::milliseconds span);
// The delay tick 100 ms after the last one.
void DelayTick(TFormPlayer &form);
// Handles events until the sound server has first answered, or the attempt
// failed: a window started then sets up as on a running desktop.
bool AwaitSoundServerAnswer();
