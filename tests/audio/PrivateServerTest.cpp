#include "AudioTestSupport.h"
#include "TestSupport.h"
#include "app/KOTARUnit.h"

#include <QComboBox>
#include <QFile>
#include <gtest/gtest.h>
#include <signal.h>

using namespace AudioTest;

// This program has a PulseAudio server of its own (KOTAR_PULSE_DIR): it adds
// devices to it, and in the end kills it. The tests run in this order.

TEST(ManyRecordingDevices, OnlyTheFirst33AreListed)
{
    for (int i = 0; i < 40; ++i) {
        QProcess pactl;
        pactl.start("pactl", {"load-module", "module-remap-source", "source_name=extra" + QString::number(i),
                              "master=kotar_sink.monitor"});
        ASSERT_TRUE(pactl.waitForFinished());
        ASSERT_EQ(pactl.exitCode(), 0);
    }
    ASSERT_TRUE(WaitFor([] { return RecordDeviceNames().size() == 42; })) << RecordDeviceNames().size();

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
}

TEST(SoundServerLoss, TheCaptureBecomesInactiveAndNothingHangs)
{
    TCallbackCounter counter;
    ASSERT_TRUE(BASS_RecordInit(-1));
    const HRECORD handle = BASS_RecordStart(44100, 2, 0, TCallbackCounter::Proc, &counter);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(WaitFor([&] { return counter.Bytes > 8192; }));
    ASSERT_EQ(BASS_ChannelIsActive(handle), BASS_ACTIVE_PLAYING);

    QFile pidFile(qEnvironmentVariable("KOTAR_PULSE_DIR") + "/pulse.pid");
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const pid_t server = pid_t(pidFile.readAll().trimmed().toInt());
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
