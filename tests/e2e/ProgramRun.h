#pragma once
// The built program run as a user runs it, in a folder of its own, listening to
// the tests' sound server, with its serial port a pseudo-terminal whose DTR and
// RTS linesim keeps and logs.
#include "Pty.h"

#include <QProcess>
#include <csignal>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

// One change of a line from linesim's log.
struct TLineChange {
    double time; // CLOCK_MONOTONIC seconds
    QString line;
    bool on;
};

double MonotonicNow();

// Polls condition every 20 ms until it holds or timeoutMs pass.
bool WaitFor(const std::function<bool()> &condition, int timeoutMs);

// Plays a sound file into the sink and waits for it to end; the CLOCK_MONOTONIC
// times at which paplay was started and returned.
struct TPlayback {
    double started;
    double ended;
};
TPlayback Play(const QString &file);

// Writes speech made by espeak-ng at its default volume, without the silence
// after it, and returns its path.
QString MakeSpeech(const QTemporaryDir &dir, const QString &text);

class TProgramRun {
public:
    TProgramRun();
    ~TProgramRun();

    // The configuration the program starts with, KOTARPlus.INI.
    void WriteIni(const QString &text) const;

    // Starts the program and waits until start-up has opened and lowered the port.
    void Start();
    // Sends the signal, then waits for the end; true when the program ended by
    // itself with status 0.
    bool Terminate(int signal = SIGTERM, int timeoutMs = 30000);

    QString PortPath() const { return FPty.Slave(); }
    // The same port under a name of its own, a link as /dev/serial/by-id
    // holds, which Unplug takes away and Replug brings back.
    QString PortLink() const { return File("by-id/usb-KOTAR_Test_Adapter-if00-port0"); }
    // The adapter is pulled: the port is hung up and its name goes.
    void Unplug();
    // Plugged in again: a fresh device under the same name.
    // With busy, another opener holds it until the returned descriptor is
    // closed, as a node the program may not open yet (udev sets its group a
    // moment after it appears).
    void Replug();
    int ReplugBusy();
    QString File(const QString &name) const { return FDir.filePath(name); }
    const QTemporaryDir &Dir() const { return FDir; }
    std::vector<TLineChange> Lines() const;

    // The program run, and the session bus it sees (empty: none).
    QString Program = qEnvironmentVariable("KOTAR_PROGRAM");
    QString Bus;
    bool Running() const { return FProgram.state() == QProcess::Running; }
    pid_t Pid() const { return pid_t(FProgram.processId()); }

private:
    TPty FPty;
    std::unique_ptr<TPty> FReplugged;
    QTemporaryDir FDir;
    QProcess FProgram;
};
