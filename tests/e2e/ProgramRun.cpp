#include "ProgramRun.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <ctime>
#include <stdexcept>

double MonotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

bool WaitFor(const std::function<bool()> &condition, int timeoutMs)
{
    const double deadline = MonotonicNow() + timeoutMs / 1000.0;
    while (!condition()) {
        if (MonotonicNow() > deadline)
            return false;
        QThread::msleep(20);
    }
    return true;
}

namespace {
void RunTool(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(program, arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed");
}
} // namespace

TPlayback Play(const QString &file)
{
    TPlayback playback{MonotonicNow(), 0};
    RunTool("paplay", {"-d", "kotar_sink", file});
    playback.ended = MonotonicNow();
    return playback;
}

QString MakeSpeech(const QTemporaryDir &dir, const QString &text)
{
    const QString spoken = dir.filePath("spoken.wav");
    const QString file = dir.filePath("speech.wav");
    RunTool("espeak-ng", {"-w", spoken, text});
    // espeak-ng ends with about 300 ms of silence; cut off, the end of the
    // playback is the end of the voice.
    RunTool("sox", {spoken, file, "reverse", "silence", "1", "0.005", "0.5%", "reverse"});
    return file;
}

TProgramRun::TProgramRun()
{
    QDir(FDir.path()).mkdir("by-id");
    QFile::link(FPty.Slave(), PortLink());
}

void TProgramRun::Unplug()
{
    FPty.Hangup();
    QFile::remove(PortLink());
}

int TProgramRun::ReplugBusy()
{
    FReplugged = std::make_unique<TPty>();
    const int holder = ::open(FReplugged->Slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    flock(holder, LOCK_EX);
    QFile::link(FReplugged->Slave(), PortLink());
    return holder;
}

void TProgramRun::Replug()
{
    FReplugged = std::make_unique<TPty>();
    QFile::link(FReplugged->Slave(), PortLink());
}

TProgramRun::~TProgramRun()
{
    if (FProgram.state() != QProcess::NotRunning) {
        FProgram.kill();
        FProgram.waitForFinished(10000);
    }
}

void TProgramRun::WriteIni(const QString &text) const { WriteText(File("KOTARPlus.INI"), text); }

void TProgramRun::Start()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("LD_PRELOAD", qEnvironmentVariable("KOTAR_LINESIM"));
    // Through the link: the device linesim drives follows it to a replugged one.
    environment.insert("LINESIM_DEVICE", PortLink());
    environment.insert("LINESIM_LOG", File("lines.log"));
    // The preloaded library comes before the sanitizer runtime.
    environment.insert("ASAN_OPTIONS", "detect_leaks=0:verify_asan_link_order=0");
    // No session bus but the test's own: libdbus would start one that outlives the test.
    environment.insert("DBUS_SESSION_BUS_ADDRESS", Bus.isEmpty() ? "unix:path=" + File("no-bus") : Bus);
    environment.remove("DISPLAY");
    FProgram.setProcessEnvironment(environment);
    FProgram.setWorkingDirectory(FDir.path());
    FProgram.setProcessChannelMode(QProcess::ForwardedChannels);
    FProgram.start(Program, {});
    if (!FProgram.waitForStarted())
        throw std::runtime_error("the program did not start");
    // Start-up ends with the capture started and PTT sent off; the port has
    // been opened (and its lines lowered) before.
    const bool started = WaitFor(
        [this] {
            const QStringList trace = TraceMessages(File("KOTARPlus.Log"));
            return !Running() || trace.contains("CreateForm: Device(-1) configured")
                   || !trace.filter(QRegularExpression("^Station running")).isEmpty();
        },
        60000);
    if (!started || !Running())
        throw std::runtime_error("the program did not finish its start-up");
}

bool TProgramRun::Terminate(int signal, int timeoutMs)
{
    ::kill(pid_t(FProgram.processId()), signal);
    return FProgram.waitForFinished(timeoutMs) && FProgram.exitStatus() == QProcess::NormalExit
           && FProgram.exitCode() == 0;
}

std::vector<TLineChange> TProgramRun::Lines() const
{
    std::vector<TLineChange> changes;
    for (const QString &text : ReadText(File("lines.log")).split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = text.split(' ');
        if (fields.size() == 3)
            changes.push_back({fields[0].toDouble(), fields[1], fields[2] == "1"});
    }
    return changes;
}
