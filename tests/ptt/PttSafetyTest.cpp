// No path that shows the transmitter off leaves an output keyed: faults are
// injected into the line driver (linesim refuses a line, the device is
// unplugged) and every way of ending a transmission is tried.
#include "LineSimPort.h"
#include "RigctldFixture.h"
#include "ScriptedRigctld.h"
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "audio/bass.h"
#include "ptt/CPort.h"
#include "ptt/CPortCtl.h"
#include "ptt/CPortSetup.h"
#include "ptt/PttTestButton.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"
#include "support/LEDButton.h"
#include "support/Led1.h"
#include "support/Timer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sys/ioctl.h>

namespace {
class PttSafety : public ::testing::Test {
protected:
    void SetUp() override
    {
        BASS_SetFrameSource({[] { return true; }, [this](float *m) {
                                 std::fill(m, m + 512, 0.0f);
                                 m[5] = float(level) * 12.8f / 500.0f + 0.001f;
                             }});
    }
    void TearDown() override
    {
        Refuse("");
        form.reset();
        BASS_SetFrameSource({});
    }

    void Start(const QString &ptt, const QString &more = QString(), const QString &rig1Address = QString())
    {
        WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nGAIN=5\nDELAY=0\nPTT=" + ptt + "\nCOMPORT="
                                                 + line.Device() + "\n" + more + "[OMNIRIG]\nRIG1="
                                                 + (rig1Address.isEmpty() ? rig1.Address() : rig1Address)
                                                 + "\nRIG2=" + rig2.Address() + "\n");
        dialogs.reset(); // a signal shutdown takes the message boxes over
        dialogs.emplace();
        form = std::make_unique<TFormPlayer>(QStringList());
        form->Terminate = [] {};
        UseSteppedClock(*form);
        line.Changes();
    }
    static void Refuse(const char *lines) { qputenv("LINESIM_REFUSE", lines); }
    // Each handler as its event delivers it: what it throws goes to the report.
    void Run(const std::function<void()> &handler) { ErrorReport::Guarded(handler); }
    void RenderTick(int withLevel)
    {
        level = withLevel;
        Run([this] { form->TimerRenderTimer(); });
    }
    // Waits for what a rig's worker does in the background, as seen from
    // outside. Only posted events are delivered: no timer of the window
    // fires behind the test's back.
    static bool Eventually(const std::function<bool()> &done)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 5000) {
            QCoreApplication::sendPostedEvents();
            QThread::msleep(20);
        }
        return done();
    }
    bool ShowsIcon(const QIcon &icon) const
    {
        return form->windowIcon().pixmap(32).toImage() == icon.pixmap(32).toImage();
    }

    TLineSimPort line;
    TemporaryWorkDir dir;
    std::optional<RecordedDialogs> dialogs;
    TRigctldDaemon rig1, rig2;
    std::unique_ptr<TFormPlayer> form;
    int level = 0;
};

struct TPath {
    const char *name;
    bool ends; // the program ends: the window is gone afterwards
    std::function<void(TFormPlayer &)> run;
};

const TPath Paths[] = {
    {"delay tick", false, [](TFormPlayer &f) { DelayTick(f); }},
    {"Mute", false, [](TFormPlayer &f) { f.LEDMuteButtonClick(); }},
    {"mode change", false, [](TFormPlayer &f) { f.PTT_None->setChecked(true); }},
    {"rig change", false, [](TFormPlayer &f) { f.Rig2RadioButton->click(); }},
    {"close", true, [](TFormPlayer &f) { f.close(); }},
    {"signal", true, [](TFormPlayer &f) { f.ShutdownBySignal(); }},
};
} // namespace

