#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <sys/types.h>

// A helper program started with posix_spawn, with the part of QProcess's
// interface the tests use. QProcess starts its child in a way that leaves
// ThreadSanitizer taking the test process for one that forked with threads
// running, after which it ignores every lock and reports nothing. Standard
// output is kept for readAllStandardOutput; standard error is the test's.
class TSpawnedProcess {
public:
    TSpawnedProcess() = default;
    // Kills and reaps a program still running.
    ~TSpawnedProcess();
    TSpawnedProcess(const TSpawnedProcess &) = delete;
    TSpawnedProcess &operator=(const TSpawnedProcess &) = delete;

    // Looks the program up in PATH; false when it cannot be run.
    bool start(const QString &program, const QStringList &arguments);
    bool waitForStarted() const { return FPid > 0; }
    // False at the timeout, with the program still running.
    bool waitForFinished(int timeoutMs = 30000);
    void kill();
    QProcess::ProcessState state() { return waitForFinished(0) ? QProcess::NotRunning : QProcess::Running; }
    // -1 unless it exited.
    int exitCode() const { return FExitCode; }
    qint64 processId() const { return FPid; }
    QByteArray readAllStandardOutput();
    // Runs a program to its end: its exit code, -1 when it could not be run
    // or did not end within the timeout.
    static int execute(const QString &program, const QStringList &arguments, int timeoutMs = 30000);

private:
    void ReadOutput();

    pid_t FPid = -1;
    int FPidFd = -1;
    int FOutput = -1;
    QByteArray FOutputRead;
    int FExitCode = -1;
};
