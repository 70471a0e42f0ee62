// The keying core on a fake clock: every step is called by the test, time only
// moves when the test moves it.
#include "core/KeyingCore.h"
#include "support/Exception.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace std::chrono;

namespace {
// An output that records what it is told; it can be made to refuse.
struct TRecordingOutput : TPttOutput {
    QString Name() const override { return "rec"; }
    void Switch(bool on) override
    {
        Calls << (on ? "on" : "off");
        if (on && !KeysNothing)
            Keyed = true;
        if ((on && RefuseOn) || (!on && RefuseOff))
            throw Exception("refused");
        if (!on)
            Keyed = false;
    }
    bool MayBeKeyed() const override { return Keyed; }
    bool Gone() const override { return DeviceGone; }
    QStringList Calls;
    bool Keyed = false, RefuseOn = false, RefuseOff = false, KeysNothing = false, DeviceGone = false;
};

struct Core : ::testing::Test {
    Core()
    {
        core.SetClock([this] { return now; });
        core.Apply({5, 0, 0});
        core.SelectOutput(output);
        QObject::connect(&core, &TKeyingCore::Report, [this](const QString &text) { reports << text; });
        core.Start(false);
        output->Calls.clear();
    }
    void Level(uint32_t level) { core.Measure({level, -10}); }
    void Pass(milliseconds span) { now += span; }
    // Moves time in 100 ms steps with a delay tick each, until released.
    milliseconds HangUntilRelease()
    {
        const auto start = now;
        for (int i = 0; i < 100 && core.State().PttOn; ++i) {
            Pass(100ms);
            core.DelayTick();
        }
        return duration_cast<milliseconds>(now - start);
    }

    // A relay that plays a probe (before PTT may rise) and sound (before it
    // may fall) for as long as told, and may not deliver.
    void UseRelay()
    {
        core.SetRelay({[this] { return gate = true, now + probe; }, [this] { return gate = false, now + queued; },
                       [this] { return playedOut; }, [this] { return ready; }});
    }
    bool gate = false, ready = true;
    milliseconds probe{}, queued{};
    steady_clock::time_point playedOut{};
    steady_clock::time_point now{seconds(1000)};
    std::shared_ptr<TRecordingOutput> output = std::make_shared<TRecordingOutput>();
    TKeyingCore core;
    QStringList reports;
};
} // namespace

TEST_F(Core, KeysAtTheSquelchHangsForTheDelayAndReleases)
{
    for (const auto &[delay, release] : {std::pair{0, 100}, {99, 100}, {100, 200}, {150, 200}, {5000, 5100}}) {
        core.Apply({5, delay, 0});
        Level(4);
        EXPECT_FALSE(core.State().PttOn) << "one below the squelch";
        Level(5);
        EXPECT_TRUE(core.State().PttOn);
        EXPECT_EQ(core.State().Icon, TStateIcon::On);
        EXPECT_EQ(HangUntilRelease(), milliseconds(release)) << "delay " << delay;
        EXPECT_EQ(core.State().Icon, TStateIcon::Idle);
        EXPECT_EQ(output->Calls.last(), "off");
    }
}

TEST_F(Core, ALateTickCatchesUpAndNeverStretchesTheHang)
{
    core.Apply({5, 2100, 0});
    Level(9);
    Pass(5s); // the timer came 2.8 s late
    core.DelayTick();
    EXPECT_FALSE(core.State().PttOn);
    // A tick before the hang has passed counts what has passed, in 100 ms steps.
    Level(9);
    Pass(750ms);
    core.DelayTick();
    EXPECT_TRUE(core.State().Hanging);
    EXPECT_EQ(core.State().HangCounter, 700);
}

TEST_F(Core, SignalBackDuringTheHangStartsItAgain)
{
    core.Apply({5, 300, 0});
    Level(9);
    Pass(200ms);
    core.DelayTick();
    Level(9);
    EXPECT_EQ(core.State().HangCounter, 0);
    EXPECT_EQ(output->Calls, QStringList({"on", "on"}));
    EXPECT_EQ(HangUntilRelease(), 400ms);
}

TEST_F(Core, MuteReleasesAtOnceAndTheRunningHangStillEnds)
{
    core.Apply({5, 200, 0});
    Level(9);
    core.ToggleMute();
    EXPECT_EQ(output->Calls, QStringList({"on", "off"}));
    EXPECT_EQ(core.State().Icon, TStateIcon::Mute);
    Level(9);
    EXPECT_EQ(output->Calls.size(), 2) << "muted: no keying";
    Pass(100ms);
    core.DelayTick();
    EXPECT_EQ(core.State().Icon, TStateIcon::On) << "the hang shows ON at its steps";
    Pass(200ms);
    core.DelayTick();
    EXPECT_EQ(core.State().Icon, TStateIcon::Idle);
    EXPECT_EQ(output->Calls, QStringList({"on", "off", "off"}));
}

