// Cost on the calling (UI) thread of the PTT command the keying engine re-sends
// at every 33 ms render tick, against rigctld's dummy rig on loopback: with the
// daemon answering, stopped, and stalled. max_us is the longest single call.
#include "RigctldFixture.h"

#include "ptt/OmniRig_TLB.h"
#include "support/IniFile.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Setup {
    TRigctldDaemon rig1;
    TRigctldDaemon rig2;
    QTemporaryDir dir;
    QString ini = dir.filePath("KOTARPlus.INI");
    Setup()
    {
        TIniFile file(ini);
        file.WriteString(OmniRig::Section, OmniRig::Rig1Key, rig1.Address());
        file.WriteString(OmniRig::Section, OmniRig::Rig2Key, rig2.Address());
    }
};

// Keying ticks 33 ms apart, each ending with a release now and then, as a
// word ends: every call is timed on its own.
void Ticks(benchmark::State &state, IRigX *rig)
{
    double longest = 0;
    int tick = 0;
    for (auto _ : state) {
        const bool on = ++tick % 10 != 0;
        const auto start = Clock::now();
        rig->SetTx(on ? OmniRig::PM_TX : OmniRig::PM_RX);
        const double took = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        longest = std::max(longest, took);
        state.SetIterationTime(took / 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
    }
    state.counters["max_us"] = longest;
}

void BM_TxDaemonAnswering(benchmark::State &state)
{
    Setup setup;
    TOmniRigX client(nullptr, setup.ini);
    client.Connect();
    Ticks(state, client.Rig1());
    client.Rig1()->SetTx(OmniRig::PM_RX);
    client.Rig1()->Output()->Settle(Clock::now() + std::chrono::seconds(2));
}
BENCHMARK(BM_TxDaemonAnswering)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(150);

void BM_TxDaemonStopped(benchmark::State &state)
{
    Setup setup;
    TOmniRigX client(nullptr, setup.ini);
    client.Connect();
    setup.rig1.Kill();
    Ticks(state, client.Rig1());
}
BENCHMARK(BM_TxDaemonStopped)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(150);

void BM_TxDaemonStalled(benchmark::State &state)
{
    Setup setup;
    TOmniRigX client(nullptr, setup.ini);
    client.Connect();
    setup.rig1.Pause();
    Ticks(state, client.Rig1());
    setup.rig1.Resume();
}
BENCHMARK(BM_TxDaemonStalled)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(150);

} // namespace

BENCHMARK_MAIN();
