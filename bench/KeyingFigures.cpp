// End-to-end keying figures of the built program (run by bench/keying-figures.sh,
// which starts a private sound server with the devices of
// scripts/pulse-fixture.sh):
//  - key-up: from the tone's arrival at a pulse client on the same server (a
//    low-latency recorder on the sink's monitor) to DTR raised on the program's
//    serial port, with ATTACK=TICK and ATTACK=BLOCK, bursts started at random
//    moments so that they fall on every phase of the 33 ms render tick;
//  - release: from the end of the burst at that client to DTR lowered, for two
//    hang delays, against (D div 100 + 1) x 100 ms;
//  - the program's CPU share while it listens to silence, its peak memory, and
//    the time from its start to its first capture block.
// The serial port is a pseudo-terminal whose lines linesim keeps; its log and
// the monitor are both timed by CLOCK_MONOTONIC.
//
//   keying_figures PROGRAM LINESIM [CPU_SECONDS]
#include "ProcessFigures.h"
#include "SinkMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <map>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {


bool WaitFor(const std::function<bool()> &condition, double seconds)
{
    const double deadline = MonotonicSeconds() + seconds;
    while (!condition()) {
        if (MonotonicSeconds() > deadline)
            return false;
        QThread::msleep(5);
    }
    return true;
}

void Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed");
}

