#include "AudioTestSupport.h"
#include "TestSupport.h"
#include "app/KOTARUnit.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include "support/TrackBar.h"
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace AudioTest;

// This program has a PulseAudio server of its own (KOTAR_PULSE_DIR): it adds
// devices to it, and in the end kills it. The tests run in this order.

namespace {
// A form on the private server, keying nowhere, its PTT commands recorded.
struct TVoxRun {
    explicit TVoxRun(const QByteArray &settings)
    {
        WriteBytes(Dir.file("KOTARPlus.INI"),
                   "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-port\nGAIN=5\n" + settings);
        AwaitSoundServerAnswer();
        Form = std::make_unique<TFormPlayer>(QStringList());
        Form->Terminate = [] {};
        Form->Keying->Core().OnTxRig = [this](bool on) { Ptt.push_back(on); };
    }
    bool Keyed() const { return !Ptt.empty() && Ptt.back(); }
    QString Trace() const { return TraceMessages(Dir.file("KOTARPlus.Log")).join('\n'); }

    TemporaryWorkDir Dir;
    RecordedDialogs Dialogs;
    QTemporaryDir Sounds;
    const QString Tone = MakeTone(Sounds.path(), -6, 30);
    std::unique_ptr<TFormPlayer> Form;
    std::vector<bool> Ptt;
};

// (Re)starts the private server in KOTAR_PULSE_DIR with the fixture's script.
bool StartServer()
{
    return TSpawnedProcess::execute(qEnvironmentVariable("KOTAR_PULSE_FIXTURE"),
                                    {"start", qEnvironmentVariable("KOTAR_PULSE_DIR")})
           == 0;
}
} // namespace

// A program started before the server connects once it is there and opens the
// configured source: the one DEVICENAME names, else the number's. First, so that
// the first row runs in a library that never had a connection to lose.
TEST(ServerAbsentAtStart, TheConfiguredSourceKeysOnceTheServerIsThere)
{
    for (const auto &[settings, source] : {std::pair{"DEVICE=0\nDEVICENAME=kotar_line\n", "kotar_line"},
                                           std::pair{"DEVICE=-1\n", "kotar_mic"}}) {
        SCOPED_TRACE(source);
        ASSERT_EQ(TSpawnedProcess::execute(qEnvironmentVariable("KOTAR_PULSE_FIXTURE"),
                                           {"stop", qEnvironmentVariable("KOTAR_PULSE_DIR")}),
                  0);
        // The loss of the row before's connection is told before this run.
        ASSERT_TRUE(WaitFor([] { return RecordState(0) == rsNoServer; }));
        QCoreApplication::processEvents();
        TVoxRun run(QByteArray("DELAY=0\n") + settings);
        TFormPlayer &form = *run.Form;
        EXPECT_TRUE(run.Trace().contains("No sound server ("));
        EXPECT_EQ(form.CaptureStatus().State, rsNoServer);

        ASSERT_TRUE(StartServer());
        EXPECT_TRUE(WaitFor([&] { return form.CaptureStatus().State == rsRunning; }, std::chrono::seconds(10)));
        EXPECT_TRUE(run.Trace().contains("Sound server connection back"));
        EXPECT_FALSE(run.Trace().contains("Sound server connection lost"));
        EXPECT_EQ(form.CaptureStatus().Device, source);
        auto player = StartPlaying(run.Tone);
        EXPECT_TRUE(WaitFor([&] { return run.Keyed(); })) << "a tone keys";
        player->kill();
        player->waitForFinished();
        EXPECT_EQ(ClientRecordStreams(), 1);
        form.close();
        run.Form.reset();
        BASS_Free();
    }
}

TEST(ManyRecordingDevices, OnlyTheFirst33AreListed)
{
    const qsizetype present = RecordDeviceNames().size();
    QStringList modules;
    for (int i = 0; i < 40; ++i)
        modules << Pactl({"load-module", "module-remap-source", "source_name=extra" + QString::number(i),
                          "master=kotar_sink.monitor"})
                       .trimmed();
    ASSERT_TRUE(WaitFor([&] { return RecordDeviceNames().size() == present + 40; })) << RecordDeviceNames().size();

    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-port\n");
    {
        TFormPlayer form{QStringList()};
        form.Terminate = [] {};
        ASSERT_EQ(form.ComboSoundCard->count(), 33);
        const QStringList trace = TraceMessages(dir.file("KOTARPlus.Log"));
        EXPECT_TRUE(trace.join('\n').contains("\nDevice(32) rc(TRUE)"));
        EXPECT_FALSE(trace.join('\n').contains("Device(33)"));

        form.ComboSoundCard->setCurrentIndex(32);
        emit form.ComboSoundCard->activated(32);
        EXPECT_EQ(form.CurrentDevice, 32);
        EXPECT_EQ(BASS_ChannelIsActive(form.CaptureChannel), BASS_ACTIVE_PLAYING);
        const QStringList change = TraceMessages(dir.file("KOTARPlus.Log")).mid(trace.size());
        EXPECT_EQ(change.filter("ComboSoundCardChange: ComboList[").size(), 33);
        EXPECT_EQ(change.filter("ComboSoundCardChange: SoundDevice(").size(), 33);
        form.close();
    }
    BASS_Free();
    for (const QString &module : modules)
        Pactl({"unload-module", module});
}

