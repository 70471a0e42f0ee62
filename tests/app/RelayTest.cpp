// The audio relay against the tests' sound server: a burst played into
// "KOTARPlus TX" is recorded from its monitor and relayed to an output of its
// own, whose monitor a low-latency recorder listens to; PTT is a serial port's
// DTR under the preloaded linesim line driver, whose log carries the times.
#include "FormPlayerFixture.h"
#include "LineSimPort.h"
#include "SinkMonitor.h"
#include "SpawnedProcess.h"

#include "app/OptionsDialog.h"
#include "audio/PulseServer.h"
#include "audio/Relay.h"
#include "audio/bass.h"
#include "support/LEDButton.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QThread>
#include <algorithm>
#include <functional>
#include <memory>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

namespace {

QString Tool(const QString &program, const QStringList &arguments)
{
    TSpawnedProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString() << " failed";
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

// Handles events meanwhile: the capture thread keys through the event loop.
bool Pump(const std::function<bool()> &condition, int timeoutMs)
{
    return PumpUntil(condition, std::chrono::milliseconds(timeoutMs));
}

// A null sink for the relay to play into, there for the object's life.
class TOutput {
public:
    explicit TOutput(const QString &name)
        : FModule(Tool("pactl", {"load-module", "module-null-sink", "sink_name=" + name, "rate=44100"}))
    {
    }
    ~TOutput() { Tool("pactl", {"unload-module", FModule}); }

private:
    QString FModule;
};

// 1 kHz at -6 dBFS (level 19, squelch 5) for 400 ms (or `seconds`) after 300 ms of silence.
QString Burst(const QTemporaryDir &dir, double seconds = 0.4)
{
    const QString file = dir.filePath("burst.wav");
    Tool("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", file, "synth", QString::number(seconds), "sine",
                 "1000", "gain", "-6", "pad", "0.3", "0"});
    return file;
}

// With `heard`, the window's thread (this one) is held up for 30 ms once that
// recorder hears the sound, as a busy desktop would: PTT then rises late.
void PlayIntoTx(const QString &file, const TSinkMonitor *heard = nullptr)
{
    TSpawnedProcess player;
    player.start("paplay", {"-d", "kotarplus_tx", file});
    if (heard) {
        const double deadline = MonotonicSeconds() + 10;
        while (heard->First() == 0 && MonotonicSeconds() < deadline)
            QThread::msleep(1);
        QThread::msleep(30);
    }
    EXPECT_TRUE(Pump([&] { return player.state() == QProcess::NotRunning; }, 30000));
}

QString Ini(const QString &port, const QString &relay, int lead = 60)
{
    return "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + port + "\nGAIN=5\nDELAY=0\nTRACE=YES\nDEVICENAME=kotarplus_tx.monitor\n"
           + "RELAY=" + relay + "\nLEAD=" + QString::number(lead) + "\n";
}

struct TDtr {
    double time;
    bool on;
};
// DTR's changes from the driver's log, CLOCK_MONOTONIC.
std::vector<TDtr> DtrChanges()
{
    QFile log(qEnvironmentVariable("LINESIM_LOG"));
    std::vector<TDtr> changes;
    if (!log.open(QIODevice::ReadOnly))
        return changes;
    for (const QString &text : QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = text.split(' ');
        if (fields.size() == 3 && fields[1] == "DTR")
            changes.push_back({fields[0].toDouble(), fields[2] == "1"});
    }
    return changes;
}

bool Reported(const StartedForm &started, const QString &text)
{
    for (const QString &error : started.dialogs.errors)
        if (error.contains(text))
            return true;
    return false;
}

bool Traced(const StartedForm &started, const QString &text)
{
    for (const QString &line : started.Trace())
        if (line.contains(text))
            return true;
    return false;
}

// Plays the burst into "KOTARPlus TX" until the keying and the release it
// causes (PTT late, see PlayIntoTx, with `heard`); DTR's changes since it began to play.
std::vector<TDtr> KeyedAndReleasedBy(const QString &burst, const TSinkMonitor *heard = nullptr)
{
    const size_t before = DtrChanges().size();
    PlayIntoTx(burst, heard);
    EXPECT_TRUE(Pump(
        [&] {
            const auto changes = DtrChanges();
            return changes.size() >= before + 2 && !changes.back().on;
        },
        10000))
        << "not keyed and released";
    std::vector<TDtr> changes = DtrChanges();
    changes.erase(changes.begin(), changes.begin() + std::ptrdiff_t(std::min(before, changes.size())));
    return changes;
}

// A relay into a null sink of its own, with PTT on a line of the driver and a
// recorder on the output's monitor; Ready once the relay has started and the
// recorder and the capture have settled.
struct TRelayRun {
    TRelayRun(const QString &name, int lead)
        : Output(name), Started(Ini(Line.Device(), name, lead)), Monitor((name + ".monitor").toStdString())
    {
        Ready = Pump([&] { return Traced(Started, "Relay output (" + name + ") checked: no echo loop; relaying"); },
                     10000);
        Pump([] { return false; }, 1000);
    }

