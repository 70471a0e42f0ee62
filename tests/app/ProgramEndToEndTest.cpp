// The built program, started as a user starts it, ended by a signal.
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

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

// A FIFO named as the CM108 port whose reader has gone: the release at the end
// fails with EPIPE like any write, and does not end the program by SIGPIPE.
TEST(Program, AFifoPortWhoseReaderHasGoneFailsTheWriteInsteadOfEndingTheProgram)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("hidraw7");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const int reader = ::open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    WriteText(dir.filePath("KOTARPlus.INI"), "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + fifo + "\n");
    QProcess program;
    Start(program, dir, {});
    ASSERT_TRUE(program.waitForStarted());
    ASSERT_TRUE(WaitForTrace(program, dir.filePath("KOTARPlus.Log"), "CreateForm: Device(-1) configured"));
    ::close(reader);
    EXPECT_TRUE(Terminate(program)) << "exit status " << program.exitCode();
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
        {{"--help"}, 0, "Usage: kotarplus [--config-folder] [-F FILE] [Qt options]\n", ""},
        {{"-h"}, 0, "Usage: kotarplus [--config-folder] [-F FILE] [Qt options]\n", ""},
        {{"-f", "station.ini", "--version"}, 0, "KOTARPlus 1.0.22\n", ""},
        {{"--colour"}, 2, "", "kotarplus: unknown option --colour\nUsage: kotarplus"},
        {{"-FILE", "--bogus"}, 2, "", "kotarplus: unknown option --bogus\nUsage: kotarplus"},
        {{"--mute", "maybe"}, 2, "", "kotarplus: --mute takes on, off or toggle, not maybe\nUsage: kotarplus"},
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

TEST(Program, SingleDashArgumentsStartNormallyAndQtTakesItsOwn)
{
    const struct {
        QStringList arguments;
        const char *platform; // QT_QPA_PLATFORM; none: only the arguments name one
        const char *file;     // the configuration file it works on
    } cases[] = {
        {{"-FILE", "station.ini"}, "offscreen", "KOTARPlus.INI"},
        {{"-platform", "offscreen"}, nullptr, "KOTARPlus.INI"},
        // Qt's options out of the way, -f comes first.
        {{"-platform", "offscreen", "-f", "station.ini"}, nullptr, "station.ini"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QTemporaryDir dir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        if (c.platform)
            environment.insert("QT_QPA_PLATFORM", c.platform);
        WriteText(dir.filePath("KOTARPlus.INI"), "[SETTINGS]\nPTT=NONE\n");
        WriteText(dir.filePath("station.ini"), "[SETTINGS]\nPTT=NONE\n");
        QProcess program;
        program.setProcessEnvironment(environment);
        Start(program, dir, c.arguments);
        ASSERT_TRUE(program.waitForStarted());
        ASSERT_TRUE(WaitForTrace(program, dir.filePath("KOTARPlus.Log"), "CreateForm: Device(-1) configured"));
        ASSERT_TRUE(Terminate(program));
        EXPECT_EQ(TraceMessages(dir.filePath("KOTARPlus.Log")).value(1), "Configuration File " + dir.filePath(c.file));
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

namespace {
// What a file is: a regular file's mode and content, or the kind and device of
// anything else (opening a FIFO would block).
QByteArray Snapshot(const QString &fileName)
{
    struct stat info {};
    if (lstat(QFile::encodeName(fileName).constData(), &info) != 0)
        return "missing";
    const QByteArray kind = QByteArray::number(info.st_mode, 8) + ' ' + QByteArray::number(info.st_rdev);
    if (!S_ISREG(info.st_mode))
        return kind;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return kind + " unreadable";
    return kind + ' ' + QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex();
}

struct TFileCase {
    const char *name;
    // Prepares the working folder; returns the command-line arguments.
    std::function<QStringList(const QTemporaryDir &)> prepare;
    QString kept;          // a file that must come through the run unchanged
    QStringList reports;   // lines the program writes once each on the standard error ("%1": the folder)
    bool traceOff = false; // the log is refused: the refusal on the standard error shows start-up running
    QStringList env = {};
};

const QByteArray QuietSettings = "[SETTINGS]\nPTT=NONE\n";
} // namespace

// Files that cannot be read, cannot be written whole, would block or would
// lead the program elsewhere: none is changed, what the user loses is said,
// and SIGTERM ends the program at once.
TEST(Program, FilesItCannotUseAreLeftAloneAndReported)
{
    const QList<TFileCase> cases = {
        {"unreadable",
         [](const QTemporaryDir &dir) {
             WriteBytes(dir.filePath("KOTARPlus.INI"), "; mine\n" + QuietSettings);
             QFile::setPermissions(dir.filePath("KOTARPlus.INI"), QFile::WriteOwner);
             return QStringList();
         },
         "KOTARPlus.INI", {"Unable to write to %1/KOTARPlus.INI."}},
        {"full disk",
         [](const QTemporaryDir &dir) {
             EXPECT_TRUE(QDir(dir.path()).mkdir("full"));
             WriteBytes(dir.filePath("full/station.ini"), QuietSettings + "[NOTES]\n" + QByteArray(2000, 'n') + "\n");
             return QStringList{"-F", "full/station.ini"};
         },
         "full/station.ini", {"Unable to write to %1/full/station.ini."}, false,
         {"LD_PRELOAD=" + qEnvironmentVariable("KOTAR_FULLDISK"), "FULLDISK_FREE=1000"}},
        {"FIFO as the configuration",
         [](const QTemporaryDir &dir) {
             EXPECT_EQ(mkfifo(QFile::encodeName(dir.filePath("station.ini")).constData(), 0644), 0);
             return QStringList{"-F", "station.ini"};
         },
         "station.ini", {"Unable to write to %1/station.ini."}},
        {"device as the configuration", [](const QTemporaryDir &) { return QStringList{"-F", "/dev/zero"}; },
         "/dev/zero", {"Unable to write to /dev/zero."}},
        {"configuration over 1 MiB",
         [](const QTemporaryDir &dir) {
             WriteBytes(dir.filePath("KOTARPlus.INI"), QuietSettings + QByteArray(1024 * 1024, ';'));
             return QStringList();
         },
         "KOTARPlus.INI",
         {"Configuration file too large (%1/KOTARPlus.INI): not read, defaults in use",
          "Unable to write to %1/KOTARPlus.INI."}},
        {"log is a symbolic link",
         [](const QTemporaryDir &dir) {
             WriteBytes(dir.filePath("KOTARPlus.INI"), QuietSettings);
             WriteBytes(dir.filePath("mine.txt"), "not for the log\n");
             EXPECT_TRUE(QFile::link(dir.filePath("mine.txt"), dir.filePath("KOTARPlus.Log")));
             return QStringList();
         },
         "mine.txt", {"%1/KOTARPlus.Log is no regular file: the trace log is off for this run"}, true},
        {"log is a FIFO",
         [](const QTemporaryDir &dir) {
             WriteBytes(dir.filePath("KOTARPlus.INI"), QuietSettings);
             EXPECT_EQ(mkfifo(QFile::encodeName(dir.filePath("KOTARPlus.Log")).constData(), 0644), 0);
             return QStringList();
         },
         "KOTARPlus.Log", {"%1/KOTARPlus.Log is no regular file: the trace log is off for this run"}, true},
    };
    for (const TFileCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QStringList arguments = c.prepare(dir);
        // Root reads anything: the program runs as an unprivileged user, who
        // owns the folder and all in it.
        const bool root = geteuid() == 0;
        if (root) {
            QDirIterator entries(dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                 QDirIterator::Subdirectories);
            for (QString path = dir.path(); !path.isEmpty(); path = entries.hasNext() ? entries.next() : QString())
                ASSERT_EQ(lchown(QFile::encodeName(path).constData(), 65534, 65534), 0) << path.toStdString();
        }
        const QString kept = c.kept.startsWith('/') ? c.kept : dir.filePath(c.kept);
        const QByteArray before = Snapshot(kept);

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &variable : c.env)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        environment.insert("FULLDISK_DIR", dir.filePath("full"));
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(dir.path());
        const QString executable = qEnvironmentVariable("KOTAR_PROGRAM");
        if (root)
            program.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", executable}
                                         + arguments);
        else
            program.start(executable, arguments);
        ASSERT_TRUE(program.waitForStarted());

        // Start-up has passed the files when the parameter block is traced, or
        // the log's refusal is on the standard error.
        QByteArray standardError;
        const QDeadlineTimer deadline(30000);
        while (c.traceOff ? !standardError.contains("trace log is off")
                          : !TraceMessages(dir.filePath("KOTARPlus.Log")).contains(QString(41, '-'))) {
            ASSERT_FALSE(deadline.hasExpired()) << "start-up did not get past its files";
            ASSERT_EQ(program.state(), QProcess::Running);
            program.waitForReadyRead(20);
            standardError += program.readAllStandardError();
        }
        QElapsedTimer ending;
        ending.start();
        ::kill(pid_t(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(30000));
        EXPECT_LT(ending.elapsed(), 5000);
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        standardError += program.readAllStandardError();

        EXPECT_EQ(Snapshot(kept).toStdString(), before.toStdString());
        const QStringList lines = QString::fromLocal8Bit(standardError).split('\n');
        for (const QString &report : c.reports)
            EXPECT_EQ(lines.count("kotarplus: " + QString(report).replace("%1", dir.path())), 1) << standardError.toStdString();
    }
}