TEST_F(Core, TuneHoldsPttAndEndsAHangWithoutReleasing)
{
    core.Apply({5, 500, 0});
    Level(9);
    core.ToggleTune();
    Level(9);
    Pass(100ms);
    core.DelayTick();
    EXPECT_FALSE(core.State().Hanging);
    EXPECT_EQ(core.State().Icon, TStateIcon::Idle);
    EXPECT_EQ(output->Calls, QStringList({"on", "on"})) << "Tune holds PTT; the tick does not key";
    core.ToggleTune();
    Level(9);
    EXPECT_EQ(output->Calls, QStringList({"on", "on", "off", "on"}));
    core.ToggleTune();
    core.ToggleMute();
    EXPECT_FALSE(core.State().Tune) << "Mute ends Tune";
}

TEST_F(Core, TimeOutReleasesOnTheClockAndWaitsForAQuietTick)
{
    core.Apply({5, 5000, 10});
    for (int i = 0; i < 9; ++i) {
        Level(9);
        Pass(1s);
        core.TimeoutTick(); // early ticks change nothing
    }
    EXPECT_TRUE(core.State().PttOn);
    Pass(30s);
    core.TimeoutTick();
    EXPECT_TRUE(core.State().TimedOut);
    EXPECT_EQ(core.State().Icon, TStateIcon::TimeOut);
    Level(9);
    core.KeyByBlock();
    EXPECT_FALSE(core.State().PttOn) << "no keying until a quiet hang";
    Level(0);
    Level(9);
    EXPECT_FALSE(core.State().PttOn) << "one quiet frame ended the lock-out";
    Level(0);
    Pass(5100ms);
    Level(0);
    Level(9);
    EXPECT_TRUE(core.State().PttOn);

    // Set while Tune has been on for 2 s: the transmission is over its limit.
    core.ToggleTune();
    core.Apply({5, 5000, 0});
    Pass(2s);
    core.Apply({5, 5000, 1});
    core.TimeoutTick();
    EXPECT_FALSE(core.State().Tune) << "a time-out set during a transmission did not end it";
}

TEST_F(Core, BlockKeyingSendsPttNoMoreOftenThanTheRenderTick)
{
    core.Apply({5, 0, 0});
    for (int block = 0; block < 200; ++block) { // one second of 5 ms blocks
        core.KeyByBlock();
        Pass(5ms);
        core.DelayTick();
    }
    EXPECT_TRUE(core.State().PttOn) << "each block restarts the hang";
    EXPECT_LE(output->Calls.size(), 31);
    EXPECT_GE(output->Calls.size(), 29);
}

TEST_F(Core, NothingKeysAfterTheShutdownsRelease)
{
    Level(5);
    core.Shutdown(0ms, true);
    ASSERT_EQ(output->Calls.last(), "off");
    core.KeyByBlock(); // a block queued by the capture before it stopped
    Level(9);
    core.ToggleTune();
    core.TestPtt(output, true);
    EXPECT_EQ(output->Calls.last(), "off");
    EXPECT_FALSE(output->Keyed);
}

TEST_F(Core, RelayedSoundStillOnItsWayHoldsTheHang)
{
    playedOut = now + 250ms;
    UseRelay();
    core.Apply({5, 0, 0});
    Level(9);
    Pass(300ms);
    core.DelayTick();
    EXPECT_TRUE(core.State().PttOn) << "played out 50 ms ago";
    Pass(50ms);
    core.DelayTick();
    EXPECT_FALSE(core.State().PttOn);
}