    TOutput Output;
    TLineSimPort Line;
    StartedForm Started;
    TSinkMonitor Monitor;
    bool Ready = false;
};

} // namespace

TEST(Relay, PttIsUpBeforeTheFirstRelayedSampleAndMuteRelaysOnlySilence)
{
    // A lead longer than the shortest hang (100 ms): PTT must wait for the
    // sound still in the delay.
    TRelayRun run("kotar_relay_out", 250);
    ASSERT_TRUE(run.Ready);
    StartedForm &started = run.Started;
    TSinkMonitor &monitor = run.Monitor;
    EXPECT_TRUE(started.dialogs.errors.isEmpty()) << started.dialogs.errors.join('\n').toStdString();
    TSinkMonitor original("kotarplus_tx.monitor");
    // Frame counters that never overrun.
    TSinkMonitor playedIn("kotarplus_tx.monitor", 40), relayed("kotar_relay_out.monitor", 40);
    QTemporaryDir dir;
    const QString burst = Burst(dir);
    Pump([] { return false; }, 1000);

    for (TSinkMonitor *armed : {&monitor, &original, &playedIn, &relayed})
        armed->Arm();
    const auto changes = KeyedAndReleasedBy(burst, &original);
    ASSERT_GE(changes.size(), 2u);
    ASSERT_GT(monitor.First(), 0) << "nothing reached the relay output";
    // PTT rose 30 ms late, so the head had gone to the output as silence and
    // must have been put back. Counted in samples, so that no reader's timing
    // comes in.
    const auto whole = [&] { return relayed.LoudFrames() >= playedIn.LoudFrames() - 44; };
    EXPECT_TRUE(Pump(whole, 1000)) << "the head of the sound was lost: " << relayed.LoudFrames() << " of "
                                   << playedIn.LoudFrames() << " loud frames relayed";
    // The burst rises from a zero crossing (one sample of 1 kHz: 0.07); a
    // head cut in mid-wave starts with a step of up to its amplitude (0.5).
    EXPECT_LT(relayed.Onset(), 0.1) << "the relayed sound starts with a step";
    EXPECT_TRUE(changes.front().on);
    EXPECT_LT(changes.front().time, monitor.First()) << "the sound reached the output before PTT was up";
    EXPECT_GT(changes.back().time, monitor.Last()) << "PTT went down before the sound had played out";

    started.form->LEDMuteButtonClick();
    ASSERT_TRUE(started.form->LEDMuteButton->LEDOn());
    monitor.Arm();
    const size_t muted = DtrChanges().size();
    PlayIntoTx(burst);
    Pump([] { return false; }, 300);
    EXPECT_EQ(monitor.First(), 0) << "sound was relayed while muted";
    for (size_t i = muted; i < DtrChanges().size(); ++i)
        EXPECT_FALSE(DtrChanges()[i].on) << "keyed while muted";
}

TEST(Relay, AHangCountsFromTheSoundPlayedOutAlsoWithALeadShorterThanOnePeriod)
{
    // DELAY=0: a hang of 100 ms, longer than the lead.
    TRelayRun run("kotar_relay_short", 90);
    ASSERT_TRUE(run.Ready);
    TSinkMonitor &monitor = run.Monitor;
    QTemporaryDir dir;
    const QString burst = Burst(dir);

    monitor.Arm();
    const auto changes = KeyedAndReleasedBy(burst);
    ASSERT_GE(changes.size(), 2u);
    ASSERT_GT(monitor.Last(), 0) << "nothing reached the relay output";
    // Counted from the last loud block's keying instead, the hang ends 10 ms
    // after the sound has played out.
    EXPECT_GT(changes.back().time, monitor.Last() + 0.05) << "the hang was cut short by the lead";
}

