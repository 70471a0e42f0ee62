// End-to-end figures of the capture through a PulseAudio server with the
// devices of scripts/pulse-fixture.sh (run by bench/audio-figures.sh):
//  - the largest bin-23 magnitude of a 1 kHz tone at -40, -20 and -6 dBFS;
//  - the spacing of the capture thread's deliveries;
//  - the time from a tone burst's start at the sink (seen on its monitor by a
//    separate low-latency recorder) to the first FFT frame that shows it.
#include "SinkMonitor.h"
#include "audio/bass.h"

#include <QCoreApplication>
#include <QThread>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

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

QString Tone(const QString &dir, const QString &name, double dbfs, double seconds, double leadIn)
{
    const QString file = dir + "/" + name + ".wav";
    Run("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", file, "synth", QString::number(seconds), "sine",
                "1000", "gain", QString::number(dbfs), "pad", QString::number(leadIn), "0"});
    return file;
}

std::vector<float> Frame(HRECORD handle)
{
    std::vector<float> frame(513);
    BASS_ChannelGetData(handle, frame.data(), BASS_DATA_FFT1024);
    return frame;
}

bool PollUntil(HRECORD handle, bool (*done)(const std::vector<float> &), Clock::duration timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (done(Frame(handle)))
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

// Capture thread deliveries.
std::mutex DeliveryLock;
std::vector<Clock::time_point> Deliveries;
std::vector<uint32_t> DeliveryBytes;
bool Record(HRECORD, const void *, uint32_t length, void *)
{
    std::lock_guard lock(DeliveryLock);
    if (Deliveries.size() < 100000) {
        Deliveries.push_back(Clock::now());
        DeliveryBytes.push_back(length);
    }
    return true;
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
    const HRECORD handle = BASS_RecordStart(44100, 2, 0, Record, nullptr);
    if (handle == 0)
        return 1;

    std::printf("peak magnitude in bin 23 of a 1 kHz tone (expected 0.968 x amplitude):\n");
    for (double dbfs : {-40.0, -20.0, -6.0}) {
        QProcess player;
        player.start("paplay", {"-d", "kotar_sink", Tone(dir.path(), QString("tone%1").arg(-dbfs), dbfs, 1.0, 0)});
        player.waitForStarted();
        PollUntil(handle, [](const std::vector<float> &f) { return f[23] > 1e-3f; }, std::chrono::seconds(3));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        float peak = 0;
        size_t peakBin = 0;
        for (int i = 0; i < 20; ++i) {
            const std::vector<float> frame = Frame(handle);
            const auto top = std::max_element(frame.begin(), frame.begin() + 512);
            if (*top > peak) {
                peak = *top;
                peakBin = size_t(top - frame.begin());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        player.waitForFinished();
        std::printf("  %6.1f dBFS (amplitude %.4f): %.4f in bin %zu\n", dbfs, std::pow(10.0, dbfs / 20), peak,
                    peakBin);
    }

    {
        std::lock_guard lock(DeliveryLock);
        double widest = 0, sum = 0;
        for (size_t i = 1; i < Deliveries.size(); ++i) {
            const double gap = Ms(Deliveries[i] - Deliveries[i - 1]);
            widest = std::max(widest, gap);
            sum += gap;
        }
        const double blockMs = double(*std::max_element(DeliveryBytes.begin(), DeliveryBytes.end())) / 8 / 44.1;
        std::printf("capture deliveries: %zu, mean gap %.2f ms, widest gap %.2f ms, largest block %.2f ms\n",
                    Deliveries.size(), sum / double(Deliveries.size() - 1), widest, blockMs);
    }

    const QString burst = Tone(dir.path(), "burst", -6, 0.3, 0.4);
    std::vector<double> latencies;
    {
        TSinkMonitor monitor;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (int i = 0; i < 10; ++i) {
            PollUntil(handle, [](const std::vector<float> &f) { return f[23] < 1e-3f; }, std::chrono::seconds(3));
            monitor.Arm();
            QProcess player;
            player.start("paplay", {"-d", "kotar_sink", burst});
            player.waitForStarted();
            if (!PollUntil(handle, [](const std::vector<float> &f) { return f[23] > 0.05f; }, std::chrono::seconds(3)))
                continue;
            const double shown = MonotonicSeconds();
            for (int wait = 0; monitor.First() == 0 && wait < 1000; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (monitor.First() != 0)
                latencies.push_back((shown - monitor.First()) * 1000);
            player.waitForFinished();
        }
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty())
        std::printf("burst at sink monitor -> first frame with bin 23 > 0.05 (of 0.485), %zu bursts: min %.1f ms, "
                    "median %.1f ms, max %.1f ms\n",
                    latencies.size(), latencies.front(), latencies[latencies.size() / 2], latencies.back());
    BASS_Free();
    std::fflush(nullptr);
    _exit(0);
}
