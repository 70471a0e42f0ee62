// The VOX level (what the squelch bar shows and the squelch is compared with)
// that speech and 1 kHz tones produce through a PulseAudio server with the
// devices of scripts/pulse-fixture.sh (run by bench/keying-figures.sh): frames
// fetched every 33 ms as the render tick does, while the sound plays.
#include "core/SignalLevel.h"
#include "audio/bass.h"

#include <QCoreApplication>
#include <QThread>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The display's bin step from start-up on.
constexpr int BinStep = 3;

void Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        std::exit(1);
    }
}

uint32_t Level(HRECORD handle)
{
    float frame[513];
    BASS_ChannelGetData(handle, frame, BASS_DATA_FFT1024);
    return SignalLevel(frame, BinStep);
}

// Levels of the frames taken while the file plays, from the first frame that
// shows it (or 300 ms after the start, for sounds too weak to show) on.
std::vector<uint32_t> Levels(HRECORD handle, const QString &file)
{
    QProcess player;
    player.start("paplay", {"-d", "kotar_sink", file});
    player.waitForStarted();
    std::vector<uint32_t> levels;
    bool started = false;
    const auto begin = std::chrono::steady_clock::now();
    while (player.state() == QProcess::Running) {
        const uint32_t level = Level(handle);
        started = started || level > 0 || std::chrono::steady_clock::now() - begin > std::chrono::milliseconds(300);
        if (started)
            levels.push_back(level);
        player.waitForFinished(33);
    }
    return levels;
}

void Print(const char *what, std::vector<uint32_t> levels)
{
    if (levels.empty()) {
        std::printf("| %s | no frames |\n", what);
        return;
    }
    std::sort(levels.begin(), levels.end());
    const auto at = [&](double q) { return levels[size_t(q * double(levels.size() - 1))]; };
    const auto keyed = [&](uint32_t squelch) {
        return 100.0 * double(levels.end() - std::lower_bound(levels.begin(), levels.end(), squelch)) /
               double(levels.size());
    };
    std::printf("| %s | %zu | %u | %u | %u | %u | %.0f%% | %.0f%% | %.0f%% | %.0f%% |\n", what, levels.size(), at(0.1),
                at(0.5), at(0.9), levels.back(), keyed(1), keyed(2), keyed(3), keyed(5));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    // The library connects in the background: its first answer first.
    while (SoundServerState() == ssConnecting)
        QThread::msleep(2);
    if (!BASS_RecordInit(-1)) {
        std::fprintf(stderr, "no recording device: run with a sound server\n");
        return 1;
    }
    const HRECORD handle = BASS_RecordStart(44100, 2, 0, [](HRECORD, const void *, uint32_t, void *) { return true; },
                                            nullptr);
    if (handle == 0)
        return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::printf("silence: level %u\n\n", Level(handle));
    std::printf("VOX level per 33 ms frame while playing (bin step %d)\n\n", BinStep);
    std::printf("| sound | frames | 10th pct | median | 90th pct | max | frames >= 1 | >= 2 | >= 3 | >= 5 |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    const QString speech = dir.filePath("speech.wav");
    Run("espeak-ng", {"-w", speech, "CQ CQ CQ, this is a test of the voice operated transmit switch. Over."});
    Print("speech, espeak-ng default volume", Levels(handle, speech));
    for (int dbfs : {-40, -20, -6}) {
        const QString tone = dir.filePath(QString("tone%1.wav").arg(-dbfs));
        Run("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "2", "sine", "1000", "gain",
                    QString::number(dbfs)});
        const QByteArray name = QString("1 kHz tone, %1 dBFS").arg(dbfs).toUtf8();
        Print(name.constData(), Levels(handle, tone));
    }
    BASS_Free();
    std::fflush(nullptr);
    _exit(0);
}
