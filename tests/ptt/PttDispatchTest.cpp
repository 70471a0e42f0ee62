// Where PTT goes: the main window with real outputs, a pseudo-terminal under
// the linesim line driver (LINESIM_DEVICE, LINESIM_LOG) and rigctld dummies.
#include "LineSimPort.h"
#include "RigctldFixture.h"
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "audio/bass.h"
#include "ptt/CPort.h"
#include "ptt/OmniRig_TLB.h"
#include "support/ErrorReport.h"
#include "support/LEDButton.h"
#include "support/Led1.h"
#include "support/Timer.h"

#include <QFile>
#include <QGroupBox>
#include <QRadioButton>
#include <gtest/gtest.h>
#include <memory>
#include <sys/ioctl.h>
#include <vector>

namespace {
class Dispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        BASS_SetFrameSource({[this] { return true; }, [this](float *m) {
                                 std::fill(m, m + 512, 0.0f);
                                 m[5] = float(level) * 12.8f / 500.0f + 0.001f;
                             }});
    }
    void TearDown() override
    {
        form.reset();
        BASS_SetFrameSource({});
    }

    void Start(const QString &ptt, const QString &more = QString())
    {
        WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nGAIN=5\nPTT=" + ptt + "\nCOMPORT=" + FDevice + "\n"
                                                 + "[OMNIRIG]\nRIG1=" + rig1.Address() + "\nRIG2="
                                                 + rig2.Address() + "\n" + more);
        form = std::make_unique<TFormPlayer>(QStringList());
        Changes();
    }

    QStringList Changes() { return line.Changes(); }
    // The rigs carry out PTT in the background: waits until they have.
    void Settle()
    {
        if (!form->OmniRigClient)
            return;
        for (IRigX *rig : {form->OmniRigClient->Rig1(), form->OmniRigClient->Rig2()})
            rig->Output()->Settle(std::chrono::steady_clock::now() + std::chrono::seconds(5));
    }

    // A render tick as its timer delivers it: what it throws goes to the report.
    void RenderTick()
    {
        ErrorReport::Guarded([this] { form->TimerRenderTimer(); });
    }
    TLineSimPort line;
    const QString FDevice = line.Device();
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    TRigctldDaemon rig1, rig2;
    std::unique_ptr<TFormPlayer> form;
    int level = 0;
};
} // namespace

TEST_F(Dispatch, SerialRaisesDtrThenRtsAndLowersThemInTheSameOrder)
{
    Start("SERIAL");
    ASSERT_TRUE(form->PTTComPort->Connected());
    form->TxRig(true);
    EXPECT_EQ(Changes(), QStringList({"DTR 1", "RTS 1"}));
    EXPECT_TRUE(form->VOXLed->On());
    form->TxRig(false);
    EXPECT_EQ(Changes(), QStringList({"DTR 0", "RTS 0"}));
    EXPECT_FALSE(form->VOXLed->On());
    EXPECT_EQ(rig1.PttState(), "0");
}

TEST_F(Dispatch, RepeatedPttOnIsSentAgain)
{
    Start("SERIAL");
    form->TxRig(true);
    Changes();
    line.DropDtr();
    form->TxRig(true);
    EXPECT_EQ(Changes(), QStringList({"DTR 1"})) << "nothing is skipped because PTT seems on already";
}

TEST_F(Dispatch, PrinterNoneAndNoModeOnlyLightTheLamp)
{
    for (const char *ptt : {"PRINTER", "NONE", "VOX"}) {
        Start(ptt);
        form->TxRig(true);
        EXPECT_TRUE(form->VOXLed->On()) << ptt;
        form->TxRig(false);
        EXPECT_FALSE(form->VOXLed->On()) << ptt;
        EXPECT_TRUE(Changes().isEmpty()) << ptt;
        EXPECT_EQ(rig1.PttState(), "0") << ptt;
        EXPECT_EQ(rig2.PttState(), "0") << ptt;
        EXPECT_TRUE(dialogs.errors.isEmpty()) << ptt;
    }
}

TEST_F(Dispatch, OmniRigKeysOnlyTheChosenRig)
{
    Start("CAT");
    ASSERT_NE(form->OmniRigClient, nullptr);
    EXPECT_EQ(form->Rig1RadioButton->text(), "Hamlib Dummy");
    form->TxRig(true);
    Settle();
    EXPECT_EQ(rig1.PttState(), "1");
    EXPECT_EQ(rig2.PttState(), "0");
    form->TxRig(false);
    Settle();
    EXPECT_EQ(rig1.PttState(), "0");

    form->SetRig2();
    form->TxRig(true);
    Settle();
    EXPECT_EQ(rig2.PttState(), "1");
    EXPECT_EQ(rig1.PttState(), "0");
    form->TxRig(false);
    Settle();
    EXPECT_EQ(rig2.PttState(), "0");
}

TEST_F(Dispatch, RigChosenWhileInSerialModeIsKeyedOnceOmniRigIsSelected)
{
    Start("SERIAL");
    form->SetRig2();
    EXPECT_TRUE(form->Rig2RadioButton->isChecked());
    EXPECT_TRUE(form->RigGroupBox->isHidden());
    form->PTT_OmniRig->setChecked(true);
    EXPECT_FALSE(form->RigGroupBox->isHidden());
    ASSERT_NE(form->OmniRigClient, nullptr);
    form->TxRig(true);
    Settle();
    EXPECT_EQ(rig2.PttState(), "1");
    EXPECT_EQ(rig1.PttState(), "0");
    form->TxRig(false);
}

