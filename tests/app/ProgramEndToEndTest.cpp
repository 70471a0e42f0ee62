// The built program, started as a user starts it, ended by a signal.
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
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
              "DEVICE=-1\n");
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

TEST(Program, HelpVersionAndUnknownOptionsAnswerAtOnceWithoutADisplayOrAFile)
{
    const struct {
        QStringList arguments;
        int status;
        const char *out; // what standard output starts with
        const char *err; // what standard error starts with
    } cases[] = {
        {{"--help"}, 0, "Usage: kotarplus [--config-folder] [-F FILE]\n", ""},
        {{"-h"}, 0, "Usage: kotarplus [--config-folder] [-F FILE]\n", ""},
        {{"-f", "station.ini", "--version"}, 0, "KOTARPlus 1.0.22\n", ""},
        {{"--colour"}, 2, "", "kotarplus: unknown option --colour\nUsage: kotarplus"},
        {{"-FILE"}, 2, "", "kotarplus: unknown option -FILE\nUsage: kotarplus"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QTemporaryDir dir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Without a display Qt could not start: the answer must come first.
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME"})
            environment.remove(name);
        environment.insert("HOME", dir.path());
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(dir.path());
        program.start(qEnvironmentVariable("KOTAR_PROGRAM"), c.arguments);
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), c.status);
        const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        EXPECT_EQ(out.left(qstrlen(c.out)), c.out) << out.toStdString();
        EXPECT_EQ(err.left(qstrlen(c.err)), c.err) << err.toStdString();
        EXPECT_EQ(out.isEmpty(), *c.out == 0);
        EXPECT_EQ(err.isEmpty(), *c.err == 0);
        EXPECT_EQ((out + err).contains("-F FILE"), (out + err).contains("Usage:")) << "the usage names -F";
        EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            << "no file made: " << QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                                       .join(' ').toStdString();
    }
}

TEST(Program, TheConfigFolderOptionKeepsTheFilesInTheUsersConfigurationFolder)
{
    // $XDG_CONFIG_HOME when it is an absolute path (made with its parents when
    // missing), else ~/.config.
    const struct {
        bool configHome;
        const char *folder;
    } cases[] = {{true, "config/of/mine/kotarplus"}, {false, "home/.config/kotarplus"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.folder);
        QTemporaryDir dir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", dir.filePath("home"));
        if (c.configHome)
            environment.insert("XDG_CONFIG_HOME", dir.filePath("config/of/mine"));
        else
            environment.remove("XDG_CONFIG_HOME");
        const QString folder = dir.filePath(c.folder);
        QProcess program;
        program.setProcessEnvironment(environment);
        Start(program, dir, {"--config-folder"});
        ASSERT_TRUE(program.waitForStarted());
        // The default serial port does not exist: start-up waits on its
        // message box after the parameter block.
        ASSERT_TRUE(WaitForTrace(program, folder + "/KOTARPlus.Log", "-----------------------------------------"));
        ASSERT_TRUE(Terminate(program));
        EXPECT_TRUE(ReadText(folder + "/KOTARPlus.INI").contains("COMPORT=COM1\n"));
        EXPECT_EQ(QFileInfo(folder).permissions() & 0x0077, 0) << "private to the user";
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 1)
            << "nothing in the working directory it was started in";
    }
}