// Every release shuts the relay's gate first and lowers PTT only once what
// went out has played; a relay that cannot deliver keys nothing.
TEST_F(Core, ARelayedTransmissionEndsWithItsSoundAndNoneKeysWithoutIt)
{
    probe = 20ms, queued = 30ms;
    UseRelay();
    core.Apply({5, 0, 5});
    Level(9);
    EXPECT_TRUE(output->Calls.isEmpty()) << "PTT rose with the relay's probe on its way";
    Pass(20ms);
    core.DrainTick();
    EXPECT_EQ(output->Calls.last(), "on");
    probe = 0ms;
    const std::vector<std::pair<const char *, std::function<void()>>> releases = {
        {"hang", [&] { HangUntilRelease(); }},
        {"time-out", [&] { Pass(5s); core.TimeoutTick(); }},
        {"Mute", [&] { core.ToggleMute(); }},
    };
    for (const auto &[name, release] : releases) {
        Level(9);
        ASSERT_TRUE(gate) << name;
        release();
        EXPECT_FALSE(gate) << name;
        EXPECT_EQ(output->Calls.last(), "on") << name << ": PTT fell with relayed sound still to play";
        EXPECT_FALSE(core.State().ReleaseOwed) << name;
        Pass(30ms);
        core.DrainTick();
        EXPECT_EQ(output->Calls.last(), "off") << name;
        if (core.State().Muted)
            core.ToggleMute();
        for (int quiet = 0; quiet < 2 && core.State().TimedOut; ++quiet, Pass(100ms))
            Level(0);
    }
    // Tune off with a latency figure gone wild: PTT falls after RelayWait.
    core.ToggleTune();
    queued = 1h;
    core.ToggleTune();
    Pass(TKeyingCore::RelayWait);
    core.DrainTick();
    EXPECT_EQ(output->Calls.last(), "off") << "a stalled relay held PTT";
    queued = 0ms;

    ready = false;
    Level(9);
    core.KeyByBlock();
    EXPECT_FALSE(core.State().PttOn) << "keyed without relayed sound";
    EXPECT_TRUE(core.State().RelayDown);
    ready = true;
    Level(9);
    EXPECT_TRUE(core.State().PttOn);
    ready = false;
    core.KeyByBlock();
    EXPECT_FALSE(core.State().PttOn) << "a transmission went on without its sound";
    core.ToggleTune();
    EXPECT_TRUE(core.State().PttOn) << "Tune is the operator's own carrier";
}

TEST_F(Core, FailuresAreReportedOnceAndNothingKeyedShowsIdle)
{
    UseRelay();
    core.Apply({5, 0, 1});
    output->RefuseOn = true;
    output->KeysNothing = true;
    core.ToggleTune();
    Level(9);
    EXPECT_FALSE(gate) << "sound relayed with nothing keyed";
    Pass(2s);
    core.TimeoutTick();
    EXPECT_FALSE(core.State().TimedOut) << "a time-out of a transmission that never was";
    EXPECT_EQ(reports, QStringList({"refused"})) << "a persisting failure is reported once";
    EXPECT_FALSE(core.State().PttOn);
    EXPECT_FALSE(core.State().Tune);
    EXPECT_FALSE(core.State().ReleaseOwed);
    EXPECT_EQ(core.State().Icon, TStateIcon::Idle);
}

TEST_F(Core, ARefusedReleaseIsOwedAndRetriedUntilItGetsThrough)
{
    QStringList traced;
    QObject::connect(&core, &TKeyingCore::Trace, [&](const QString &line) { traced << line; });
    output->RefuseOff = true;
    Level(9);
    core.ToggleMute();
    EXPECT_TRUE(core.State().ReleaseOwed);
    core.ReleaseRetryTick();
    core.ReleaseRetryTick();
    EXPECT_EQ(traced, QStringList({"PTT release of rec not confirmed"}));
    output->RefuseOff = false;
    core.ReleaseRetryTick();
    EXPECT_FALSE(core.State().ReleaseOwed);
    EXPECT_EQ(output->Calls.last(), "off");
}

TEST_F(Core, AnOutputWhoseDeviceWentIsDroppedAndNothingShowsKeyed)
{
    int lost = 0;
    QObject::connect(&core, &TKeyingCore::OutputLost, [&] { ++lost; });
    Level(9);
    output->DeviceGone = true;
    output->RefuseOn = true;
    Level(9);
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(core.State().PttOn);
    EXPECT_FALSE(core.State().Hanging);
}

// A test keys beside PTT: no retry releases it, its limit and any PTT command
// do, and it is refused while PTT is on.
TEST_F(Core, APttTestEndsByItselfAndGivesWayToTransmitting)
{
    QStringList tested;
    QObject::connect(&core, &TKeyingCore::PttTested, [&](bool keyed, const QString &words) { tested << QString::number(keyed) + words; });
    const auto other = std::make_shared<TRecordingOutput>();
    core.TestPtt(other, true);
    Pass(4999ms);
    core.TimeoutTick();
    core.ReleaseRetryTick();
    EXPECT_TRUE(other->Keyed);
    EXPECT_FALSE(core.State().ReleaseOwed);
    Pass(1ms);
    core.TimeoutTick();
    core.TestPtt(other, false); // let go after the limit
    core.TestPtt(other, true);
    Level(9);
    EXPECT_FALSE(other->Keyed);
    core.TestPtt(other, true);
    EXPECT_EQ(other->Calls, QStringList({"on", "off", "on", "off"}));
    EXPECT_EQ(tested, QStringList({"1", "0released after 5 s, a test's limit", "1", "0", "0transmitting: test not possible now"}));
}
