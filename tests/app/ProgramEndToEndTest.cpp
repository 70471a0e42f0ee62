// The built program, started as a user starts it, ended by a signal.
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <csignal>

namespace {
void Start(QProcess &program, const QTemporaryDir &dir, const QStringList &arguments)
{
    program.setWorkingDirectory(dir.path());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(qEnvironmentVariable("KOTAR_PROGRAM"), arguments);
}

// Sends SIGTERM; true when the program then ends by itself with status 0.
bool Terminate(QProcess &program)
{
    ::kill(pid_t(program.processId()), SIGTERM);
    return program.waitForFinished(30000) && program.exitStatus() == QProcess::NormalExit
           && program.exitCode() == 0;
}

// Polls the trace log until it holds the line; false when the program ended
// or a minute passed first.
bool WaitForTrace(const QProcess &program, const QString &logFile, const QString &line)
{
    const QDeadlineTimer deadline(60000);
    while (!TraceMessages(logFile).contains(line)) {
        if (deadline.hasExpired() || program.state() != QProcess::Running)
            return false;
        QThread::msleep(20);
    }
    return true;
}
} // namespace

TEST(Program, StartsFromTheCommandLineAndWritesItsFilesOnTermination)
{
    QTemporaryDir dir;
    WriteText(dir.filePath("station.ini"), "; my station\n[Settings]\nPTT=none\nGAIN=7\nDELAY=1500\nTRACE=yes\n");
    QProcess program;
    Start(program, dir, {"-F", "station.ini"});
    ASSERT_TRUE(program.waitForStarted());

    // Start-up is over when its last trace line is on disk.
    ASSERT_TRUE(WaitForTrace(program, dir.filePath("KOTARPlus.Log"), "CreateForm: Device(-1) configured"));

    ASSERT_TRUE(Terminate(program));

    const QStringList trace = TraceMessages(dir.filePath("KOTARPlus.Log"));
    EXPECT_EQ(trace.value(1), "Configuration File " + dir.filePath("station.ini"));
    EXPECT_TRUE(trace.contains("GAIN=7"));
    EXPECT_TRUE(trace.contains("DELAY=1500"));
    EXPECT_EQ(ReadText(dir.filePath("station.ini")),
              "; my station\n[Settings]\nPTT=NONE\nGAIN=7\nDELAY=1500\nTRACE=YES\nCOMPORT=COM1\nBAUDRATE=4800\n"
              "DEVICE=-1\nDEVICENAME=\nATTACK=TICK\n");
}

TEST(Program, TerminationWhileStartUpWaitsOnAMessageBoxStillWritesTheConfiguration)
{
    // Serial mode on a port that does not exist: start-up stops at "Defined
    // COM Port not available", which nobody answers here.
    QTemporaryDir dir;
    WriteText(dir.filePath("KOTARPlus.INI"), "[SETTINGS]\nPTT=SERIAL\nCOMPORT=/dev/kotar-no-such-port\nGAIN=4\n");
    QProcess program;
    Start(program, dir, {});
    ASSERT_TRUE(program.waitForStarted());
    // The signals are handled from before the first trace line on; one that
    // comes before the box shows waits for the box's event loop.
    ASSERT_TRUE(WaitForTrace(program, dir.filePath("KOTARPlus.Log"), "-----------------------------------------"));

    ASSERT_TRUE(Terminate(program));
    const QString ini = ReadText(dir.filePath("KOTARPlus.INI"));
    EXPECT_TRUE(ini.contains("COMPORT=/dev/kotar-no-such-port\n")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("BAUDRATE=4800\n")) << "written by the program";
}
