// The window as a view of the keying core: its lamps, bars and icons follow
// the core's state, its commands reach the core, and on the core's own thread
// nothing the window's thread does delays a release.
#include "FormPlayerFixture.h"

#include "audio/bass.h"
#include "support/LEDButton.h"
#include "support/Led1.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QScopeGuard>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace std::chrono;

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
        BASS_SetFrameSource({[this] { return active.load(); }, [this](float *m) { FillLevel(m, level); }});
    }
    ~Engine() override
    {
        s.reset();
        BASS_SetFrameSource({});
    }

    void Start(const QString &settings = "PTT=NONE\nGAIN=5\nDELAY=0\n")
    {
        s = std::make_unique<StartedForm>("[SETTINGS]\n" + settings);
        f = s->form.get();
        UseSteppedClock(*f);
    }
    void Tick(int newLevel)
    {
        level = newLevel;
        f->TimerRenderTimer();
    }
    bool Shows(const QIcon &icon) const
    {
        return f->windowIcon().cacheKey() == icon.cacheKey()
               && QApplication::windowIcon().cacheKey() == icon.cacheKey();
    }

    std::atomic<bool> active = true;
    std::atomic<int> level = 0;
    std::unique_ptr<StartedForm> s;
    TFormPlayer *f = nullptr;
};
} // namespace

TEST_F(Engine, LampsBarsAndIconsFollowKeyingAndHang)
{
    Start("PTT=NONE\nGAIN=5\nDELAY=300\n");
    Tick(250);
    EXPECT_EQ(f->SquelchTrack->SelEnd(), 100) << "the meter stops at 100";
    EXPECT_TRUE(f->VOXLed->On());
    EXPECT_TRUE(Shows(f->IconON));
    DelayTick(*f);
    DelayTick(*f);
    Tick(0);
    EXPECT_EQ(f->TrackDelay->SelEnd(), 200) << "the hang counter";
    EXPECT_EQ(StatusText(f->KeyingState, "none"), "PTT none | hanging | -60 dBFS");
    active = false;
    Tick(50);
    EXPECT_EQ(f->SquelchTrack->SelEnd(), 0) << "nothing measured while the capture is not active";
    DelayTick(*f);
    DelayTick(*f);
    EXPECT_EQ(f->TrackDelay->SelEnd(), 0);
    EXPECT_FALSE(f->VOXLed->On());
    EXPECT_TRUE(Shows(f->IconIDLE));
}

TEST_F(Engine, MuteShowsRedBlinkingAndHidesTheBarsUntilUnmuted)
{
    Start();
    f->TimerBlinkTimer();
    EXPECT_FALSE(f->TimerBlink->Enabled()) << "the first blink tick, unmuted, stops the blink";
    f->LEDMuteButtonClick();
    EXPECT_TRUE(f->LEDMuteButton->LEDOn());
    EXPECT_TRUE(f->VOXLed->On());
    EXPECT_EQ(f->VOXLed->Color1(), 0x000080u);
    EXPECT_TRUE(f->SquelchTrack->isHidden());
    EXPECT_TRUE(f->Label1->isHidden());
    EXPECT_TRUE(f->TrackDelay->isHidden());
    EXPECT_TRUE(Shows(f->IconMUTE));
    f->TimerBlinkTimer();
    EXPECT_FALSE(f->VOXLed->On());
    EXPECT_TRUE(Shows(f->IconOFF));
    f->TuneButtonClick();
    EXPECT_TRUE(f->TuneButton->LEDOn());
    EXPECT_TRUE(f->VOXLed->On()) << "Tune lights the lamp; it keeps blinking red";
    f->LEDMuteButtonClick();
    EXPECT_FALSE(f->TuneButton->LEDOn()) << "Mute ends Tune";
    EXPECT_FALSE(f->TimerBlink->Enabled());
    EXPECT_FALSE(f->SquelchTrack->isHidden());
    EXPECT_EQ(f->VOXLed->Color1(), 0x008000u);
    EXPECT_EQ(f->VOXLed->OffColor2(), 0x008000u);
    EXPECT_FALSE(f->VOXLed->On());
    EXPECT_TRUE(Shows(f->IconIDLE));
}

// The keying core on its own thread, the window's thread blocked while the
// hang runs: the release comes at the hang, not when the window wakes.
TEST_F(Engine, ABlockedWindowDoesNotDelayTheRelease)
{
    TFormPlayer::KeyingMode = TKeyingThread::kmOwnThread;
    const auto restore = qScopeGuard([] { TFormPlayer::KeyingMode = TKeyingThread::kmCallerThread; });
    s = std::make_unique<StartedForm>("[SETTINGS]\nPTT=NONE\nGAIN=5\nDELAY=300\n");
    f = s->form.get();
    // Kept by the core's hook, which outlives this body until the window goes.
    struct TRecord {
        std::mutex mutex;
        std::vector<std::pair<bool, steady_clock::time_point>> ptt;
    };
    const auto record = std::make_shared<TRecord>();
    f->Keying->Post([record](TKeyingCore &core) {
        core.OnTxRig = [record](bool on) {
            const std::lock_guard lock(record->mutex);
            record->ptt.emplace_back(on, steady_clock::now());
        };
    });
    const auto keyed = [&] {
        const std::lock_guard lock(record->mutex);
        return !record->ptt.empty() && record->ptt.back().first;
    };
    level = 9;
    QElapsedTimer guard;
    guard.start();
    while (!keyed() && guard.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(keyed());
    level = 0;
    const auto quiet = steady_clock::now();
    std::this_thread::sleep_for(2s); // the window's thread blocked, as by a stalled server
    const auto woke = steady_clock::now();
    const std::lock_guard lock(record->mutex);
    ASSERT_FALSE(record->ptt.back().first) << "not released while the window was blocked";
    EXPECT_GE(record->ptt.back().second - quiet, 300ms);
    EXPECT_LT(record->ptt.back().second, woke);
}
