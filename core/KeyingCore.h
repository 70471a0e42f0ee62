#pragma once
#include "core/KeyingState.h"
#include "core/PttDispatch.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

class QTimer;

// The keying engine: the measured level in, PTT on and off out, Mute and Tune
// as commands, the hang and the transmit time-out on a monotonic clock. It
// needs nothing of the window and never waits for it: views receive its state
// through Changed and send it commands on its own thread. Time is read from
// the clock at every step, so a step that comes late catches up and never
// stretches a transmission.
class TKeyingCore : public QObject {
    Q_OBJECT
public:
    using TTime = std::chrono::steady_clock::time_point;
    using TClock = std::function<TTime()>;
    // One frame of an active capture; the source gives none while the capture
    // is not active.
    struct TFrame {
        uint32_t Level = 0;
        double Dbfs = -200;
    };
    using TLevelSource = std::function<std::optional<TFrame>()>;

    static constexpr std::chrono::milliseconds RenderPeriod{33};
    static constexpr std::chrono::milliseconds HangStep{100};
    static constexpr std::chrono::milliseconds ReleaseRetryPeriod{1000};
    // How long a PTT command waits for the relay's sound at the most.
    static constexpr std::chrono::milliseconds RelayWait{250};
    static constexpr std::chrono::seconds TestLimit{5};

    explicit TKeyingCore(QObject *parent = nullptr);

    // --- settings, read at every step ------------------------------------
    struct TSettings {
        int Squelch = 10;
        // The hang, in ms.
        int Delay = 0;
        // Seconds of transmission before the time-out releases; 0: none.
        int Timeout = 0;
    };
    // All of them at once, whatever changed them; a time-out changed during a
    // transmission counts from its start.
    void Apply(const TSettings &settings);
    void SetClock(TClock clock) { FClock = std::move(clock); }
    void SetLevelSource(TLevelSource source) { FLevelSource = std::move(source); }
    // With a relay, PTT on opens its gate and goes out once a probe the relay
    // had sent has played (Open tells when), so none goes on air; a release
    // shuts the gate first and goes out once what was relayed has played
    // (Shut tells when), so no relayed sound reaches an unkeyed transmitter. The hang counts from when
    // the last loud block has played out (the epoch: nothing loud on its
    // way), and while the relay is not Ready the VOX keys nothing: no carrier
    // without sound. A link without Open: no relay.
    struct TRelayLink {
        std::function<TTime()> Open;
        std::function<TTime()> Shut;
        std::function<TTime()> LoudPlayedOut;
        std::function<bool()> Ready;
        // PTT's release has gone out.
        std::function<void()> Released;
    };
    void SetRelay(TRelayLink relay);
    // Where PTT goes from now on; the output left is released.
    void SelectOutput(TPttDispatch::TOutput output);
    // Sees every PTT command before it goes out.
    std::function<void(bool on)> OnTxRig;

    // --- the engine's steps; none throws, failures are reported -----------
    // PTT off, and the render tick running on the core's own timer when asked.
    void Start(bool ownTicks);
    // Measures the capture through the level source.
    void RenderTick();
    // A frame of an active capture: the level shown, and keying at or above
    // the squelch.
    void Measure(TFrame frame);
    // A loud block of the capture (ATTACK=BLOCK, or a relay): keys at once. PTT
    // on is sent again no more often than the render tick would send it.
    void KeyByBlock();
    // The hang: releases once (delay div 100 + 1) x 100 ms have passed since
    // the last keying moment.
    void DelayTick();
    // The transmit time-out, and a test's limit.
    void TimeoutTick();
    // Releases owed are asked for again.
    void ReleaseRetryTick();
    // A PTT command held for the relay's sound goes out.
    void DrainTick();
    void ToggleMute();
    void ToggleTune();
    // The one PTT operation. It ends a test first: real traffic wins.
    void TxRig(bool on);
    // A test of the wiring: on keys output beside PTT, owed a release like any
    // keyed output, until off (with the same output), TestLimit or a PTT
    // command ends it; refused while PTT is on. The outcome comes as PttTested.
    void TestPtt(TPttDispatch::TOutput output, bool on);
    // Program end: every output that may be keyed is released, the selected
    // one too when asked, and releases in progress get until patience has
    // passed; the timers stop.
    void Shutdown(std::chrono::milliseconds patience, bool selectedToo = true);

    const TKeyingState &State() const { return FState; }
    // Neither Mute nor Tune is on, and no time-out holds the VOX.
    bool Armed() const { return !FState.Muted && !FState.Tune && !FState.TimedOut; }

signals:
    // After every step that changed what is shown.
    void Changed(const TKeyingState &state);
    // A failure the user must see.
    void Report(const QString &message);
    // A test's outcome: whether its output may be keyed now, and what went
    // wrong or ended it, in words (empty when nothing did).
    void PttTested(bool keyed, const QString &words);
    // A line for the trace log.
    void Trace(const QString &line);
    // The selected output's device has gone: nothing is keyed through it any
    // more, and its owner may close and watch it.
    void OutputLost();

private:
    TTime Now() const { return FClock(); }
    // Runs one step: what it raises is reported, and views learn what changed.
    template <class F> void Step(F &&step);
    void Key();
    void TxRigOrThrow(bool on);
    void SendPtt(bool on);
    // A relay that cannot deliver ends the VOX's transmission.
    void FollowRelay();
    // Releases a test's output, if one is keyed, and reports it with words.
    void EndTest(QString words);
    void EndTestAtLimit();
    void DropLostOutput();
    // Nothing could be keyed at all (a port without modem lines, a device gone).
    void ShowIdle();
    void StopHang();
    void ScheduleHang(TTime at);
    TTime HangStart() const;
    void ShowIcon(TStateIcon icon, bool again = false);
    void ScheduleTimeout();
    void UpdateReleaseRetry();
    TPttDispatch::TOutput ActiveOutput() const;
    void Publish();

    TClock FClock;
    TLevelSource FLevelSource;
    TRelayLink FRelay;
    // A PTT command waiting for the relay's sound to play out.
    std::optional<bool> FPending;
    TTime FPendingAt{};
    TPttDispatch FDispatch;
    TSettings FSettings;

    TKeyingState FState;
    TKeyingState FPublished;
    bool FPublishedOnce = false;
    // Shut down: nothing keys any more.
    bool FShutDown = false;
    TTime FLastKey{};
    TTime FLastOnSent{};
    // When PTT rose for the transmission under way, and when it times out.
    std::optional<TTime> FKeyedSince;
    // Timed out: since when the input has been below the squelch.
    std::optional<TTime> FQuietSince;
    std::optional<TTime> FTimeoutAt;
    std::optional<TTime> FTestUntil;

    QTimer *FRenderTimer;
    QTimer *FHangTimer;
    QTimer *FTimeoutTimer;
    QTimer *FReleaseTimer;
    QTimer *FTestTimer;
    QTimer *FDrainTimer;
};