// Record streams of clients (the loopback of the fixture has none).
int ClientRecordStreams()
{
    QProcess pactl;
    pactl.start("pactl", {"list", "short", "source-outputs"});
    pactl.waitForFinished();
    int streams = 0;
    for (const QString &line : QString::fromUtf8(pactl.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        if (line.split('\t').value(2) != "-")
            ++streams;
    return streams;
}

struct TLineChange {
    double time;
    QString line;
    bool on;
};

// The program in a folder of its own, its serial port a pseudo-terminal under
// linesim; stopped by its process id.
class TProgram {
public:
    TProgram(const QString &program, const QString &linesim, const QString &settings)
    {
        FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0)
            throw std::runtime_error("no pseudo-terminal");
        const QString port = QString::fromLocal8Bit(ptsname(FMaster));
        QFile ini(FDir.filePath("KOTARPlus.INI"));
        if (!ini.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the INI");
        ini.write(("[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + port + "\nTRACE=YES\n" + settings).toUtf8());
        ini.close();

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // On the display given, or none.
        if (!environment.contains("DISPLAY"))
            environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("LD_PRELOAD", linesim);
        environment.insert("LINESIM_DEVICE", port);
        environment.insert("LINESIM_LOG", FDir.filePath("lines.log"));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + FDir.filePath("no-bus"));
        FProcess.setProcessEnvironment(environment);
        FProcess.setWorkingDirectory(FDir.path());
        FProcess.setProcessChannelMode(QProcess::ForwardedChannels);
        const double started = MonotonicSeconds();
        FProcess.start(program, {});
        // Start-up has opened the port and lowered both lines.
        if (!FProcess.waitForStarted() || !WaitFor([this] { return Lines().size() >= 2; }, 30))
            throw std::runtime_error("the program did not start");
        // The capture's first block: the program's record stream shows on
        // the server once the server has started sending to it.
        WaitFor([] { return ClientRecordStreams() > 0; }, 10);
        FirstBlock = MonotonicSeconds() - started;
        QThread::msleep(500);
    }
    double FirstBlock = 0;
    ~TProgram()
    {
        ::kill(pid_t(FProcess.processId()), SIGTERM);
        if (!FProcess.waitForFinished(10000)) {
            ::kill(pid_t(FProcess.processId()), SIGKILL);
            FProcess.waitForFinished();
        }
        close(FMaster);
    }
    pid_t Pid() const { return pid_t(FProcess.processId()); }

    std::vector<TLineChange> Lines() const
    {
        QFile file(FDir.filePath("lines.log"));
        std::vector<TLineChange> changes;
        if (!file.open(QIODevice::ReadOnly))
            return changes;
        for (const QString &text : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
            const QStringList fields = text.split(' ');
            if (fields.size() == 3)
                changes.push_back({fields[0].toDouble(), fields[1], fields[2] == "1"});
        }
        return changes;
    }

private:
    int FMaster = -1;
    QTemporaryDir FDir;
    QProcess FProcess;
};

struct TStats {
    size_t count;
    double median, p95, min, max;
};

TStats Stats(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[size_t(std::ceil(q * double(values.size())) - 1)]; };
    return {values.size(), at(0.5), at(0.95), values.front(), values.back()};
}

// Bursts against a program with hang delay `delay`: key-up and release times in ms.
void Bursts(const QString &program, const QString &linesim, const QString &burst, const QString &attack, int delay,
            int count, std::vector<double> &keyUps, std::vector<double> &releases)
{
    TProgram run(program, linesim, QString("GAIN=5\nDELAY=%1\nATTACK=%2\n").arg(delay).arg(attack));
    TSinkMonitor monitor;
    QThread::msleep(300);
    for (int i = 0; i < count; ++i) {
        // A random pause: a period that is a multiple of the tick would lock
        // the bursts to one phase of it.
        QThread::usleep(useconds_t(std::rand() % 100000));
        const size_t before = run.Lines().size();
        monitor.Arm();
        Run("paplay", {"-d", "kotar_sink", burst});
        const bool released = WaitFor(
            [&] {
                const auto lines = run.Lines();
                return lines.size() >= before + 4 && !lines.back().on;
            },
            10);
        const auto lines = run.Lines();
        if (!released || lines.size() != before + 4 || monitor.First() == 0) {
            std::fprintf(stderr, "burst %d: not one key-up and release (%zu changes)\n", i, lines.size() - before);
            continue;
        }
        keyUps.push_back((lines[before].time - monitor.First()) * 1000);
        releases.push_back((lines[before + 2].time - monitor.Last()) * 1000);
    }
}

// CPU seconds of the process's threads, summed by thread name (the main
// thread carries the program's name), so the share can be told apart.
std::map<QString, double> ThreadCpuSeconds(pid_t pid)
{
    std::map<QString, double> seconds;
    const QDir tasks(QString("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + "/comm"));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        const QString name = QString::fromLatin1(comm.readAll()).trimmed();
        seconds[name] += CpuSeconds(pid, task.toInt());
    }
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROGRAM LINESIM [CPU_SECONDS]\n", argv[0]);
        return 2;
    }
    const QString program = argv[1], linesim = argv[2];
    const int cpuSeconds = argc > 3 ? std::atoi(argv[3]) : 60;
    QTemporaryDir dir;
    // 1 kHz at -6 dBFS (level 19, squelch 5) for 500 ms after 300 ms of silence.
    const QString burst = dir.filePath("burst.wav");
    Run("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", burst, "synth", "0.5", "sine", "1000", "gain", "-6",
                "pad", "0.3", "0"});

    std::srand(unsigned(std::time(nullptr)));
    std::printf("| attack | hang delay D | expected release (D div 100 + 1) x 100 | bursts | release median | 95th "
                "pct | min | max |\n|---|---|---|---|---|---|---|---|\n");
    std::vector<std::pair<QString, TStats>> keyUpStats;
    for (const QString attack : {"TICK", "BLOCK"}) {
        std::vector<double> keyUps;
        for (const auto &[delay, count] : {std::pair{0, 30}, std::pair{500, 10}}) {
            std::vector<double> releases;
            Bursts(program, linesim, burst, attack, delay, count, keyUps, releases);
            if (releases.empty())
                continue;
            const TStats r = Stats(releases);
            std::printf("| %s | %d ms | %d ms | %zu | %.0f ms | %.0f ms | %.0f ms | %.0f ms |\n", qPrintable(attack),
                        delay, (delay / 100 + 1) * 100, r.count, r.median, r.p95, r.min, r.max);
        }
        if (!keyUps.empty())
            keyUpStats.emplace_back(attack, Stats(keyUps));
    }
    std::printf("\n| key-up: tone at a client of the server -> DTR raised | bursts | median | 95th pct | min | max "
                "|\n|---|---|---|---|---|---|\n");
    for (const auto &[attack, k] : keyUpStats)
        std::printf("| ATTACK=%s, 1 kHz, -6 dBFS, squelch 5 | %zu | %.1f ms | %.1f ms | %.1f ms | %.1f ms |\n",
                    qPrintable(attack), k.count, k.median, k.p95, k.min, k.max);

    if (cpuSeconds > 0) {
        for (const QString attack : {"TICK", "BLOCK"}) {
            TProgram run(program, linesim, "GAIN=10\nDELAY=0\nATTACK=" + attack + "\n");
            const double before = CpuSeconds(run.Pid()), start = MonotonicSeconds();
            const std::map<QString, double> threadsBefore = ThreadCpuSeconds(run.Pid());
            QThread::sleep(unsigned(cpuSeconds));
            const double used = CpuSeconds(run.Pid()) - before, wall = MonotonicSeconds() - start;
            QStringList shares;
            for (const auto &[name, seconds] : ThreadCpuSeconds(run.Pid())) {
                const auto earlier = threadsBefore.find(name);
                const double share = 100 * (seconds - (earlier == threadsBefore.end() ? 0 : earlier->second)) / wall;
                if (share >= 0.01)
                    shares << QString("%1 %2%").arg(name).arg(share, 0, 'f', 2);
            }
            std::printf("\nATTACK=%s, listening to silence with the window shown (%s): %.2f s of CPU in %.0f s = "
                        "%.2f%% of one core; peak RSS %.1f MB; start until its record stream is on the server %.0f ms\n",
                        qPrintable(attack), qEnvironmentVariableIsSet("DISPLAY") ? "X display" : "offscreen", used,
                        wall, 100 * used / wall, double(PeakKilobytes(run.Pid())) / 1024, run.FirstBlock * 1000);
            std::printf("  by thread: %s\n", qPrintable(shares.join(", ")));
        }
    }
    std::fflush(nullptr);
    return 0;
}
