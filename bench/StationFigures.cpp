// The station without a window beside the window's program and SvxLink (run by
// bench/station-figures.sh with a private sound server and session bus), PTT
// on a pseudo-terminal under linesim, sound in the default source (the test
// sink's monitor; for the idle figures kotar_station's, which the script runs
// like a sound card with a 20 ms period):
//  - start to first keying with a tone already playing: from just before the
//    program is started to DTR raised in linesim's log (both CLOCK_MONOTONIC);
//  - peak memory (VmHWM) after keying from that tone for 3 s;
//  - CPU over a minute of silence.
//
//   station_figures LINESIM KOTARPLUSD KOTARPLUS [CPU_SECONDS]
// SvxLink is measured too when `svxlink` is on the path: a repeater logic whose
// receiver's VOX opens it at once (when the squelch opens, not when it closes
// as by default) and whose transmitter keys DTR, its sound through
// ALSA's PulseAudio plugin on the same server (its output to kotar_drain, away
// from what it records).
#include "ProcessFigures.h"
#include "ProgramRun.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int Runs = 6;

// One of the measured programs, started in a TProgramRun's folder with its port.
class TMeasured {
public:
    virtual ~TMeasured() = default;
    virtual void Start() = 0;
    virtual pid_t Pid() const = 0;
    virtual void Stop() = 0;
    TProgramRun Run;
};

// kotarplus or kotarplusd.
class TKotar : public TMeasured {
public:
    explicit TKotar(const QString &program)
    {
        Run.Program = program;
        Run.Bus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        Run.WriteIni(QString("[SETTINGS]\nPTT=SERIAL\nCOMPORT=%1\nGAIN=5\nDELAY=0\nTRACE=YES\n").arg(Run.PortPath()));
    }
    void Start() override { Run.Start(); }
    pid_t Pid() const override { return Run.Pid(); }
    void Stop() override { Run.Terminate(); }
};

class TSvxLink : public TMeasured {
public:
    TSvxLink()
    {
        WriteText(Run.File("svxlink.conf"), QString(R"([GLOBAL]
LOGICS=RepeaterLogic
CARD_SAMPLE_RATE=48000

[RepeaterLogic]
TYPE=Repeater
RX=Rx1
TX=Tx1
CALLSIGN=N0CALL
EVENT_HANDLER=/usr/share/svxlink/events.tcl
DEFAULT_LANG=en_US
SHORT_IDENT_INTERVAL=0
LONG_IDENT_INTERVAL=0
OPEN_ON_SQL=1
OPEN_SQL_FLANK=OPEN
IDLE_TIMEOUT=1

[Rx1]
TYPE=Local
AUDIO_DEV=alsa:pulse
AUDIO_CHANNEL=0
SQL_DET=VOX
SQL_START_DELAY=0
SQL_DELAY=0
SQL_HANGTIME=0
VOX_FILTER_DEPTH=20
VOX_THRESH=1000
DTMF_DEC_TYPE=NONE

[Tx1]
TYPE=Local
AUDIO_DEV=alsa:pulse
AUDIO_CHANNEL=0
PTT_TYPE=SerialPin
PTT_PORT=%1
PTT_PIN=DTR
TIMEOUT=300
TX_DELAY=0
)")
                                                       .arg(Run.PortPath()));
    }
    void Start() override
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LD_PRELOAD", qEnvironmentVariable("KOTAR_LINESIM"));
        environment.insert("LINESIM_DEVICE", Run.PortPath());
        environment.insert("LINESIM_LOG", Run.File("lines.log"));
        environment.insert("PULSE_SINK", "kotar_drain");
        FProcess.setProcessEnvironment(environment);
        FProcess.setWorkingDirectory(Run.Dir().path());
        FProcess.setStandardOutputFile(Run.File("svxlink.out"));
        FProcess.setStandardErrorFile(Run.File("svxlink.out"), QIODevice::Append);
        FProcess.start("svxlink", {"--config=" + Run.File("svxlink.conf")});
        // Its PTT port opened: DTR lowered.
        if (!FProcess.waitForStarted() || !WaitFor([this] { return !Run.Lines().empty(); }, 30000))
            throw std::runtime_error("svxlink did not start");
    }
    pid_t Pid() const override { return pid_t(FProcess.processId()); }
    void Stop() override
    {
        ::kill(Pid(), SIGTERM);
        FProcess.waitForFinished(10000);
    }

private:
    QProcess FProcess;
};