TEST_F(PttSafety, EveryPathThatShowsIdleLeavesEveryLineLowDespiteARefusingLine)
{
    // Keying refused half-way (DTR up, RTS refused), or a release refused on
    // DTR that the driver takes again later.
    struct TFault {
        const char *name, *whileKeying, *whileReleasing;
    };
    for (const TFault fault : {TFault{"RTS refused", "RTS", "RTS"}, TFault{"DTR release refused", "", "DTR"}}) {
        for (const TPath &path : Paths) {
            if (std::string(path.name) == "rig change")
                continue; // the serial port stays the output
            SCOPED_TRACE(std::string(fault.name) + " / " + path.name);
            Start("SERIAL");
            Refuse(fault.whileKeying);
            RenderTick(9);
            EXPECT_TRUE(form->KeyingState.Hanging) << "the hang is armed";
            EXPECT_EQ(line.Lines() & TIOCM_DTR, TIOCM_DTR);
            RenderTick(0);
            Refuse(fault.whileReleasing);
            Run([&] { path.run(*form); });
            EXPECT_EQ(line.Lines() & TIOCM_RTS, 0) << "RTS is lowered even when DTR refuses";
            if (std::string(path.name) == "Mute") {
                EXPECT_TRUE(form->LEDMuteButton->LEDOn()) << "Mute engages even when the release fails";
            }
            Refuse("");
            if (!path.ends) {
                ASSERT_TRUE(form->KeyingState.ReleaseOwed) << "the refused release is owed";
                Run([&] { form->TimerReleaseTimer(); });
                EXPECT_EQ(line.Lines(), 0) << "a refused release is retried";
                EXPECT_FALSE(form->KeyingState.ReleaseOwed) << "until it got through";
            }
            form.reset();
            EXPECT_EQ(line.Lines(), 0) << "program end releases what is still owed";
            if (std::string(path.name) != "signal") {
                EXPECT_FALSE(dialogs->errors.isEmpty()) << "the failure was reported";
            }
        }
    }
}

TEST_F(PttSafety, EveryPathThatShowsIdleLeavesTheRigInRxDespiteAMisbehavingDaemon)
{
    using F = TScriptedRigctld::TFault;
    const struct {
        const char *name;
        F fault;
    } faults[] = {{"reply dropped", F::fGarbage}, {"stalled", F::fSilent}, {"closed mid-answer", F::fCloseMidAnswer}};
    for (const auto &fault : faults) {
        for (const TPath &path : Paths) {
            SCOPED_TRACE(std::string(fault.name) + " / " + path.name);
            TScriptedRigctld peer;
            Start("CAT", QString(), peer.Address());
            peer.Misbehave(fault.fault);
            RenderTick(9);
            ASSERT_TRUE(Eventually([&] { return peer.Keyed(); }));
            RenderTick(0);
            if (path.ends) {
                // The daemon answers again before the end: the end waits for
                // the release to get through.
                peer.Behave();
                Run([&] { path.run(*form); });
                EXPECT_FALSE(peer.Keyed());
            } else {
                Run([&] { path.run(*form); });
                peer.Behave();
                // The retry timer's ticks, as it delivers them while armed.
                EXPECT_TRUE(Eventually([&] {
                    if (form->KeyingState.ReleaseOwed)
                        Run([&] { form->TimerReleaseTimer(); });
                    return !peer.Keyed();
                }));
            }
            form.reset();
            EXPECT_FALSE(peer.Keyed());
            EXPECT_EQ(rig2.PttState(), "0");
        }
    }
}

TEST_F(PttSafety, TheWindowsRigButtonsReleaseTheRigBeingLeft)
{
    Start("CAT");
    form->show();
    RenderTick(9);
    ASSERT_TRUE(Eventually([&] { return rig1.PttState() == "1"; }));
    form->Rig2RadioButton->click();
    EXPECT_TRUE(Eventually([&] { return rig1.PttState() == "0"; }));
    RenderTick(9);
    EXPECT_TRUE(Eventually([&] { return rig2.PttState() == "1"; }));
    Run([&] { form->LEDMuteButtonClick(); });
    EXPECT_TRUE(Eventually([&] { return rig2.PttState() == "0"; }));
    EXPECT_EQ(rig1.PttState(), "0");
}

