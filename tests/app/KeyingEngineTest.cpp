// The keying engine driven tick by tick: frames come from the audio layer's
// frame source, the timers are read, never waited for.
#include "FormPlayerFixture.h"

#include "audio/bass.h"
#include "support/LEDButton.h"
#include "support/Led1.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QApplication>
#include <QLabel>
#include <cmath>
#include <gtest/gtest.h>

namespace {
// A frame whose level is exactly `level`: all of it in bin 5.
void FillLevel(float *magnitudes, int level)
{
    std::fill(magnitudes, magnitudes + 512, 0.0f);
    const int units = int(std::ceil(level * 12.8));
    magnitudes[5] = (float(units) + 0.5f) / 500.0f;
}

struct Engine : ::testing::Test {
    Engine()
    {
        BASS_SetFrameSource({[this] { return active; }, [this](float *m) { FillLevel(m, level); }});
    }
    ~Engine() override { BASS_SetFrameSource({}); }

    void Start(const QString &settings = "PTT=NONE\nGAIN=5\nDELAY=0\n")
    {
        s = std::make_unique<StartedForm>("[SETTINGS]\n" + settings);
        f = s->form.get();
        f->OnTxRig = [this](bool on) { ptt << (on ? "on" : "off"); };
        ptt.clear();
    }

    void Tick(int newLevel)
    {
        level = newLevel;
        f->TimerRenderTimer();
    }
    // Delay ticks until PTT is released; how many it took.
    int TicksToRelease()
    {
        for (int n = 1; n <= 100; ++n) {
            f->TimerDelayTimer();
            if (!f->TimerDelay->Enabled())
                return n;
        }
        return -1;
    }
    bool Shows(const QIcon &icon) const
    {
        return f->windowIcon().cacheKey() == icon.cacheKey()
               && QApplication::windowIcon().cacheKey() == icon.cacheKey();
    }

    bool active = true;
    int level = 0;
    std::unique_ptr<StartedForm> s;
    TFormPlayer *f = nullptr;
    QStringList ptt;
};
} // namespace

TEST_F(Engine, LevelAtTheSquelchKeysAndOneBelowDoesNot)
{
    Start();
    ASSERT_NE(f->CaptureChannel, 0u);
    Tick(4);
    EXPECT_TRUE(ptt.isEmpty());
    EXPECT_FALSE(f->TimerDelay->Enabled());
    EXPECT_EQ(f->SquelchTrack->SelEnd(), 4);
    Tick(5);
    EXPECT_EQ(ptt, QStringList({"on"}));
    EXPECT_TRUE(f->VOXLed->On());
    EXPECT_TRUE(Shows(f->IconON));
    EXPECT_TRUE(f->TimerDelay->IsActive());
    EXPECT_EQ(f->TimerDelay->Interval(), 100);
    EXPECT_EQ(f->TrackDelay->SelEnd(), 0);
}

TEST_F(Engine, EveryTickAtOrAboveTheSquelchKeysAgain)
{
    Start("PTT=NONE\nGAIN=0\n");
    Tick(0);
    Tick(0);
    Tick(0);
    EXPECT_EQ(ptt, QStringList({"on", "on", "on"})) << "squelch 0 keys on every tick";
}

TEST_F(Engine, LevelMeterIsCappedAt100ButKeyingUsesTheFullLevel)
{
    Start("PTT=NONE\nGAIN=10\n");
    Tick(250);
    EXPECT_EQ(f->SquelchTrack->SelEnd(), 100);
    EXPECT_EQ(ptt, QStringList({"on"}));
}

TEST_F(Engine, InactiveCaptureDoesNothing)
{
    Start("PTT=NONE\nGAIN=0\n");
    active = false;
    Tick(50);
    EXPECT_TRUE(ptt.isEmpty());
    EXPECT_EQ(f->SquelchTrack->SelEnd(), 0);
}

TEST_F(Engine, HangReleasesOnTheTickThatPassesTheDelay)
{
    for (const auto &[delay, ticks] : {std::pair{0, 1}, {99, 1}, {100, 2}, {150, 2}, {5000, 51}}) {
        Start(QString("PTT=NONE\nGAIN=5\nDELAY=%1\n").arg(delay));
        Tick(9);
        Tick(0);
        ptt.clear();
        EXPECT_EQ(TicksToRelease(), ticks) << "delay " << delay;
        EXPECT_EQ(ptt, QStringList({"off"}));
        EXPECT_EQ(f->TrackDelay->SelEnd(), 0);
        EXPECT_TRUE(Shows(f->IconIDLE));
        EXPECT_FALSE(f->VOXLed->On());
    }
}

TEST_F(Engine, HangCountsInTheDelayBarAndShowsOn)
{
    Start("PTT=NONE\nGAIN=5\nDELAY=300\n");
    Tick(9);
    f->TimerDelayTimer();
    f->TimerDelayTimer();
    EXPECT_EQ(f->TrackDelay->SelEnd(), 200);
    EXPECT_TRUE(Shows(f->IconON));
    EXPECT_TRUE(f->TimerDelay->IsActive());
    EXPECT_EQ(ptt, QStringList({"on"}));
}