// "CM108" keys the GPIO of the card being captured from: the source's card as
// the server describes it.
TEST(RecordDeviceCard, TheCapturedSourcesCardIsFound)
{
    const QString card = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/sound/card7";
    const qsizetype present = RecordDeviceNames().size();
    const QString module = Pactl({"load-module", "module-remap-source", "source_name=kotar_usbcard",
                                  "master=kotar_sink.monitor", "source_properties=sysfs.path=" + card})
                               .trimmed();
    ASSERT_TRUE(WaitFor([&] { return RecordDeviceNames().size() == present + 1; }));
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=NONE\nDEVICE=0\nDEVICENAME=kotar_usbcard\n");
    {
        TFormPlayer form{QStringList()};
        form.Terminate = [] {};
        EXPECT_EQ(form.CaptureSoundCard(), card);
        form.close();
    }
    BASS_Free();
    Pactl({"unload-module", module});
}

pid_t ServerPid()
{
    QFile pidFile(qEnvironmentVariable("KOTAR_PULSE_DIR") + "/pulse.pid");
    return pidFile.open(QIODevice::ReadOnly) ? pid_t(pidFile.readAll().trimmed().toInt()) : 0;
}

// The monitor of a sink of its own, chosen by name: it keys when a program
// plays into the sink, and the sink is unloaded and loaded again while keyed.
TEST(HotPlug, AMonitorKeysGoesAndComesBackUnderItsName)
{
    const QString load = "sink_name=kotar_hot";
    QString module = Pactl({"load-module", "module-null-sink", load}).trimmed();
    // Listed after it, so that its number names this one once it has gone.
    const QString after = Pactl({"load-module", "module-null-sink", "sink_name=kotar_after"}).trimmed();
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    QTemporaryDir sounds;
    const QString tone = MakeTone(sounds.path(), -6, 30);
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-port\nGAIN=5\n"
                                         "DELAY=0\nDEVICE=0\nDEVICENAME=kotar_hot.monitor\n");
    ASSERT_TRUE(WaitFor([] { return Listed("kotar_hot.monitor") && Listed("kotar_after.monitor"); }));
    TFormPlayer form{QStringList()};
    form.Terminate = [] {};
    std::vector<bool> ptt;
    form.Keying->Core().OnTxRig = [&](bool on) { ptt.push_back(on); };
    const auto trace = [&] { return TraceMessages(dir.file("KOTARPlus.Log")).join('\n'); };
    // Found by its name, not by the number, and shown in the box.
    EXPECT_GT(form.CurrentDevice, 0);
    EXPECT_EQ(form.ComboSoundCard->currentData().toString(), "kotar_hot.monitor");
    const HRECORD handle = form.CaptureChannel;
    ASSERT_EQ(BASS_ChannelIsActive(handle), BASS_ACTIVE_PLAYING);

    auto player = StartPlaying(tone, "kotar_hot");
    ASSERT_TRUE(WaitFor([&] { return !ptt.empty() && ptt.back(); })) << "the monitor keys";
    Pactl({"unload-module", module});
    EXPECT_TRUE(WaitFor([&] { return trace().contains(") gone ("); })) << trace().toStdString();
    EXPECT_TRUE(trace().contains("SoundDevice(kotar_hot.monitor) Name("));
    EXPECT_EQ(BASS_ChannelIsActive(handle), BASS_ACTIVE_STOPPED);
    // The view learns it at its next tick, later on a busy machine.
    EXPECT_TRUE(WaitFor([&] { return form.SquelchTrack->SelEnd() == 0; }, std::chrono::milliseconds(1000)));
    EXPECT_TRUE(ShowsCaptureState(form)) << "the window says the device is away";
    EXPECT_TRUE(WaitFor([&] { return !ptt.back(); }, std::chrono::milliseconds(1000))) << "the hang releases PTT";
    EXPECT_TRUE(WaitFor([&] { return form.ComboSoundCard->findData("kotar_hot.monitor") < 0; }))
        << "the box follows the list";
    EXPECT_GE(form.CurrentDevice, form.ComboSoundCard->count()) << "no entry stands for the device that went";
    player->kill();
    player->waitForFinished();

    module = Pactl({"load-module", "module-null-sink", load}).trimmed();
    EXPECT_TRUE(WaitFor([&] { return trace().contains(") back: capture resumed"); }));
    EXPECT_EQ(BASS_ChannelIsActive(handle), BASS_ACTIVE_PLAYING) << "the same capture goes on";
    EXPECT_TRUE(WaitFor([&] { return form.ComboSoundCard->currentIndex() >= 0; }));
    EXPECT_EQ(form.ComboSoundCard->itemData(form.CurrentDevice).toString(), "kotar_hot.monitor");
    ptt.clear();
    player = StartPlaying(tone, "kotar_hot");
    EXPECT_TRUE(WaitFor([&] { return !ptt.empty() && ptt.back(); })) << "keys again";
    EXPECT_TRUE(ShowsSpectrumOnly(form)) << "the text went with the data";
    player->kill();
    player->waitForFinished();
    EXPECT_EQ(ClientRecordStreams(), 1);
    Pactl({"unload-module", module});
    EXPECT_TRUE(WaitFor([&] { return trace().count(") gone (") == 2; }));
    EXPECT_TRUE(ShowsCaptureState(form)) << "a second loss shows again";
    module = Pactl({"load-module", "module-null-sink", load}).trimmed();
    form.close();
    EXPECT_TRUE(ReadText(dir.file("KOTARPlus.INI")).contains("DEVICENAME=kotar_hot.monitor\n"));
    Pactl({"unload-module", module});
    Pactl({"unload-module", after});
}

