// Cost on the calling (UI) thread of the PTT command the keying engine re-sends
// at every 33 ms render tick, against rigctld's dummy rig on loopback.
#include "RigctldFixture.h"

#include "ptt/OmniRig_TLB.h"
#include "support/IniFile.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

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

void BM_TxOnExchange(benchmark::State &state)
{
    Setup setup;
    TOmniRigX client(nullptr, setup.ini);
    client.Connect();
    client.Rig1()->SetTx(OmniRig::PM_TX);
    for (auto _ : state)
        client.Rig1()->SetTx(OmniRig::PM_TX);
    client.Rig1()->SetTx(OmniRig::PM_RX);
}
BENCHMARK(BM_TxOnExchange)->UseRealTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_TxOffExchange(benchmark::State &state)
{
    Setup setup;
    TOmniRigX client(nullptr, setup.ini);
    client.Connect();
    for (auto _ : state)
        client.Rig1()->SetTx(OmniRig::PM_RX);
}
BENCHMARK(BM_TxOffExchange)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// The same tick while rig 1's daemon is gone: every call tries to connect again.
void BM_TxOnDaemonGone(benchmark::State &state)
{
    Setup setup;
    TOmniRigX client(nullptr, setup.ini);
    client.Connect();
    setup.rig1.Kill();
    for (auto _ : state) {
        try {
            client.Rig1()->SetTx(OmniRig::PM_TX);
        } catch (const ERigctldError &) {
        }
    }
}
BENCHMARK(BM_TxOnDaemonGone)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