TEST_F(Dispatch, LeavingSerialModeWhileKeyedReleasesTheLines)
{
    Start("SERIAL");
    form->TxRig(true);
    Changes();
    form->PTT_OmniRig->setChecked(true);
    EXPECT_EQ(Changes(), QStringList({"DTR 0", "RTS 0"})) << "the serial output is left released";
    form->TxRig(true);
    Settle();
    EXPECT_EQ(rig1.PttState(), "1") << "the next keying tick keys the new output";
    EXPECT_TRUE(Changes().isEmpty());
    form->TxRig(false);
    Settle();
    EXPECT_EQ(rig1.PttState(), "0");
}

TEST_F(Dispatch, LeavingOmniRigModeOrTheRigWhileKeyedReleasesIt)
{
    Start("CAT");
    form->TxRig(true);
    form->SetRig2();
    Settle();
    EXPECT_EQ(rig1.PttState(), "0") << "the rig being left is released";
    form->TxRig(true);
    Settle();
    EXPECT_EQ(rig2.PttState(), "1");
    form->PTT_None->setChecked(true);
    Settle();
    EXPECT_EQ(rig2.PttState(), "0");
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(Dispatch, ChoosingSerialAgainTakesTheDeviceFromTheEarlierPort)
{
    Start("SERIAL");
    TComPort *first = form->PTTComPort;
    ASSERT_TRUE(first->Connected());
    form->PTT_None->setChecked(true);
    form->PTT_Serial->setChecked(true);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(form->PTT_Serial->isChecked());
    ASSERT_NE(form->PTTComPort, first);
    EXPECT_FALSE(first->Connected());
    EXPECT_TRUE(form->PTTComPort->Connected());
    Changes();
    form->TxRig(true);
    EXPECT_EQ(Changes(), QStringList({"DTR 1", "RTS 1"}));
    form->TxRig(false);
}

TEST_F(Dispatch, PersistentOutputErrorIsReportedOncePerRunAndTheHangStillReleases)
{
    // A second pseudo-terminal is not under the line driver: no modem lines.
    TPty plain;
    Start("SERIAL");
    form->ComPortName = plain.Slave();
    form->PTT_None->setChecked(true);
    form->PTT_Serial->setChecked(true);
    ASSERT_TRUE(form->PTTComPort->Connected());
    level = 9;
    for (int tick = 0; tick < 5; ++tick)
        RenderTick();
    const QString failure = "KOTARPlus|EscapeCommFunction function failed (Error: 25)\n" + plain.Slave()
                            + ": Inappropriate ioctl for device; this device has no modem control lines.";
    EXPECT_EQ(dialogs.errors, QStringList({failure}));
    EXPECT_FALSE(form->KeyingState.Hanging) << "nothing could be keyed: nothing hangs";
    EXPECT_FALSE(form->VOXLed->On());

    ErrorReport::Guarded([this] { form->TxRig(false); });
    EXPECT_EQ(dialogs.errors, QStringList({failure, failure})) << "a failed release is a new run of failures";
    EXPECT_FALSE(form->KeyingState.ReleaseOwed) << "no line moved: no release is owed";
    form->PTT_None->setChecked(true);
    form->TxRig(true);
    form->PTT_Serial->setChecked(true);
    RenderTick();
    EXPECT_EQ(dialogs.errors.size(), 3) << "a command that got through re-arms the report";
}

TEST_F(Dispatch, OmniRigModeWithoutAClientIsReported)
{
    rig1.Stop();
    rig2.Stop();
    Start("NONE");
    form->PTT_OmniRig->setChecked(true);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Error while loading OmniRig driver\nRig-control server " + rig1.Address()));
    EXPECT_TRUE(form->PTT_None->isChecked());
    // Keyed through the rig buttons' own mode is impossible now; select it
    // without its handler to reach the output with no client.
    form->PTT_OmniRig->blockSignals(true);
    form->PTT_OmniRig->setChecked(true);
    form->PTT_OmniRig->blockSignals(false);
    form->Rig2RadioButton->click(); // the output is chosen anew
    level = 9;
    RenderTick();
    RenderTick();
    EXPECT_EQ(dialogs.errors, QStringList({"KOTARPlus|No rig-control server is connected."}));
}

TEST_F(Dispatch, StartUpWhosePttOffFailsIsReportedAndTheWindowStays)
{
    TPty plain;
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + plain.Slave() + "\n");
    form = std::make_unique<TFormPlayer>(QStringList());
    EXPECT_TRUE(form->PTTComPort->Connected());
    EXPECT_EQ(dialogs.errors, QStringList({"KOTARPlus|EscapeCommFunction function failed (Error: 25)\n" + plain.Slave()
                                           + ": Inappropriate ioctl for device; this device has no modem control lines."}));
    EXPECT_TRUE(form->TimerRender->IsActive());
}

TEST_F(Dispatch, SignalShutdownNeverWaitsForAnAnswer)
{
    TPty plain;
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + plain.Slave() + "\n");
    form = std::make_unique<TFormPlayer>(QStringList());
    int terminated = 0;
    form->Terminate = [&] { ++terminated; };
    form->show();
    dialogs.errors.clear();
    // Releasing PTT fails on a device without modem lines: that must not hold
    // the shutdown up.
    form->ShutdownBySignal();
    EXPECT_TRUE(dialogs.errors.isEmpty());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(terminated, 1);
    EXPECT_TRUE(ReadText(dir.file("KOTARPlus.INI")).contains("COMPORT=" + plain.Slave() + "\n"));
}