TEST_F(Engine, SignalBackDuringAHangStartsItAgain)
{
    Start("PTT=NONE\nGAIN=5\nDELAY=300\n");
    Tick(9);
    f->TimerDelayTimer();
    f->TimerDelayTimer();
    Tick(9);
    EXPECT_EQ(f->TrackDelay->SelEnd(), 0);
    EXPECT_EQ(ptt, QStringList({"on", "on"}));
    EXPECT_EQ(TicksToRelease(), 4);
}

TEST_F(Engine, ShortDipBetweenKeyingTicksLeavesTheCounterAtZero)
{
    Start("PTT=NONE\nGAIN=5\nDELAY=0\n");
    Tick(9);
    Tick(1);
    Tick(1);
    Tick(9);
    EXPECT_EQ(ptt, QStringList({"on", "on"})) << "below the squelch releases nothing";
    EXPECT_EQ(f->TrackDelay->SelEnd(), 0);
    EXPECT_TRUE(f->TimerDelay->IsActive());
}

TEST_F(Engine, MuteWhileKeyedReleasesAtOnceAndTheHangStillEnds)
{
    Start("PTT=NONE\nGAIN=5\nDELAY=200\n");
    Tick(9);
    f->LEDMuteButtonClick();
    EXPECT_EQ(ptt, QStringList({"on", "off"}));
    EXPECT_TRUE(f->LEDMuteButton->LEDOn());
    EXPECT_TRUE(f->VOXLed->On());
    EXPECT_EQ(f->VOXLed->Color1(), 0x000080u);
    EXPECT_TRUE(f->SquelchTrack->isHidden());
    EXPECT_TRUE(f->Label1->isHidden());
    EXPECT_TRUE(f->TrackDelay->isHidden());
    EXPECT_TRUE(Shows(f->IconMUTE));
    EXPECT_TRUE(f->TimerBlink->Enabled());

    Tick(9);
    EXPECT_EQ(ptt.size(), 2) << "muted: no keying";
    f->TimerDelayTimer();
    EXPECT_TRUE(Shows(f->IconON)) << "the running hang shows ON at its steps";
    f->TimerDelayTimer();
    f->TimerDelayTimer();
    EXPECT_TRUE(Shows(f->IconIDLE));
    EXPECT_EQ(ptt, QStringList({"on", "off", "off"}));
}

TEST_F(Engine, BlinkWhileMutedAndAfterUnmute)
{
    Start();
    f->LEDMuteButtonClick();
    f->TimerBlinkTimer();
    EXPECT_FALSE(f->VOXLed->On());
    EXPECT_TRUE(Shows(f->IconOFF));
    f->TimerBlinkTimer();
    EXPECT_TRUE(f->VOXLed->On());
    EXPECT_TRUE(Shows(f->IconMUTE));
    f->LEDMuteButtonClick();
    EXPECT_FALSE(f->LEDMuteButton->LEDOn());
    EXPECT_FALSE(f->TimerBlink->Enabled());
    EXPECT_FALSE(f->SquelchTrack->isHidden());
    EXPECT_EQ(f->VOXLed->Color1(), 0x008000u);
    EXPECT_EQ(f->VOXLed->OffColor2(), 0x008000u);
    EXPECT_TRUE(Shows(f->IconIDLE));
}

TEST_F(Engine, FirstBlinkTickUnmutedSwitchesTheBlinkTimerOff)
{
    Start();
    EXPECT_TRUE(f->TimerBlink->Enabled()) << "runs from the window's creation";
    f->TimerBlinkTimer();
    EXPECT_FALSE(f->TimerBlink->Enabled());
    EXPECT_FALSE(f->VOXLed->On());
    EXPECT_TRUE(Shows(f->IconIDLE));
}

TEST_F(Engine, TuneKeysByHandAlsoWhileMuted)
{
    Start();
    f->LEDMuteButtonClick();
    ptt.clear();
    f->TuneButtonClick();
    EXPECT_EQ(ptt, QStringList({"on"}));
    EXPECT_TRUE(f->TuneButton->LEDOn());
    f->TimerBlinkTimer();
    EXPECT_FALSE(f->VOXLed->On()) << "the lamp keeps blinking red";
    f->LEDMuteButtonClick();
    EXPECT_FALSE(f->TuneButton->LEDOn()) << "Mute ends Tune";
    EXPECT_EQ(ptt, QStringList({"on", "off"}));
}

TEST_F(Engine, TuneOffAboveTheSquelchKeysAgainAtTheNextTick)
{
    Start();
    f->TuneButtonClick();
    Tick(9);
    EXPECT_EQ(ptt, QStringList({"on"})) << "Tune holds PTT; the tick does not key";
    f->TuneButtonClick();
    Tick(9);
    EXPECT_EQ(ptt, QStringList({"on", "off", "on"}));
}

TEST_F(Engine, DelayTickWhileTuningStopsTheHangWithoutReleasing)
{
    Start("PTT=NONE\nGAIN=5\nDELAY=500\n");
    Tick(9);
    f->TuneButtonClick();
    f->TimerDelayTimer();
    EXPECT_FALSE(f->TimerDelay->Enabled());
    EXPECT_EQ(f->TrackDelay->SelEnd(), 0);
    EXPECT_TRUE(Shows(f->IconIDLE));
    EXPECT_EQ(ptt, QStringList({"on", "on"}));
}