TEST_F(PttSafety, AnUnpluggedDeviceShowsIdleAtOnce)
{
    Start("SERIAL");
    RenderTick(9);
    ASSERT_TRUE(form->VOXLed->On());
    line.Unplug();
    RenderTick(9);
    EXPECT_EQ(dialogs->errors, QStringList({"KOTARPlus|EscapeCommFunction function failed (Error: 5)\n" + line.Device()
                                            + ": Input/output error."}));
    EXPECT_FALSE(form->VOXLed->On());
    EXPECT_TRUE(ShowsIcon(form->IconIDLE));
    EXPECT_FALSE(form->KeyingState.Hanging);
    EXPECT_TRUE(form->PTT_Serial->isChecked()) << "the configured mode stays, for the next start too";
    EXPECT_FALSE(form->PTTComPort->Connected());

    // Plugged back in: the port opens again by itself, and PTT works. The
    // watch has had its first look before.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    ASSERT_FALSE(form->PTTComPort->Connected());
    line.Replug();
    QElapsedTimer clock;
    clock.start();
    while (!form->PTTComPort->Connected() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(form->PTTComPort->Connected()) << "not reopened when the name came back";
    EXPECT_TRUE(TraceMessages(dir.file("KOTARPlus.Log")).contains("COM Port (" + line.Device() + ") reopened"));
    RenderTick(9);
    EXPECT_EQ(line.Lines(), TIOCM_DTR | TIOCM_RTS);
}

TEST_F(PttSafety, ComSettingsConfirmedWhileKeyedPutsTheLinesBack)
{
    Start("SERIAL");
    Run([&] { form->TuneButtonClick(); });
    ASSERT_EQ(line.Lines(), TIOCM_DTR | TIOCM_RTS);
    form->PTTComPort->OnSetupDialogShow = [](TComSetupFrm &dialog) {
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.Button1->click(); });
    };
    form->CommSettingsButtonClick();
    EXPECT_EQ(line.Lines(), TIOCM_DTR | TIOCM_RTS) << "the window still shows Tune";
    Run([&] { form->TuneButtonClick(); });
    EXPECT_EQ(line.Lines(), 0);
}

// Test PTT keys the lines chosen in the dialog while held, 5 s at most, and
// leaves them at the port's rest levels.
TEST_F(PttSafety, ComSettingsTestPttKeysTheChosenLinesWhileHeld)
{
    Start("SERIAL");
    form->PTTComPort->OnSetupDialogShow = [this](TComSetupFrm &dialog) {
        QTimer::singleShot(0, &dialog, [&] {
            TPttTestButton *test = dialog.TestButton;
            dialog.Combo7->setCurrentIndex(dialog.Combo7->findText("DTR+!RTS"));
            emit dialog.Combo7->activated(dialog.Combo7->currentIndex());
            emit test->pressed();
            EXPECT_EQ(line.Lines(), TIOCM_DTR);
            EXPECT_TRUE(test->Lamp->On());
            emit test->released();
            EXPECT_EQ(line.Lines(), 0);
            EXPECT_FALSE(test->Lamp->On());
            emit test->pressed();
            PassTime(std::chrono::seconds(5));
            form->TimerTimeoutTimer();
            EXPECT_EQ(line.Lines(), 0) << "released by itself";
            EXPECT_FALSE(test->Lamp->On());
            dialog.Button2->click();
        });
    };
    form->CommSettingsButtonClick();
    EXPECT_FALSE(form->KeyingState.ReleaseOwed);
    EXPECT_TRUE(dialogs->errors.isEmpty());
}

