// End-to-end figures of the audio relay (run by bench/relay-figures.sh, which
// starts a private sound server with the devices of scripts/pulse-fixture.sh):
// the built program records "Monitor of KOTARPlus TX" and relays to a null
// sink of its own; bursts are played into kotarplus_tx at random moments.
//  - PTT before audio: DTR raised (linesim's log) to the first relayed sample
//    at the relay output's monitor (a recorder with 1 ms latency), against
//    LEAD - 5 ms;
//  - delay: the first sample at the relay output's monitor minus the first at
//    kotarplus_tx's monitor (both heard the same way), against LEAD;
//  - level: a 1 kHz tone's RMS at both monitors;
//  - nothing lost: 20 minimodem transmissions (1200 baud) recorded from the
//    relay output's monitor and decoded;
//  - cost: the program's CPU share listening to silence, with and without relay.
//
//   relay_figures PROGRAM LINESIM [CPU_SECONDS]
#include "SinkMonitor.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <signal.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Lead = 60;
const QString Output = "kotar_relay_out";

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

QString Run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed");
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

struct TDtr {
    double time;
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
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("LD_PRELOAD", linesim);
        environment.insert("LINESIM_DEVICE", port);
        environment.insert("LINESIM_LOG", FDir.filePath("lines.log"));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + FDir.filePath("no-bus"));
        FProcess.setProcessEnvironment(environment);
        FProcess.setWorkingDirectory(FDir.path());
        FProcess.setProcessChannelMode(QProcess::ForwardedChannels);
        FProcess.start(program, {});
        if (!FProcess.waitForStarted() || !WaitFor([this] { return Dtr().size() >= 1; }, 30))
            throw std::runtime_error("the program did not start");
        QThread::msleep(2500);
    }
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
    std::vector<TDtr> Dtr() const
    {
        QFile file(FDir.filePath("lines.log"));
        std::vector<TDtr> changes;
        if (!file.open(QIODevice::ReadOnly))
            return changes;
        for (const QString &text : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
            const QStringList fields = text.split(' ');
            if (fields.size() == 3 && fields[1] == "DTR")
                changes.push_back({fields[0].toDouble(), fields[2] == "1"});
        }
        return changes;
    }

private:
    int FMaster = -1;
    QTemporaryDir FDir;
    QProcess FProcess;
};

double Quantile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    return values[size_t(std::clamp(std::ceil(q * double(values.size())) - 1, 0.0, double(values.size() - 1)))];
}