TEST(Relay, MuteEndsTheHangAndTheRelayedSoundWhileTheSoundGoesOn)
{
    TRelayRun run("kotar_relay_mute", 250);
    ASSERT_TRUE(run.Ready);
    StartedForm &started = run.Started;
    TSinkMonitor &monitor = run.Monitor;
    QTemporaryDir dir;
    const QString burst = Burst(dir, 4);

    const size_t before = DtrChanges().size();
    TSpawnedProcess player;
    player.start("paplay", {"-d", "kotarplus_tx", burst});
    ASSERT_TRUE(Pump([&] { return DtrChanges().size() > before && DtrChanges().back().on; }, 10000)) << "not keyed";
    // Until the sound that was in the delay when PTT rose is relayed.
    Pump([] { return false; }, 400);
    monitor.Arm();
    started.form->LEDMuteButtonClick();
    // Released now, nothing is relayed: the hang must not wait for sound that
    // goes on arriving, showing the transmitter keyed while muted.
    Pump([&] { return !started.form->KeyingState.Hanging || player.state() == QProcess::NotRunning; }, 10000);
    EXPECT_FALSE(started.form->KeyingState.Hanging);
    EXPECT_EQ(player.state(), QProcess::Running) << "the hang went on as long as the sound";
    EXPECT_NE(started.form->windowIcon().cacheKey(), started.form->IconON.cacheKey());
    // What had gone to the output played before PTT fell (the recorder hears
    // it a graph cycle or two later); without the wait, 100 ms more.
    Pump([] { return false; }, 500);
    const std::vector<TDtr> changes = DtrChanges();
    ASSERT_FALSE(changes.back().on);
    ASSERT_GT(monitor.Last(), 0) << "nothing was relayed";
    EXPECT_LT(monitor.Last(), changes.back().time + 0.03) << "sound was relayed after PTT fell";
    player.kill();
    player.waitForFinished();
}

TEST(Relay, AMissingOrVanishingOutputIsReportedAndTheRelayResumesWhenItComes)
{
    TLineSimPort line;
    StartedForm started(Ini(line.Device(), "kotar_relay_late"));
    const QString missing = "Relay output (kotar_relay_late) not found";
    ASSERT_TRUE(Pump([&] { return Reported(started, missing); }, 10000));
    EXPECT_TRUE(Traced(started, missing));
    // The retries while it is away stay silent.
    Pump([] { return false; }, 2500);
    EXPECT_EQ(started.dialogs.errors.size(), 1) << started.dialogs.errors.join('\n').toStdString();

    auto output = std::make_unique<TOutput>("kotar_relay_late");
    ASSERT_TRUE(Pump([&] { return Traced(started, "Relay output (kotar_relay_late) back: relay resumed"); }, 10000));
    TSinkMonitor monitor("kotar_relay_late.monitor");
    QTemporaryDir dir;
    const QString burst = Burst(dir);
    // A null sink just loaded may first render one long block (up to 2 s)
    // before the relay's latency takes hold: bursts until one passes.
    bool relayed = false;
    for (int i = 0; i < 5 && !relayed; ++i) {
        monitor.Arm();
        PlayIntoTx(burst);
        relayed = Pump([&] { return monitor.First() > 0; }, 1000);
    }
    EXPECT_TRUE(relayed) << "nothing relayed after the output returned";

    output.reset();
    EXPECT_TRUE(Pump([&] { return Reported(started, "Relay output (kotar_relay_late) gone"); }, 10000))
        << started.dialogs.errors.join('\n').toStdString();
}

TEST(Relay, AnOutputChosenInOptionsRelaysAtOnceAndNoneEndsIt)
{
    TOutput output("kotar_relay_opt");
    TLineSimPort line;
    StartedForm started(Ini(line.Device(), ""));
    const auto choose = [&](const QString &relay) {
        QTimer::singleShot(0, started.form.get(), [relay] {
            auto *dialog = dynamic_cast<TOptionsDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->RelayBox->setCurrentIndex(dialog->RelayBox->findData(relay));
            dialog->accept();
        });
        started.form->OptionsClick();
    };
    // The relay's streams playing into the output.
    const auto streams = [] {
        const QString sink =
            Tool("pactl", {"list", "short", "sinks"}).split('\n').filter("kotar_relay_opt").value(0).section('\t', 0, 0);
        return Tool("pactl", {"list", "short", "sink-inputs"}).split('\n').filter(QRegularExpression("^\\d+\t" + sink + "\t")).size();
    };
    choose("kotar_relay_opt");
    EXPECT_EQ(started.form->RelayOutput, "kotar_relay_opt");
    EXPECT_TRUE(Traced(started, "Relay to (kotar_relay_opt) LEAD(60 ms)")) << "the relay waits for a restart";
    ASSERT_TRUE(Pump([&] { return streams() == 1; }, 5000));
    {
        // Started again, and ended, before the server has made its streams
        // (its thread is held): each is let go of when it comes.
        const std::shared_ptr<TPulseServer> server = SoundServerConnection();
        TPulseServer::TLock hold(*server);
        TRelay relay(server, {[](const std::string &) {}, [](const std::string &) {}});
        relay.Start("kotar_relay_opt", 60, "");
        relay.Start("kotar_relay_opt", 60, "");
    }
    choose(QString());
    EXPECT_TRUE(Pump([&] { return streams() == 0; }, 5000)) << "a relay stream plays on";
}