TEST_F(PttSafety, TransmitTimeOutReleasesAndLocksTheVoxOutUntilSilence)
{
    Start("SERIAL", "TIMEOUT=3\n");
    RenderTick(9);
    // The tone goes on longer than the limit; its timer fires.
    PassTime(std::chrono::milliseconds(2900));
    RenderTick(9);
    Run([&] { form->TimerTimeoutTimer(); });
    EXPECT_EQ(line.Lines(), TIOCM_DTR | TIOCM_RTS) << "not before the limit";
    PassTime(std::chrono::milliseconds(100));
    Run([&] { form->TimerTimeoutTimer(); });
    EXPECT_EQ(line.Lines(), 0);
    EXPECT_TRUE(ShowsIcon(form->IconTOUT));
    EXPECT_FALSE(form->KeyingState.Hanging);
    EXPECT_TRUE(TraceMessages(dir.file("KOTARPlus.Log")).contains("Transmit time-out (3 s)"));
    RenderTick(9);
    EXPECT_EQ(line.Lines(), 0) << "locked out while the tone lasts";
    // Quiet for a whole hang (DELAY=0: 100 ms).
    RenderTick(0);
    PassTime(std::chrono::milliseconds(100));
    RenderTick(0);
    EXPECT_TRUE(ShowsIcon(form->IconIDLE));
    RenderTick(9);
    EXPECT_EQ(line.Lines(), TIOCM_DTR | TIOCM_RTS) << "keys again after a quiet hang";

    // Tune is limited too, and ends with it.
    RenderTick(0);
    Run([&] { DelayTick(*form); });
    Run([&] { form->TuneButtonClick(); });
    PassTime(std::chrono::milliseconds(2900));
    Run([&] { form->TimerTimeoutTimer(); });
    EXPECT_TRUE(form->TuneButton->LEDOn()) << "a time-out left running would cut the next transmission short";
    PassTime(std::chrono::milliseconds(100));
    Run([&] { form->TimerTimeoutTimer(); });
    EXPECT_FALSE(form->TuneButton->LEDOn());
    EXPECT_EQ(line.Lines(), 0);
    EXPECT_TRUE(dialogs->errors.isEmpty());
}

// A daemon that wakes from a stall may serve a connection the link gave up on
// after a later release: its "T 1" keys the rig after "T 0" was confirmed.
TEST_F(PttSafety, ALateKeyingCommandIsFoundByReadingTheRigBackAndReleased)
{
    TScriptedRigctld peer;
    Start("CAT", QString(), peer.Address());
    peer.Misbehave(TScriptedRigctld::fLateKeying);
    RenderTick(9);
    ASSERT_TRUE(Eventually([&] { return peer.Keyed(); }));
    RenderTick(0);
    Run([&] { DelayTick(*form); });
    ASSERT_TRUE(Eventually([&] { return !peer.Keyed(); }));
    ASSERT_TRUE(Eventually([&] { return peer.Keyed(); })) << "the held command is carried out";
    QElapsedTimer late;
    late.start();
    EXPECT_TRUE(Eventually([&] {
        RenderTick(0);
        return !peer.Keyed();
    }));
    EXPECT_LT(late.elapsed(), 2000);
    EXPECT_TRUE(Eventually([&] {
        RenderTick(0);
        return ShowsIcon(form->IconIDLE) && !form->VOXLed->On();
    }));
    EXPECT_FALSE(peer.Keyed());
}