double CpuSeconds(pid_t pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QString text = QString::fromLatin1(stat.readAll());
    const QStringList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// What a monitor hears, as mono float samples, from Start until Level.
class TRecorder {
public:
    TRecorder(const QString &monitor, const QString &file) : FFile(file)
    {
        // Into a file: a pipe nobody reads while the sound plays would stall it.
        FProcess.setStandardOutputFile(file);
        FProcess.start("parec", {"-d", monitor, "--raw", "--format=float32le", "--rate=44100", "--channels=1",
                                 "--latency-msec=10"});
        FProcess.waitForStarted();
    }
    // RMS in dBFS of the loud part heard, without its first and last 100 ms.
    double Level()
    {
        ::kill(pid_t(FProcess.processId()), SIGTERM);
        FProcess.waitForFinished();
        QFile file(FFile);
        file.open(QIODevice::ReadOnly);
        const QByteArray data = file.readAll();
        const auto *samples = reinterpret_cast<const float *>(data.constData());
        const size_t count = size_t(data.size()) / sizeof(float);
        size_t first = count, last = 0;
        for (size_t i = 0; i < count; ++i)
            if (std::abs(samples[i]) > 0.05f) {
                first = std::min(first, i);
                last = i;
            }
        double sum = 0;
        size_t n = 0;
        for (size_t i = first + 4410; i + 4410 < last; ++i, ++n)
            sum += double(samples[i]) * samples[i];
        return n ? 10 * std::log10(sum / double(n)) : -999;
    }

private:
    QString FFile;
    QProcess FProcess;
};

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
    const QString module = Run("pactl", {"load-module", "module-null-sink", "sink_name=" + Output, "rate=44100"});
    QTemporaryDir dir;
    // 1 kHz at -6 dBFS (level 19, squelch 5) for 500 ms after 300 ms of silence.
    const QString burst = dir.filePath("burst.wav"), tone = dir.filePath("tone.wav");
    Run("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", burst, "synth", "0.5", "sine", "1000", "gain", "-6",
                "pad", "0.3", "0"});
    Run("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-e", "float", "-b", "32", tone, "synth", "2", "sine", "1000",
                "gain", "-12"});
    const QString settings = QString("GAIN=5\nDELAY=0\nDEVICENAME=kotarplus_tx.monitor\nRELAY=%1\nLEAD=%2\n");
    {
        TProgram run(program, linesim, settings.arg(Output).arg(Lead));
        TSinkMonitor original("kotarplus_tx.monitor"), relayed((Output + ".monitor").toStdString());
        std::srand(unsigned(std::time(nullptr)));
        std::vector<double> margins, delays;
        for (int i = 0; i < 40; ++i) {
            QThread::usleep(useconds_t(std::rand() % 100000));
            const size_t before = run.Dtr().size();
            original.Arm();
            relayed.Arm();
            Run("paplay", {"-d", "kotarplus_tx", burst});
            const bool released = WaitFor(
                [&] {
                    const auto lines = run.Dtr();
                    return lines.size() >= before + 2 && !lines.back().on;
                },
                10);
            const auto lines = run.Dtr();
            if (!released || lines.size() != before + 2 || relayed.First() == 0 || original.First() == 0) {
                std::fprintf(stderr, "burst %d: not one key-up and release, or nothing heard\n", i);
                continue;
            }
            margins.push_back((relayed.First() - lines[before].time) * 1000);
            delays.push_back((relayed.First() - original.First()) * 1000);
        }
        if (!margins.empty()) {
            std::printf("| LEAD %d ms, %zu bursts | median | p5 | p95 | min | max |\n|---|---|---|---|---|---|\n", Lead,
                        margins.size());
            std::printf("| PTT before audio: DTR up -> first relayed sample | %.1f ms | %.1f ms | %.1f ms | %.1f ms | "
                        "%.1f ms |\n",
                        Quantile(margins, 0.5), Quantile(margins, 0.05), Quantile(margins, 0.95),
                        Quantile(margins, 0), Quantile(margins, 1));
            std::printf("| delay: original -> relayed, both at their sinks' monitors | %.1f ms | %.1f ms | %.1f ms | "
                        "%.1f ms | %.1f ms |\n",
                        Quantile(delays, 0.5), Quantile(delays, 0.05), Quantile(delays, 0.95), Quantile(delays, 0),
                        Quantile(delays, 1));
        }
        int decoded = 0;
        for (int i = 0; i < 20; ++i) {
            const QString text = QString("CQ CQ DE KOTARPLUS TEST %1 K").arg(i);
            const QString sent = dir.filePath("modem.wav"), heard = dir.filePath("heard.raw"),
                          heardWav = dir.filePath("heard.wav");
            Run("minimodem", {"--tx", "-f", sent, "1200"}, text.toUtf8());
            QProcess recorder;
            recorder.setStandardOutputFile(heard);
            recorder.start("parec", {"-d", Output + ".monitor", "--raw", "--format=s16le", "--rate=44100",
                                     "--channels=1"});
            recorder.waitForStarted();
            QThread::usleep(useconds_t(200000 + std::rand() % 100000));
            const size_t before = run.Dtr().size();
            Run("paplay", {"-d", "kotarplus_tx", sent});
            WaitFor(
                [&] {
                    const auto lines = run.Dtr();
                    return lines.size() >= before + 2 && !lines.back().on;
                },
                10);
            QThread::msleep(200);
            ::kill(pid_t(recorder.processId()), SIGTERM);
            recorder.waitForFinished();
            Run("sox", {"-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-c", "1", heard, heardWav});
            const QString got = Run("minimodem", {"--rx", "-q", "-f", heardWav, "1200"});
            if (got == text)
                ++decoded;
            else
                std::fprintf(stderr, "minimodem %d: sent \"%s\", decoded \"%s\"\n", i, qPrintable(text),
                             qPrintable(got));
        }
        std::printf("\nminimodem 1200 baud through the relay: %d of 20 messages decoded in full\n", decoded);
        // The tone keys the VOX; its level at the input and at the output.
        TRecorder input("kotarplus_tx.monitor", dir.filePath("in.raw"));
        TRecorder output(Output + ".monitor", dir.filePath("out.raw"));
        QThread::msleep(300);
        Run("paplay", {"-d", "kotarplus_tx", tone});
        QThread::msleep(500);
        const double in = input.Level(), out = output.Level();
        std::printf("\n1 kHz tone at -12 dBFS: %.3f dBFS in, %.3f dBFS relayed (difference %.3f dB)\n", in, out,
                    out - in);
    }
    if (cpuSeconds > 0)
        for (const QString &relay : {QString(), Output}) {
            // Without relay against BLOCK: a relay keys by block too.
            const QString quiet = relay.isEmpty() ? "GAIN=10\nDELAY=0\nATTACK=BLOCK\n"
                                                  : settings.arg(relay).arg(Lead).replace("GAIN=5", "GAIN=10");
            TProgram run(program, linesim, quiet);
            const double before = CpuSeconds(run.Pid()), start = MonotonicSeconds();
            QThread::sleep(unsigned(cpuSeconds));
            const double used = CpuSeconds(run.Pid()) - before, wall = MonotonicSeconds() - start;
            std::printf("%s, listening to silence: %.2f s of CPU in %.0f s = %.2f%% of one core\n",
                        relay.isEmpty() ? "without relay (ATTACK=BLOCK)" : "with relay", used, wall,
                        100 * used / wall);
        }
    Run("pactl", {"unload-module", module});
    std::fflush(nullptr);
    return 0;
}