// Sound reaches the recorded line-in from the test sink through its monitor, a
// loopback, the drain's monitor and a remap: that output is refused and not
// offered, and so is one that a loopback made while it plays turns into a loop.
TEST(Relay, AnOutputWhoseSoundReachesTheRecordingIsRefusedAndNotOffered)
{
    TLineSimPort line;
    StartedForm started(QString(Ini(line.Device(), "kotar_sink")).replace("kotarplus_tx.monitor", "kotar_line"));
    EXPECT_TRUE(Pump([&] { return Reported(started, "Relay output (kotar_sink) refused: its sound reaches the "
                                                    "recorded device (kotar_sink.monitor -> kotar_drain -> "
                                                    "kotar_drain.monitor -> kotar_line)"); }, 10000))
        << started.dialogs.errors.join('\n').toStdString();
    QTimer::singleShot(0, started.form.get(), [] {
        auto *dialog = dynamic_cast<TOptionsDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->RelayBox->currentText().endsWith("(refused: its sound reaches the recording)"));
        EXPECT_LT(dialog->RelayBox->findData("kotar_drain"), 0) << "a loop offered";
        dialog->RelayBox->setCurrentIndex(dialog->RelayBox->findData("kotarplus_tx"));
        dialog->accept();
    });
    started.form->OptionsClick();
    ASSERT_EQ(started.form->RelayOutput, "kotarplus_tx");
    const QString loopback = Tool("pactl", {"load-module", "module-loopback", "source=kotarplus_tx.monitor",
                                            "sink=kotar_sink", "latency_msec=20"});
    EXPECT_TRUE(Pump([&] { return Reported(started, "Relay output (kotarplus_tx) refused"); }, 10000));
    Tool("pactl", {"unload-module", loopback});
}


// A loopback from the test's output to "KOTARPlus TX" whose recording stream
// was moved there after it was loaded, so that the server's module list does
// not show it: each burst relayed would come back and key again, for ever.
// The probe finds it while nothing is sent, before any sound keys; the VOX
// keys nothing until the loop is gone, then relays again.
TEST(Relay, AnEchoLoopTheServerDoesNotShowKeysNothingUntilItIsGone)
{
    TRelayRun run("kotar_relay_echo", 60);
    ASSERT_TRUE(run.Ready);
    const QString module = Tool("pactl", {"load-module", "module-loopback", "source=kotar_line",
                                          "sink=kotarplus_tx", "latency_msec=20"});
    const QString stream = Tool("pactl", {"list", "source-outputs"})
                               .section("Owner Module: " + module + "\n", 0, 0)
                               .section("Source Output #", -1)
                               .section('\n', 0, 0);
    QTemporaryDir dir;
    const QString burst = Burst(dir, 0.06);
    // The session manager may route the moved stream back: moved again when
    // it is not in place (a move relinks it), while the loop must be there.
    const auto looped = [&] {
        const QString monitor = Tool("pactl", {"list", "short", "sources"}).split('\n').filter("kotar_relay_echo.monitor").value(0);
        if (Tool("pactl", {"list", "short", "source-outputs"}).contains(QRegularExpression(
                "^" + stream + "\t" + monitor.section('\t', 0, 0) + "\t", QRegularExpression::MultilineOption)))
            return true;
        Tool("pactl", {"move-source-output", stream, "kotar_relay_echo.monitor"});
        return false;
    };
    ASSERT_TRUE(Pump(looped, 10000)) << "the loop could not be made";
    const QString found = "Relay output (kotar_relay_echo) stopped: its sound comes back";
    ASSERT_TRUE(Pump([&] { return looped() && Reported(run.Started, found); }, 10000)) << "the loop was not found";
    EXPECT_TRUE(Pump([&] { return run.Started.form->KeyingState.RelayDown; }, 1000)) << "the view was not told";
    const size_t before = DtrChanges().size();
    run.Monitor.Arm();
    TSpawnedProcess player;
    player.start("paplay", {"-d", "kotarplus_tx", burst});
    Pump([&] { return looped() && player.state() == QProcess::NotRunning; }, 10000);
    Pump([&] { return !looped() && false; }, 500);
    EXPECT_EQ(DtrChanges().size(), before) << "keyed with the relay looping";
    EXPECT_EQ(run.Monitor.First(), 0) << "sound relayed into the loop";

    Tool("pactl", {"unload-module", module});
    ASSERT_TRUE(Pump([&] { return Traced(run.Started, "Relay output (kotar_relay_echo): the echo loop is gone"); },
                     10000));
    const auto changes = KeyedAndReleasedBy(burst);
    EXPECT_GE(changes.size(), 2u) << "the relay did not come back";
    EXPECT_EQ(run.Started.dialogs.errors.filter(found).size(), 1) << "a loop reported more than once";
}

