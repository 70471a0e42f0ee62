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
//    relay output's monitor and decoded; in a mode of its own, COUNT through
//    the relay and COUNT played straight into the relay's output sink,
//    alternated, each way through one stream kept open as a modem program's
//    is, every message from its first sample;
//  - cost: the program's CPU share listening to silence, with and without relay;
//  - soak (a mode of its own): SECONDS of looped speech over a noise floor
//    that is never zero for 1 ms, so that at the relay output's monitor a run
//    of zero samples longer than 1 ms is either PTT off (the gate, with the
//    loop probe's faint bursts between) or a dropout; underruns and overruns
//    from the program's trace.
//
//   relay_figures PROGRAM LINESIM [CPU_SECONDS]
//   relay_figures PROGRAM LINESIM soak [SECONDS]
//   relay_figures PROGRAM LINESIM modem [COUNT]
#include "ProcessFigures.h"
#include "SinkMonitor.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <atomic>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

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
        // A relay keys once its probe has found no loop; then the capture
        // settles.
        if (settings.contains("RELAY=") && !settings.contains("RELAY=\n"))
            WaitFor([this] { return Traced("no echo loop; relaying"); }, 30);
        QThread::msleep(1000);
    }
    // What the relay and the capture thread traced.
    void PrintRelayTrace() const
    {
        QFile log(FDir.filePath("KOTARPlus.Log"));
        if (log.open(QIODevice::ReadOnly))
            for (const QString &line : QString::fromUtf8(log.readAll()).split('\n'))
                if (line.contains("Relay output") || line.contains("Capture thread"))
                    std::printf("trace: %s\n", qPrintable(line));
    }
    bool Traced(const QString &text) const
    {
        QFile log(FDir.filePath("KOTARPlus.Log"));
        return log.open(QIODevice::ReadOnly) && QString::fromUtf8(log.readAll()).contains(text);
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
    QString Trace() const
    {
        QFile file(FDir.filePath("KOTARPlus.Log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
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

// Everything a monitor hears, as mono 16-bit samples, with the time of each
// read (a recorder with 1 ms latency on a thread of its own), until Stop.
class TTimedRecorder {
public:
    struct TRead {
        size_t end;
        double time;
    };

    explicit TTimedRecorder(const QString &monitor)
    {
        FRead = StartRecorder(monitor.toStdString(), 1, &FPid);
        Samples.reserve(size_t(44100) * 700);
        FThread = std::thread([this] {
            char block[4096];
            std::vector<char> odd;
            ssize_t got;
            while ((got = read(FRead, block, sizeof block)) > 0) {
                odd.insert(odd.end(), block, block + got);
                const size_t whole = odd.size() / 2;
                const auto *samples = reinterpret_cast<const int16_t *>(odd.data());
                Samples.insert(Samples.end(), samples, samples + whole);
                odd.erase(odd.begin(), odd.begin() + std::ptrdiff_t(whole * 2));
                Reads.push_back({Samples.size(), MonotonicSeconds()});
            }
        });
    }
    ~TTimedRecorder() { Stop(); }
    TTimedRecorder(const TTimedRecorder &) = delete;
    TTimedRecorder &operator=(const TTimedRecorder &) = delete;

    // After this the samples and reads are complete and stay as they are.
    void Stop()
    {
        if (FRead < 0)
            return;
        ::kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
        FThread.join();
        close(FRead);
        FRead = -1;
    }
    // When sample `index` was read.
    double Time(size_t index) const
    {
        const auto read = std::upper_bound(Reads.begin(), Reads.end(), index,
                                           [](size_t i, const TRead &r) { return i < r.end; });
        return read == Reads.end() ? Reads.back().time : read->time;
    }

    std::vector<int16_t> Samples;
    std::vector<TRead> Reads;

private:
    pid_t FPid = 0;
    int FRead = -1;
    std::thread FThread;
};

struct TRun {
    size_t first, end;
};

// Runs of zero samples longer than 1 ms, within [from, to).
std::vector<TRun> ZeroRuns(const std::vector<int16_t> &samples, size_t from, size_t to)
{
    std::vector<TRun> runs;
    size_t start = from;
    for (size_t i = from; i <= to; ++i)
        if (i == to || samples[i] != 0) {
            if (i - start > 44)
                runs.push_back({start, i});
            start = i + 1;
        }
    return runs;
}

double LoadAverage()
{
    QFile file("/proc/loadavg");
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 0).toDouble() : 0;
}

// The last "N underruns, M overruns so far" the relay traced; 0 and 0 when none.
std::pair<long, long> Xruns(const QString &trace)
{
    static const QRegularExpression line(R"(Relay output \(.*\): (\d+) underruns, (\d+) overruns so far)");
    std::pair<long, long> counts{0, 0};
    for (auto match = line.globalMatch(trace); match.hasNext();) {
        const auto found = match.next();
        counts = {found.captured(1).toLong(), found.captured(2).toLong()};
    }
    return counts;
}

// Speech in paragraphs 2.5 s apart, looped for at least `seconds`, over white
// noise at -60 dBFS: below the squelch, but no 1 ms of it is all zeros.
QString Speech(const QTemporaryDir &dir, int seconds)
{
    const QString spoken = dir.filePath("spoken.wav"), unit = dir.filePath("unit.wav"),
                  looped = dir.filePath("looped.wav"), noise = dir.filePath("noise.wav"),
                  speech = dir.filePath("speech.wav");
    Run("espeak-ng", {"-w", spoken,
                      "CQ CQ CQ, this is a test of the audio relay. The program keys the transmitter first, and "
                      "the sound follows sixty milliseconds later, so nothing of the first word is lost. Please "
                      "report how the audio sounds at your end, over."});
    Run("sox", {"-D", spoken, "-r", "44100", "-c", "1", "-b", "16", unit, "norm", "-3", "pad", "0.5", "2.5"});
    const double length = Run("soxi", {"-D", unit}).toDouble();
    const int repeats = int(std::ceil(seconds / length));
    Run("sox", {"-D", unit, looped, "repeat", QString::number(repeats - 1)});
    Run("sox", {"-D", "-n", "-r", "44100", "-c", "1", "-b", "16", noise, "synth", QString::number(repeats * length),
                "whitenoise", "vol", "0.001"});
    Run("sox", {"-D", "-m", "-v", "1", looped, "-v", "1", noise, speech});
    return speech;
}

// A modem program's output: one stream kept open on `sink` (pacat, 20 ms of
// latency), silence between messages and each message played into it from
// its first sample, with no lead-in of silence of its own.
class TModemPlayer {
public:
    explicit TModemPlayer(const QString &sink)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        // A page at most waits in the pipe: what is played is heard at once.
        fcntl(fds[1], F_SETPIPE_SZ, 4096);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        const QByteArray device = sink.toUtf8();
        const char *argv[] = {"pacat",          "--playback",    "-d", device.constData(), "--raw", "--format=s16le",
                              "--rate=44100",   "--channels=1", "--latency-msec=20", nullptr};
        const int spawned = posix_spawnp(&FPid, "pacat", &actions, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[0]);
        if (spawned != 0)
            throw std::runtime_error("pacat could not be run");
        FWrite = fds[1];
        FThread = std::thread([this] { Feed(); });
    }
    ~TModemPlayer()
    {
        FStop = true;
        FThread.join();
        close(FWrite);
        ::kill(FPid, SIGTERM);
        waitpid(FPid, nullptr, 0);
    }
    // Plays `samples` next and returns once they have been handed over.
    void Play(std::vector<int16_t> samples)
    {
        {
            std::lock_guard lock(FLock);
            FQueue = std::move(samples);
            FAt = 0;
        }
        while (!Done())
            QThread::msleep(5);
    }

private:
    bool Done()
    {
        std::lock_guard lock(FLock);
        return FAt >= FQueue.size();
    }
    // Writes 10 ms at a time; pacat's pipe and stream pace it in real time.
    void Feed()
    {
        std::vector<int16_t> chunk(441);
        while (!FStop) {
            {
                std::lock_guard lock(FLock);
                for (int16_t &sample : chunk)
                    sample = FAt < FQueue.size() ? FQueue[FAt++] : 0;
            }
            if (write(FWrite, chunk.data(), chunk.size() * sizeof(int16_t)) < 0)
                return;
        }
    }

    pid_t FPid = 0;
    int FWrite = -1;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::vector<int16_t> FQueue;
    size_t FAt = 0;
};

// One minimodem message at 1200 baud, played through `player` (into
// kotarplus_tx, through the relay, or straight into the relay's output sink),
// recorded from that sink's monitor and decoded; true when it came through in
// full.
bool Modem(const TProgram &run, const QTemporaryDir &dir, int i, TModemPlayer &player, bool relayed)
{
    const QString text = QString("CQ CQ DE KOTARPLUS TEST %1 K").arg(i);
    const QString sent = dir.filePath("sent.raw"), heard = dir.filePath("heard.raw"),
                  heardWav = dir.filePath("heard.wav"), sentWav = dir.filePath("sent.wav");
    // At -6 dB, so that resampling does not clip it.
    Run("minimodem", {"--tx", "--volume", "0.5", "-f", sentWav, "1200"}, text.toUtf8());
    Run("sox", {sentWav, "-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-c", "1", sent});
    QFile file(sent);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    std::vector<int16_t> samples(size_t(bytes.size()) / sizeof(int16_t));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(int16_t));
    QProcess recorder;
    recorder.setStandardOutputFile(heard);
    // A short fragment: PipeWire otherwise holds seconds back, lost at SIGTERM.
    recorder.start("parec", {"-d", Output + ".monitor", "--raw", "--format=s16le", "--rate=44100", "--channels=1",
                             "--latency-msec=20"});
    recorder.waitForStarted();
    QThread::usleep(useconds_t(200000 + std::rand() % 300000));
    const size_t before = run.Dtr().size();
    player.Play(std::move(samples));
    // Through the relay: until PTT is released, when the delay has drained.
    if (relayed)
        WaitFor(
            [&] {
                const auto lines = run.Dtr();
                return lines.size() >= before + 2 && !lines.back().on;
            },
            10);
    // What waits in the pipe and the player's stream plays out.
    QThread::msleep(500);
    ::kill(pid_t(recorder.processId()), SIGTERM);
    recorder.waitForFinished();
    Run("sox", {"-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-c", "1", heard, heardWav});
    const QString got = Run("minimodem", {"--rx", "-q", "-f", heardWav, "1200"});
    // A stray character after the message (the decoder on the carrier's end)
    // comes with both ways alike; the message itself must be whole.
    if (!got.contains(text))
        std::fprintf(stderr, "minimodem %d %s: sent \"%s\", decoded \"%s\"\n", i,
                     relayed ? "through the relay" : "straight", qPrintable(text), qPrintable(got));
    return got.contains(text);
}

void Soak(const QString &program, const QString &linesim, const QString &settings, int seconds)
{
    QTemporaryDir dir;
    const QString speech = Speech(dir, seconds);
    const double length = Run("soxi", {"-D", speech}).toDouble();
    // A hang as an operator sets it, so the gate opens and shuts at the pauses.
    TProgram run(program, linesim, settings.arg(Output).arg(Lead).replace("DELAY=0", "DELAY=300"));
    const auto before = Xruns(run.Trace());
    TTimedRecorder input("kotarplus_tx.monitor"), output(Output + ".monitor");
    QThread::msleep(500);
    const size_t dtrBefore = run.Dtr().size();
    double loadMax = LoadAverage();
    const double loadStart = loadMax, start = MonotonicSeconds();
    QProcess player;
    player.start("paplay", {"-d", "kotarplus_tx", speech});
    while (!player.waitForFinished(10000)) {
        loadMax = std::max(loadMax, LoadAverage());
        if (MonotonicSeconds() - start > length + 60)
            throw std::runtime_error("paplay did not finish");
    }
    const double played = MonotonicSeconds() - start;
    QThread::msleep(1500);
    input.Stop();
    output.Stop();
    const double loadEnd = LoadAverage();
    loadMax = std::max(loadMax, loadEnd);
    // The relay traces its counts at most once a minute: a last change shows
    // within that.
    QThread::sleep(62);
    const auto after = Xruns(run.Trace());

    // The input between the speech's first and last sound: a gap there would
    // be the player's, not the relay's.
    size_t first = input.Samples.size(), last = 0;
    for (size_t i = 0; i < input.Samples.size(); ++i)
        if (input.Samples[i] != 0) {
            first = std::min(first, i);
            last = i + 1;
        }
    const size_t inputGaps = first < last ? ZeroRuns(input.Samples, first, last).size() : 0;

    // PTT-off spans during the soak; each explains one zero run at the output
    // overlapping it (the output lags the gate by the playback latency and the
    // recorder's reads).
    std::vector<TDtr> lines = run.Dtr();
    lines.erase(lines.begin(), lines.begin() + std::ptrdiff_t(dtrBefore));
    struct TSpan {
        double from, to;
    };
    std::vector<TSpan> off{{-1e9, lines.empty() || !lines.front().on ? 1e9 : lines.front().time}};
    int transmissions = 0;
    double keyed = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const double next = i + 1 < lines.size() ? lines[i + 1].time : 1e9;
        if (lines[i].on) {
            ++transmissions;
            keyed += std::min(next, start + played + 1.5) - lines[i].time;
        } else
            off.push_back({lines[i].time, next});
    }
    // A zero run that meets a PTT-off span is PTT off: its silence, parted
    // into several runs by the loop probe, and the lead's silence before the
    // first relayed sample once PTT is up again (the output lags the line by
    // the recorder's latency). A dropout is a run wholly inside a keyed span.
    constexpr double Before = 0.05, After = 0.1;
    const std::vector<TRun> runs = ZeroRuns(output.Samples, 0, output.Samples.size());
    std::vector<bool> gated(runs.size(), false);
    for (size_t r = 0; r < runs.size(); ++r) {
        const double from = output.Time(runs[r].first), to = output.Time(runs[r].end - 1);
        for (const auto &span : off)
            gated[r] = gated[r] || (from < span.to + After && to > span.from - Before);
    }
    size_t dropouts = 0;
    double longest = 0, relayed = 0;
    for (int16_t sample : output.Samples)
        relayed += sample != 0;
    relayed /= 44100;
    for (size_t r = 0; r < runs.size(); ++r) {
        if (gated[r])
            continue;
        const double length = double(runs[r].end - runs[r].first) / 44.1;
        ++dropouts;
        longest = std::max(longest, length);
        // Where in its transmission: after the last DTR change before it.
        const double at = output.Time(runs[r].first);
        double since = -1;
        for (const TDtr &line : lines)
            if (line.time <= at)
                since = at - line.time;
        std::fprintf(stderr, "dropout: %.1f ms of zeros %.3f s into the soak, %.3f s after DTR last changed\n",
                     length, at - start, since);
    }
    std::printf("| speech soak, LEAD %d ms, hang 300 ms | figure |\n|---|---|\n", Lead);
    std::printf("| played | %.0f s of speech (%.0f s asked), %d transmissions, keyed %.0f s, relayed %.0f s of "
                "non-zero sound |\n",
                played, double(seconds), transmissions, keyed, relayed);
    std::printf("| dropouts (runs of zeros > 1 ms at the relay output while PTT on) | %zu (longest %.1f ms); "
                "besides, %zu zero runs of PTT off (%zu spans off); %zu gaps in the input itself |\n",
                dropouts, longest, size_t(std::count(gated.begin(), gated.end(), true)), off.size(), inputGaps);
    std::printf("| relay underruns / overruns traced during the soak | %ld / %ld (at start %ld / %ld) |\n",
                after.first - before.first, after.second - before.second, before.first, before.second);
    std::printf("| load average (1 min) at start / end / highest | %.2f / %.2f / %.2f |\n", loadStart, loadEnd,
                loadMax);
    run.PrintRelayTrace();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROGRAM LINESIM [CPU_SECONDS | soak [SECONDS] | modem [COUNT]]\n", argv[0]);
        return 2;
    }
    const QString program = argv[1], linesim = argv[2];
    const bool soak = argc > 3 && QString(argv[3]) == "soak", modem = argc > 3 && QString(argv[3]) == "modem";
    const int cpuSeconds = argc > 3 && !soak ? std::atoi(argv[3]) : 60;
    const QString module = Run("pactl", {"load-module", "module-null-sink", "sink_name=" + Output, "rate=44100"});
    const QString settings = QString("GAIN=5\nDELAY=0\nDEVICENAME=kotarplus_tx.monitor\nRELAY=%1\nLEAD=%2\n");
    if (soak) {
        Soak(program, linesim, settings, argc > 4 ? std::atoi(argv[4]) : 600);
        Run("pactl", {"unload-module", module});
        std::fflush(nullptr);
        return 0;
    }
    QTemporaryDir dir;
    std::srand(unsigned(std::time(nullptr)));
    if (modem) {
        // The same messages through the relay and straight into its output
        // sink, alternated, so both meet the same load.
        const int count = argc > 4 ? std::atoi(argv[4]) : 10;
        // The README's digital-mode recipe: squelch 3, a hang of 300 ms.
        TProgram run(program, linesim,
                     settings.arg(Output).arg(Lead).replace("GAIN=5", "GAIN=3").replace("DELAY=0", "DELAY=200"));
        TModemPlayer throughRelay("kotarplus_tx"), intoSink(Output);
        int relayed = 0, straight = 0;
        double loadMin = LoadAverage(), loadMax = loadMin;
        for (int i = 0; i < count; ++i) {
            relayed += Modem(run, dir, 2 * i, throughRelay, true);
            straight += Modem(run, dir, 2 * i + 1, intoSink, false);
            loadMin = std::min(loadMin, LoadAverage());
            loadMax = std::max(loadMax, LoadAverage());
        }
        std::printf("| minimodem 1200 baud, alternated, LEAD %d ms | decoded in full |\n|---|---|\n"
                    "| through the relay | %d of %d |\n| straight into the sink | %d of %d |\n"
                    "| load average (1 min) | %.2f to %.2f |\n",
                    Lead, relayed, count, straight, count, loadMin, loadMax);
        run.PrintRelayTrace();
        Run("pactl", {"unload-module", module});
        std::fflush(nullptr);
        return 0;
    }
    // 1 kHz at -6 dBFS (level 19, squelch 5) for 500 ms after 300 ms of silence.
    const QString burst = dir.filePath("burst.wav"), tone = dir.filePath("tone.wav");
    Run("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", burst, "synth", "0.5", "sine", "1000", "gain", "-6",
                "pad", "0.3", "0"});
    Run("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-e", "float", "-b", "32", tone, "synth", "2", "sine", "1000",
                "gain", "-12"});
    {
        TProgram run(program, linesim, settings.arg(Output).arg(Lead));
        TSinkMonitor original("kotarplus_tx.monitor"), relayed((Output + ".monitor").toStdString());
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
            std::fprintf(stderr, "burst %d: margin %.1f ms, delay %.1f ms, key-up %.1f ms after the sound\n", i,
                         margins.back(), delays.back(), (lines[before].time - original.First()) * 1000);
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
        TModemPlayer throughRelay("kotarplus_tx");
        int decoded = 0;
        for (int i = 0; i < 20; ++i)
            decoded += Modem(run, dir, i, throughRelay, true);
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