using TMaker = std::function<std::unique_ptr<TMeasured>()>;

struct TRange {
    double min, median, max;
};

TRange Range(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return {values.front(), (values[(n - 1) / 2] + values[n / 2]) / 2, values.back()};
}

// Start to first keying with the tone playing, and the peak memory 3 s later.
void KeyingFigures(const QString &name, const TMaker &make, const QString &tone)
{
    std::vector<double> keyUps, peaks;
    for (int r = 0; r < Runs; ++r) {
        QProcess player;
        player.start("paplay", {"-d", "kotar_sink", tone});
        QThread::msleep(500);
        const std::unique_ptr<TMeasured> measured = make();
        const double started = MonotonicNow();
        measured->Start();
        double keyed = 0;
        WaitFor(
            [&] {
                for (const TLineChange &change : measured->Run.Lines())
                    if (change.line == "DTR" && change.on)
                        return (keyed = change.time) > 0;
                return false;
            },
            10000);
        if (keyed == 0)
            throw std::runtime_error(name.toStdString() + ": the tone did not key");
        QThread::sleep(3);
        keyUps.push_back((keyed - started) * 1000);
        peaks.push_back(double(PeakKilobytes(measured->Pid())) / 1024);
        std::fprintf(stderr, "%s run %d: first keying %.1f ms after start, peak RSS %.1f MB\n", qPrintable(name),
                     r + 1, keyUps.back(), peaks.back());
        measured->Stop();
        player.kill();
        player.waitForFinished();
    }
    const TRange k = Range(keyUps), p = Range(peaks);
    std::printf("| %s | start to DTR raised, tone playing | %.1f / %.1f / %.1f ms |\n", qPrintable(name), k.min,
                k.median, k.max);
    std::printf("| %s | peak RSS after 3 s keyed | %.1f / %.1f / %.1f MB |\n", qPrintable(name), p.min, p.median,
                p.max);
    std::fflush(stdout);
}

void IdleFigures(const QString &name, const TMaker &make, int seconds)
{
    const std::unique_ptr<TMeasured> measured = make();
    measured->Start();
    QThread::sleep(2);
    const pid_t pid = measured->Pid();
    const double before = CpuSeconds(pid), start = MonotonicNow();
    QThread::sleep(unsigned(seconds));
    const double used = CpuSeconds(pid) - before, wall = MonotonicNow() - start;
    std::printf("| %s | CPU listening to silence, %.0f s | %.2f s = %.2f%% of one core (peak RSS %.1f MB) |\n",
                qPrintable(name), wall, used, 100 * used / wall, double(PeakKilobytes(pid)) / 1024);
    std::fflush(stdout);
    measured->Stop();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s LINESIM KOTARPLUSD KOTARPLUS [CPU_SECONDS]\n", argv[0]);
        return 2;
    }
    qputenv("KOTAR_LINESIM", argv[1]);
    const QString station = argv[2], window = argv[3];
    const int cpuSeconds = argc > 4 ? std::atoi(argv[4]) : 60;
    QTemporaryDir sounds;
    const QString tone = sounds.filePath("tone.wav");
    if (QProcess::execute("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "30", "sine",
                                  "1000", "gain", "-6"})
        != 0)
        return 1;
    std::vector<std::pair<QString, TMaker>> programs{
        {"kotarplusd", [&] { return std::make_unique<TKotar>(station); }},
        {"kotarplus (offscreen)", [&] { return std::make_unique<TKotar>(window); }}};
    const bool svxlink = !QStandardPaths::findExecutable("svxlink").isEmpty();
    if (svxlink)
        programs.emplace_back("svxlink", [] { return std::make_unique<TSvxLink>(); });
    std::printf("| program | measure (%d runs: min / median / max) | figure |\n|---|---|---|\n", Runs);
    // Caught here, so that the program measured when it failed is stopped as it goes out of scope.
    try {
        for (const auto &[name, make] : programs)
            KeyingFigures(name, make, tone);
        if (cpuSeconds > 0 && QProcess::execute("pactl", {"set-default-source", "kotar_station.monitor"}) != 0)
            return 1;
        if (cpuSeconds > 0)
            for (const auto &[name, make] : programs)
                if (name != "kotarplus (offscreen)")
                    IdleFigures(name, make, cpuSeconds);
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
    if (!svxlink)
        std::printf("\nsvxlink is not installed: no figures beside ours\n");
    return 0;
}
