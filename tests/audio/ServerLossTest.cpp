#include "AudioTestSupport.h"

#include <QFile>
#include <gtest/gtest.h>
#include <signal.h>

using namespace AudioTest;

// This program has a PulseAudio server of its own (KOTAR_PULSE_DIR), which it
// ends in the middle of a capture.
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