// A daemon that confirms "T 0" but leaves the rig keyed: the release stays
// owed, is asked for again, and shows, also while muted.
TEST_F(PttSafety, AReleaseTheRigDoesNotCarryOutStaysOwedAndShowsKeyed)
{
    TScriptedRigctld peer;
    Start("CAT", QString(), peer.Address());
    peer.Misbehave(TScriptedRigctld::fKeepKeyed);
    RenderTick(9);
    ASSERT_TRUE(Eventually([&] { return peer.Keyed(); }));
    RenderTick(0);
    const int releases = peer.Received("T 0");
    Run([&] { DelayTick(*form); });
    ASSERT_TRUE(Eventually([&] {
        RenderTick(0);
        return peer.Received("T 0") >= releases + 2;
    })) << "asked for again";
    EXPECT_TRUE(form->VOXLed->On());
    EXPECT_TRUE(ShowsIcon(form->IconON));
    Run([&] { form->TimerReleaseTimer(); });
    Run([&] { form->TimerReleaseTimer(); });
    Run([&] { form->LEDMuteButtonClick(); });
    Run([&] { form->TimerBlinkTimer(); });
    RenderTick(0);
    EXPECT_TRUE(form->VOXLed->On()) << "an owed release is not hidden by Mute's blinking";
    EXPECT_TRUE(ShowsIcon(form->IconON));
    EXPECT_EQ(TraceMessages(dir.file("KOTARPlus.Log"))
                  .count("PTT release of Rig-control server " + peer.Address() + " not confirmed"),
              1);
    EXPECT_TRUE(dialogs->errors.isEmpty());

    peer.Behave();
    EXPECT_TRUE(Eventually([&] {
        RenderTick(0);
        return !peer.Keyed() && !form->KeyingState.ReleaseOwed;
    }));
    EXPECT_TRUE(ShowsIcon(form->IconOFF)) << "the blinking shows again";
    EXPECT_FALSE(form->VOXLed->On());
}

// One output refusing its release holds up none of the others.
TEST(KeyedOutputs, AReleaseRefusedByOneOutputStillReachesTheOthers)
{
    struct TFake : TPttOutput {
        explicit TFake(bool refuses) : refuses(refuses) {}
        QString Name() const override { return "fake"; }
        void Switch(bool on) override
        {
            if (!on && refuses)
                throw Exception("refused");
            keyed = on;
        }
        bool MayBeKeyed() const override { return keyed; }
        bool refuses, keyed = false;
    };
    for (const bool allBut : {false, true}) {
        SCOPED_TRACE(allBut ? "release all but one" : "release all");
        TKeyedOutputs outputs;
        const auto refusing = std::make_shared<TFake>(true), other = std::make_shared<TFake>(false);
        outputs.Key(refusing);
        outputs.Key(other);
        EXPECT_THROW(allBut ? outputs.ReleaseAllBut({}) : outputs.ReleaseAll(), Exception);
        EXPECT_FALSE(other->keyed);
        EXPECT_TRUE(outputs.Owed()) << "the refused release stays owed";
    }
}

// A device missing at start-up costs no setting: the file keeps the mode and
// the device is taken once it is there; one that hangs up while idle is
// noticed without a keying.
TEST_F(PttSafety, AMissingDeviceKeepsItsModeAndIsTakenWhenItComes)
{
    const auto pumpUntil = [](const std::function<bool()> &done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    };
    line.Unplug();
    Start("SERIAL");
    EXPECT_TRUE(form->PTT_None->isChecked());
    form->WriteINI();
    EXPECT_TRUE(ReadText(dir.file("KOTARPlus.INI")).contains("PTT=SERIAL\n"));
    line.Replug();
    ASSERT_TRUE(pumpUntil([&] { return form->PTT_Serial->isChecked(); })) << "not taken when it came";
    RenderTick(9);
    EXPECT_EQ(line.Lines(), TIOCM_DTR | TIOCM_RTS);
    RenderTick(0);
    Run([&] { DelayTick(*form); });
    line.Unplug();
    EXPECT_TRUE(pumpUntil([&] { return !form->PTTComPort->Connected(); })) << "a hang-up while idle went unseen";
    line.Replug();
    EXPECT_TRUE(pumpUntil([&] { return form->PTTComPort->Connected(); }));

    rig1.Stop();
    rig2.Stop();
    Start("CAT");
    EXPECT_TRUE(form->PTT_None->isChecked());
    rig1.Restart();
    EXPECT_TRUE(pumpUntil([&] { return form->PTT_OmniRig->isChecked(); })) << "the daemon answered, and was not taken";
}