// A start that the server does not answer returns at once; stopped before the
// server answers, the stream it asked for never records, even when the server
// answers later.
TEST(StalledServer, AnAbandonedStartNeverRecords)
{
    ASSERT_TRUE(AwaitSoundServerAnswer());
    ASSERT_TRUE(BASS_RecordInit(-1));
    const pid_t server = ServerPid();
    ASSERT_GT(server, 0);
    ASSERT_EQ(kill(server, SIGSTOP), 0);
    const HRECORD abandoned = BASS_RecordStart(44100, 2, 0, nullptr, nullptr);
    EXPECT_NE(abandoned, 0u);
    EXPECT_TRUE(BASS_ChannelStop(abandoned));
    const HRECORD handle = BASS_RecordStart(44100, 2, 0, nullptr, nullptr);
    ASSERT_EQ(kill(server, SIGCONT), 0);
    EXPECT_NE(handle, 0u);
    EXPECT_TRUE(WaitFor([&] { return RecordState(handle) == rsRunning; }));
    EXPECT_TRUE(WaitFor([] { return ClientRecordStreams() == 1; }));
    BASS_Free();
    EXPECT_TRUE(WaitFor([] { return ClientRecordStreams() == 0; }));
}

// A configured source that is absent at start-up is waited for, not replaced
// by the one its number now names; DEVICENAME stays as the user wrote it.
TEST(AbsentDeviceName, IsWaitedForAndKeptAsWritten)
{
    const QByteArray late = "kotar_late.monitor";
    for (const QByteArray &name : {late, QByteArray("kotar_\xe4\xf6_card"), QByteArray(3000, 'n')}) {
        SCOPED_TRACE(name.left(40).toStdString());
        const QByteArray line = "DEVICENAME=" + name + "\n";
        TVoxRun run("DELAY=0\nDEVICE=0\n" + line);
        TFormPlayer &form = *run.Form;
        EXPECT_TRUE(run.Trace().contains(") not present: nothing is captured until it appears"));
        EXPECT_EQ(form.CaptureStatus().State, rsWaiting);
        EXPECT_EQ(form.ComboSoundCard->currentIndex(), -1) << "no entry stands for it";
        EXPECT_NE(form.CaptureChannel, 0u);
        EXPECT_EQ(BASS_ChannelIsActive(form.CaptureChannel), BASS_ACTIVE_STOPPED);
        QString module;
        if (name == late) {
            EXPECT_EQ(form.CaptureStatus().Device, late);
            module = Pactl({"load-module", "module-null-sink", "sink_name=kotar_late"}).trimmed();
            EXPECT_TRUE(WaitFor([&] { return form.CaptureStatus().State == rsRunning; }));
            EXPECT_TRUE(WaitFor([&] { return run.Trace().contains("SoundDevice(kotar_late.monitor) Name("); }));
            EXPECT_TRUE(run.Trace().contains(") back: capture resumed"));
            EXPECT_TRUE(WaitFor([&] { return form.ComboSoundCard->currentData().toString() == late; }));
            auto player = StartPlaying(run.Tone, "kotar_late");
            EXPECT_TRUE(WaitFor([&] { return run.Keyed(); })) << "the source keys once it is there";
            player->kill();
            player->waitForFinished();
        }
        form.close();
        EXPECT_TRUE(ReadBytes(run.Dir.file("KOTARPlus.INI")).contains("\n" + line));
        run.Form.reset();
        BASS_Free();
        if (!module.isEmpty())
            Pactl({"unload-module", module});
    }
}

