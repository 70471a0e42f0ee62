// The built program, started as a user starts it, ended by a signal.
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <csignal>

TEST(Program, StartsFromTheCommandLineAndWritesItsFilesOnTermination)
{
    QTemporaryDir dir;
    WriteText(dir.filePath("station.ini"), "; my station\n[Settings]\nPTT=none\nGAIN=7\nDELAY=1500\nTRACE=yes\n");
    QProcess program;
    program.setWorkingDirectory(dir.path());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(qEnvironmentVariable("KOTAR_PROGRAM"), {"-F", "station.ini"});
    ASSERT_TRUE(program.waitForStarted());

    // Start-up is over when its last trace line is on disk.
    const QDeadlineTimer deadline(60000);
    while (!TraceMessages(dir.filePath("KOTARPlus.Log")).contains("CreateForm: Device(-1) configured")
           && !deadline.hasExpired() && program.state() == QProcess::Running)
        QThread::msleep(20);
    ASSERT_TRUE(TraceMessages(dir.filePath("KOTARPlus.Log")).contains("CreateForm: Device(-1) configured"));

    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);

    const QStringList trace = TraceMessages(dir.filePath("KOTARPlus.Log"));
    EXPECT_EQ(trace.value(1), "Configuration File " + dir.filePath("station.ini"));
    EXPECT_TRUE(trace.contains("GAIN=7"));
    EXPECT_TRUE(trace.contains("DELAY=1500"));
    EXPECT_EQ(ReadText(dir.filePath("station.ini")),
              "; my station\n[Settings]\nPTT=NONE\nGAIN=7\nDELAY=1500\nTRACE=YES\nCOMPORT=COM1\nBAUDRATE=4800\n"
              "DEVICE=-1\n");
}
