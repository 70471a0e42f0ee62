#include "AudioTestSupport.h"
#include "TestSupport.h"
#include "app/KOTARUnit.h"

#include <QComboBox>
#include <gtest/gtest.h>

using namespace AudioTest;

// This program runs with PULSE_SERVER naming a socket where no server listens.
namespace {

TEST(NoSoundServer, NothingIsListedAndNothingStarts)
{
    EXPECT_TRUE(RecordDeviceNames().isEmpty());
    BASS_DEVICEINFO info;
    EXPECT_FALSE(BASS_GetDeviceInfo(0, &info));
    EXPECT_FALSE(BASS_RecordInit(-1));
    EXPECT_FALSE(BASS_RecordInit(0));
    EXPECT_EQ(BASS_RecordStart(44100, 2, 0, nullptr, nullptr), 0u);
}

TEST(NoSoundServer, StartUpGoesOnWithoutCapture)
{
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-port\n");
    {
        TFormPlayer form{QStringList()};
        form.Terminate = [] {};
        EXPECT_EQ(form.CaptureChannel, 0u);
        EXPECT_EQ(form.ComboSoundCard->count(), 0);
        EXPECT_EQ(form.ComboSoundCard->currentText(), "Default");
        const QStringList trace = TraceMessages(dir.file("KOTARPlus.Log"));
        const qsizetype first = trace.indexOf("Listing System sound recording devices");
        ASSERT_GE(first, 1);
        EXPECT_TRUE(trace[first - 1].startsWith("No sound server (")) << trace[first - 1].toStdString();
        EXPECT_TRUE(trace[first - 1].endsWith("): nothing is recorded"));
        EXPECT_EQ(trace.mid(first + 1, 2), (QStringList{"BASSSetup: Device(-1) initialized Device(Default)",
                                                         "CreateForm: Device(-1) configured"}));
        EXPECT_TRUE(ShowsCaptureState(form)) << "the window says there is no server";
        // A change in the box tries again, and fails the same quiet way.
        form.ComboSoundCardEdited();
        form.CurrentDevice = 3;
        form.ComboSoundCardEdited();
        EXPECT_EQ(form.CaptureChannel, 0u);
        form.close();
    }
    BASS_Free();
}

} // namespace
