#include "audio/Capture.h"
#include "audio/bass.h"

#include <QCoreApplication>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

// The FFT request on a running capture; needs a sound server (PULSE_SERVER).
void BM_ChannelGetDataFFT(benchmark::State &state)
{
    HRECORD handle = 0;
    // The library connects in the background: its first answer first.
    while (SoundServerState() == ssConnecting)
        QThread::msleep(2);
    if (BASS_RecordInit(-1))
        handle = BASS_RecordStart(44100, 2, 0, nullptr, nullptr);
    if (handle == 0) {
        BASS_Free();
        state.SkipWithError("no capture: run with a sound server");
        return;
    }
    std::vector<float> frame(513);
    for (auto _ : state) {
        BASS_ChannelGetData(handle, frame.data(), BASS_DATA_FFT1024);
        benchmark::DoNotOptimize(frame.data());
    }
    BASS_Free();
}
BENCHMARK(BM_ChannelGetDataFFT)->Unit(benchmark::kMicrosecond);

// The same work without a server: ring copy, window, FFT, magnitudes.
void BM_SpectrumAnalyser(benchmark::State &state)
{
    TSampleRing ring;
    std::vector<float> tone(4096);
    for (size_t n = 0; n < tone.size(); ++n)
        tone[n] = 0.5f * float(std::sin(2 * std::numbers::pi * 1000.0 * double(n) / 44100.0));
    ring.Push(tone.data(), tone.size());
    TSpectrumAnalyser analyser;
    std::vector<float> frame(513);
    for (auto _ : state) {
        analyser.Magnitudes(ring, frame.data());
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_SpectrumAnalyser)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