// A device that stops delivering (here its sink suspended, as a stalled driver
// or server would) leaves the last loud samples in the capture: no data for the
// stall limit counts as silence, so the hang releases.
TEST(ServerStall, NoDataCountsAsSilence)
{
    TVoxRun run("DELAY=500\nDEVICE=-1\n");
    TFormPlayer &form = *run.Form;
    auto player = StartPlaying(run.Tone);
    ASSERT_TRUE(WaitFor([&] { return run.Keyed(); }));
    Pactl({"suspend-sink", "kotar_sink", "1"});
    const auto resume = qScopeGuard([] { Pactl({"suspend-sink", "kotar_sink", "0"}); });
    // The capture says when its last block is older than the limit.
    ASSERT_TRUE(WaitFor([&] { return form.CaptureStatus().State == rsStalled; }));
    form.TimerRenderTimer();
    EXPECT_EQ(form.SquelchTrack->SelEnd(), 0) << "the next tick measures silence";
    EXPECT_TRUE(ShowsCaptureState(form)) << "the window says no sound comes";
    EXPECT_TRUE(run.Trace().contains(
        "SoundDevice(kotar_mic) Name(KOTAR Test Microphone) delivers no data: counted as silence"));
    EXPECT_TRUE(WaitFor([&] { return !run.Keyed(); })) << "the hang releases PTT";
    player->kill();
    player->waitForFinished();
    Pactl({"suspend-sink", "kotar_sink", "0"});
    EXPECT_TRUE(WaitFor([&] { return run.Trace().contains("Name(KOTAR Test Microphone) delivers data again"); }));
    EXPECT_FALSE(ShowsCaptureState(form)) << "the text goes with the data";
    form.close();
    run.Form.reset();
    BASS_Free();
}

TEST(SoundServerLoss, TheCaptureBecomesInactiveAndNothingHangs)
{
    ASSERT_TRUE(AwaitSoundServerAnswer());
    TCallbackCounter counter;
    ASSERT_TRUE(BASS_RecordInit(-1));
    const HRECORD handle = BASS_RecordStart(44100, 2, 0, TCallbackCounter::Proc, &counter);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(WaitFor([&] { return counter.Bytes > 8192; }));
    ASSERT_EQ(BASS_ChannelIsActive(handle), BASS_ACTIVE_PLAYING);

    const pid_t server = ServerPid();
    ASSERT_GT(server, 0);
    ASSERT_EQ(kill(server, SIGKILL), 0);

    EXPECT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(handle) == BASS_ACTIVE_STOPPED; }));
    EXPECT_EQ(BASS_ChannelGetData(handle, std::vector<float>(513).data(), BASS_DATA_FFT1024), 2048)
        << "the last samples stay readable until the channel is stopped";
    EXPECT_TRUE(BASS_ChannelStop(handle));
    EXPECT_TRUE(BASS_RecordFree());
    BASS_RecordInit(-1);
    EXPECT_EQ(BASS_RecordStart(44100, 2, 0, nullptr, nullptr), 0u) << "no server, no capture";
    BASS_Free();
}