// Closing the window (as SIGTERM does) while relayed sound is queued at the
// output: it falls silent as PTT falls, not up to LEAD later.
TEST(Relay, AtTheProgramsEndTheRelayedSoundEndsWithPtt)
{
    TRelayRun run("kotar_relay_end", 250);
    ASSERT_TRUE(run.Ready);
    QTemporaryDir dir;
    TSpawnedProcess player;
    player.start("paplay", {"-d", "kotarplus_tx", Burst(dir, 4)});
    run.Monitor.Arm();
    ASSERT_TRUE(Pump([&] { return run.Monitor.First() > 0; }, 10000)) << "nothing relayed";
    Pump([] { return false; }, 300);
    run.Started.form->close();
    Pump([] { return false; }, 500);
    const auto changes = DtrChanges();
    ASSERT_FALSE(changes.back().on);
    // Give or take a cycle of the server's graph (PipeWire: 5.3 ms) and the
    // recorder's; without the hush the 250 ms queued played on.
    EXPECT_LT(run.Monitor.Last(), changes.back().time + 0.015) << "relayed sound went on after PTT fell";
}

// A name taken by a source is reported once, however often the sink is asked
// for, and no sink is made under another name; once the name is free the
// sink is made, at 48 kHz.
TEST(Relay, TheTxSinkIsMadeAt48kHzAndANameClashIsReportedOnce)
{
    for (const QString &module : Tool("pactl", {"list", "short", "modules"}).split('\n'))
        if (module.contains("sink_name=kotarplus_tx"))
            Tool("pactl", {"unload-module", module.section('\t', 0, 0)});
    const QString clash = Tool("pactl", {"load-module", "module-remap-source", "source_name=kotarplus_tx",
                                         "master=kotar_sink.monitor"});
    TOutput output("kotar_relay_clash");
    TLineSimPort line;
    StartedForm started(Ini(line.Device(), "kotar_relay_clash"));
    const QString report = "Sink kotarplus_tx (KOTARPlus TX) not loaded: a source of that name is there";
    ASSERT_TRUE(Pump([&] { return Reported(started, report); }, 10000));
    for (int i = 0; i < 3; ++i)
        started.form->CaptureChannel = started.form->SetupBASS(started.form->CurrentDevice);
    Pump([] { return false; }, 1000);
    EXPECT_EQ(started.dialogs.errors.filter(report).size(), 1);
    EXPECT_FALSE(Tool("pactl", {"list", "short", "sinks"}).contains("kotarplus_tx"));
    {
        // The sink is asked for before this program has heard that the source
        // has gone (its thread is held).
        TPulseServer::TLock hold(*SoundServerConnection());
        Tool("pactl", {"unload-module", clash});
        started.form->CaptureChannel = started.form->SetupBASS(started.form->CurrentDevice);
    }
    ASSERT_TRUE(Pump([] { return Tool("pactl", {"list", "short", "sinks"}).contains("kotarplus_tx"); }, 10000));
    const QString sinks = Tool("pactl", {"list", "short", "sinks"});
    EXPECT_TRUE(sinks.section("kotarplus_tx\t", 1).section('\n', 0, 0).contains("48000Hz")) << sinks.toStdString();
}
