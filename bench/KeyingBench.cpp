// In-process costs of the keying engine's render tick on a shown window
// (offscreen is enough): FFT fetch, spectrum draw, level, and keying with PTT
// going nowhere or to a rigctld dummy. Frames come from the audio layer's frame
// source, so no sound server is needed.
#include "RigctldFixture.h"
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "audio/bass.h"
#include "support/Application.h"
#include "support/ErrorReport.h"
#include "support/Timer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

// What a -6 dBFS 1 kHz tone looks like: bin 23 with its Hann neighbours, over
// a low noise floor that keeps every column of the display moving.
void ToneFrame(float *magnitudes)
{
    static std::minstd_rand random(1);
    std::uniform_real_distribution<float> noise(0.0f, 0.002f);
    for (int i = 0; i < 512; ++i)
        magnitudes[i] = noise(random);
    magnitudes[22] = 0.24f;
    magnitudes[23] = 0.48f;
    magnitudes[24] = 0.24f;
}

void SilentFrame(float *magnitudes) { std::fill(magnitudes, magnitudes + 512, 0.0f); }

// A shown main window started on an INI of its own, fed by *frame.
struct Window {
    explicit Window(const QString &settings, bool *loud)
    {
        BASS_SetFrameSource({{}, [loud](float *m) { *loud ? ToneFrame(m) : SilentFrame(m); }});
        WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\n" + settings);
        form = std::make_unique<TFormPlayer>(QStringList{});
        form->Terminate = [] {};
        form->TimerRender->SetEnabled(false);
        form->show();
        QCoreApplication::processEvents();
    }
    ~Window()
    {
        form.reset();
        BASS_SetFrameSource({});
    }
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    std::unique_ptr<TFormPlayer> form;
};

// One render tick with nothing to key: squelch 10 over silence.
void BM_RenderTickSilent(benchmark::State &state)
{
    bool loud = false;
    Window window("PTT=NONE\nGAIN=10\nDELAY=0\n", &loud);
    for (auto _ : state)
        window.form->TimerRenderTimer();
}
BENCHMARK(BM_RenderTickSilent)->Unit(benchmark::kMicrosecond);

// One render tick over a tone that keys, PTT going nowhere: the engine's own
// keying steps (icons, lamp, delay timer) on top of the draw.
void BM_RenderTickKeying(benchmark::State &state)
{
    bool loud = true;
    Window window("PTT=NONE\nGAIN=5\nDELAY=0\n", &loud);
    for (auto _ : state)
        window.form->TimerRenderTimer();
}
BENCHMARK(BM_RenderTickKeying)->Unit(benchmark::kMicrosecond);

struct RigWindow {
    TRigctldDaemon rig1, rig2;
    bool loud = true;
    Window window{QString("PTT=CAT\nGAIN=5\nDELAY=0\n[OMNIRIG]\nRIG1=%1\nRIG2=%2\n").arg(rig1.Address(), rig2.Address()),
                  &loud};
};

// A keying render tick while the rig is keyed already: PTT on is handed to
// rig 1's link, whose worker sends it at most once a second.
void BM_RenderTickKeyingRig(benchmark::State &state)
{
    RigWindow rig;
    rig.window.form->TimerRenderTimer();
    for (auto _ : state)
        rig.window.form->TimerRenderTimer();
    rig.loud = false;
    rig.window.form->TxRig(false);
}
BENCHMARK(BM_RenderTickKeyingRig)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

// From the start of the first keying render tick after idle to rigctl reading
// PTT on from the daemon. The counters split it: the tick itself (it only
// hands "T 1" to the rig's worker) and the time until rigctl reads PTT on.
void BM_KeyUpTickToRigReportsOn(benchmark::State &state)
{
    RigWindow rig;
    double tickSum = 0, readSum = 0;
    for (auto _ : state) {
        rig.loud = false;
        rig.window.form->TxRig(false);
        rig.loud = true;
        const auto start = Clock::now();
        rig.window.form->TimerRenderTimer();
        const auto ticked = Clock::now();
        bool on = false;
        while (!on && Clock::now() - ticked < std::chrono::seconds(5))
            on = rig.rig1.PttState() == "1";
        const auto read = Clock::now();
        if (!on)
            state.SkipWithError("rig 1 not keyed after the tick");
        tickSum += std::chrono::duration<double>(ticked - start).count();
        readSum += std::chrono::duration<double>(read - ticked).count();
        state.SetIterationTime(std::chrono::duration<double>(read - start).count());
    }
    rig.loud = false;
    rig.window.form->TxRig(false);
    state.counters["tick_ms"] = benchmark::Counter(tickSum * 1000, benchmark::Counter::kAvgIterations);
    state.counters["rigctl_read_ms"] = benchmark::Counter(readSum * 1000, benchmark::Counter::kAvgIterations);
}
// The longest the event loop goes without running, over 4 s of real timers
// keying rig 1 on every render tick with the hang running out and Mute toggled
// twice a second, while rig 1's daemon is killed (0) or stopped by SIGSTOP (1).
void BM_LongestStallWhileTheDaemonIsAway(benchmark::State &state)
{
    RigWindow rig;
    state.range(0) == 0 ? rig.rig1.Kill() : rig.rig1.Pause();
    TFormPlayer &form = *rig.window.form;
    form.TimerRender->SetEnabled(true);
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, longest = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longest = std::max(longest, clock.nsecsElapsed() - last);
            last = clock.nsecsElapsed();
        });
        probe.start(1);
        QTimer mute;
        QObject::connect(&mute, &QTimer::timeout, [&] {
            ErrorReport::Guarded([&] { form.LEDMuteButtonClick(); });
        });
        mute.start(500);
        QEventLoop loop;
        QTimer::singleShot(4000, &loop, &QEventLoop::quit);
        loop.exec();
        state.SetIterationTime(double(longest) / 1e9);
        state.counters["longest_stall_ms"] = double(longest) / 1e6;
    }
    form.TimerRender->SetEnabled(false);
    if (state.range(0) == 1)
        rig.rig1.Resume();
}
BENCHMARK(BM_LongestStallWhileTheDaemonIsAway)->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_KeyUpTickToRigReportsOn)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(30);

} // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    // The render tick measures and keys on the window's thread, as it is timed here.
    TFormPlayer::KeyingMode = TKeyingThread::kmCallerThread;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(nullptr);
    std::_Exit(0);
}