// A server killed and started again: the program reconnects by itself, opens
// the same source by its server name and keys on it, with one record stream.
TEST(ServerRestart, TheVoxKeysAgainWithoutARestart)
{
    ASSERT_TRUE(StartServer()) << "the test before killed it";
    TVoxRun run("DELAY=0\nDEVICE=0\nDEVICENAME=kotar_line\n");
    TFormPlayer &form = *run.Form;
    auto player = StartPlaying(run.Tone);
    ASSERT_TRUE(WaitFor([&] { return run.Keyed(); }));
    player->kill();
    player->waitForFinished();

    const qsizetype before = TraceMessages(run.Dir.file("KOTARPlus.Log")).size();
    ASSERT_EQ(kill(ServerPid(), SIGKILL), 0);
    EXPECT_TRUE(WaitFor([&] {
        return TraceMessages(run.Dir.file("KOTARPlus.Log")).mid(before).join('\n').contains("Sound server connection lost (");
    }));
    EXPECT_EQ(form.CaptureStatus().State, rsNoServer);
    EXPECT_TRUE(WaitFor([&] { return !run.Keyed(); }));

    ASSERT_TRUE(StartServer());
    EXPECT_TRUE(WaitFor([&] { return run.Trace().contains(
                                  "Sound server connection back: capture opened again on SoundDevice(kotar_line)"); },
                        std::chrono::seconds(10)));
    EXPECT_TRUE(WaitFor([&] { return form.CaptureStatus().State == rsRunning; }));
    EXPECT_EQ(form.CaptureStatus().Device, "kotar_line");
    EXPECT_TRUE(WaitFor([&] { return form.ComboSoundCard->currentData().toString() == "kotar_line"; }))
        << "the box follows";
    run.Ptt.clear();
    player = StartPlaying(run.Tone);
    EXPECT_TRUE(WaitFor([&] { return run.Keyed(); })) << "keys again without a restart";
    player->kill();
    player->waitForFinished();
    EXPECT_EQ(ClientRecordStreams(), 1);
    form.close();
    run.Form.reset();
    BASS_Free();
}

// The connection is tried once a second for as long as the server is away:
// here a socket in its place takes three attempts and hangs up on each before
// the server comes back, and the capture opened before the loss records again.
TEST(ServerRestart, AServerAwayForSeveralAttemptsIsUsedWhenItReturns)
{
    ASSERT_TRUE(AwaitSoundServerAnswer());
    ASSERT_TRUE(BASS_RecordInit(-1));
    TCallbackCounter counter;
    const HRECORD handle = BASS_RecordStart(44100, 2, 0, TCallbackCounter::Proc, &counter);
    ASSERT_TRUE(WaitFor([&] { return counter.Bytes > 0; }));
    const auto threads = [] { return QDir("/proc/self/task").entryList(QDir::NoDotAndDotDot | QDir::Dirs).size(); };
    const qsizetype before = threads();
    ASSERT_EQ(kill(ServerPid(), SIGKILL), 0);
    ASSERT_TRUE(WaitFor([&] { return RecordState(handle) == rsNoServer; }));

    const QByteArray path = (qEnvironmentVariable("KOTAR_PULSE_DIR") + "/runtime/native").toLocal8Bit();
    unlink(path.constData());
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    int attempts = 0;
    EXPECT_TRUE(WaitFor(
        [&] {
            if (const int connection = accept(listener, nullptr, nullptr); connection >= 0) {
                ++attempts;
                close(connection);
            }
            return attempts >= 3;
        },
        std::chrono::seconds(10)))
        << attempts << " attempts";
    close(listener);

    ASSERT_TRUE(StartServer());
    const uint64_t bytes = counter.Bytes;
    EXPECT_TRUE(WaitFor([&] { return counter.Bytes > bytes; }, std::chrono::seconds(10)))
        << "the capture records on the server that came back";
    EXPECT_EQ(RecordState(handle), rsRunning);
    EXPECT_TRUE(WaitFor([&] { return threads() <= before; })) << threads() << " threads, were " << before;
    BASS_Free();
}

// A relay plays on the connection it was made on: after a restart it starts
// afresh on the new server, with the virtual output loaded there again.
TEST(ServerRestart, TheRelayStartsAfreshOnTheNewServer)
{
    TVoxRun run("DELAY=0\nDEVICE=0\nDEVICENAME=kotar_line\nRELAY=kotarplus_tx\n");
    const auto relays = [&] { return run.Trace().count("Relay to (kotarplus_tx) LEAD(60 ms)"); };
    ASSERT_EQ(relays(), 1);
    ASSERT_EQ(kill(ServerPid(), SIGKILL), 0);
    ASSERT_TRUE(WaitFor([&] { return run.Trace().contains("Sound server connection lost ("); }));
    ASSERT_TRUE(StartServer());
    EXPECT_TRUE(WaitFor([&] { return relays() == 2; }, std::chrono::seconds(10)));
    EXPECT_TRUE(WaitFor([] { return Listed("kotarplus_tx.monitor"); })) << "the virtual output is there again";
    run.Form->close();
    run.Form.reset();
    BASS_Free();
}
