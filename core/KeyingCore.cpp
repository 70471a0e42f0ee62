#include "core/KeyingCore.h"

#include "support/Exception.h"

#include <QScopeGuard>
#include <QTimer>
#include <algorithm>
#include <exception>

using namespace std::chrono;

namespace {
QTimer *CoreTimer(QObject *owner, bool singleShot)
{
    auto *timer = new QTimer(owner);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(singleShot);
    return timer;
}

bool operator==(const TKeyingState &a, const TKeyingState &b)
{
    return a.Muted == b.Muted && a.Tune == b.Tune && a.PttOn == b.PttOn && a.Hanging == b.Hanging
           && a.HangCounter == b.HangCounter && a.TimedOut == b.TimedOut && a.ReleaseOwed == b.ReleaseOwed
           && a.RelayDown == b.RelayDown            && a.Level == b.Level && a.LevelDbfs == b.LevelDbfs && a.Icon == b.Icon && a.IconSerial == b.IconSerial;
}
} // namespace

TKeyingCore::TKeyingCore(QObject *parent)
    : QObject(parent), FClock([] { return steady_clock::now(); }), FRenderTimer(CoreTimer(this, false)),
      FHangTimer(CoreTimer(this, true)), FTimeoutTimer(CoreTimer(this, true)), FReleaseTimer(CoreTimer(this, false)),
      FTestTimer(CoreTimer(this, true)), FDrainTimer(CoreTimer(this, true))
{
    qRegisterMetaType<TKeyingState>();
    connect(FRenderTimer, &QTimer::timeout, this, &TKeyingCore::RenderTick);
    connect(FHangTimer, &QTimer::timeout, this, &TKeyingCore::DelayTick);
    connect(FTimeoutTimer, &QTimer::timeout, this, &TKeyingCore::TimeoutTick);
    connect(FReleaseTimer, &QTimer::timeout, this, &TKeyingCore::ReleaseRetryTick);
    connect(FTestTimer, &QTimer::timeout, this, &TKeyingCore::TimeoutTick);
    connect(FDrainTimer, &QTimer::timeout, this, &TKeyingCore::DrainTick);
}

template <class F> void TKeyingCore::Step(F &&step)
{
    try {
        step();
    } catch (const EAbort &) {
    } catch (const std::exception &error) {
        const auto *own = dynamic_cast<const Exception *>(&error);
        emit Report(own ? own->Message() : QString::fromLocal8Bit(error.what()));
    }
    Publish();
}

void TKeyingCore::Publish()
{
    if (FPublishedOnce && FState == FPublished)
        return;
    FPublished = FState;
    FPublishedOnce = true;
    emit Changed(FState);
}

void TKeyingCore::ShowIcon(TStateIcon icon, bool again)
{
    if (icon == FState.Icon && !again)
        return;
    FState.Icon = icon;
    ++FState.IconSerial;
}

void TKeyingCore::Apply(const TSettings &settings)
{
    FSettings = settings;
    ScheduleTimeout();
}

void TKeyingCore::ScheduleTimeout()
{
    if (!FKeyedSince || FSettings.Timeout <= 0) {
        FTimeoutAt.reset();
        FTimeoutTimer->stop();
        return;
    }
    FTimeoutAt = *FKeyedSince + seconds(FSettings.Timeout);
    FTimeoutTimer->start(std::max(ceil<milliseconds>(*FTimeoutAt - Now()), milliseconds(0)));
}

void TKeyingCore::SetRelay(TRelayLink relay)
{
    FRelay = std::move(relay);
    if (FRelay.Open && FState.PttOn)
        FRelay.Open();
}

void TKeyingCore::FollowRelay()
{
    FState.RelayDown = FRelay.Ready && !FRelay.Ready();
    if (FState.RelayDown && FState.PttOn && !FState.Tune) {
        StopHang();
        ShowIcon(TStateIcon::Idle);
        TxRigOrThrow(false);
    }
}

void TKeyingCore::SelectOutput(TPttDispatch::TOutput output)
{
    FDispatch.Select(std::move(output));
    // A change of output never leaves the one it turns away from keyed.
    ReleaseRetryTick();
}

void TKeyingCore::Start(bool ownTicks)
{
    Step([this] { TxRigOrThrow(false); });
    if (ownTicks)
        FRenderTimer->start(RenderPeriod);
}

void TKeyingCore::RenderTick()
{
    // A release confirmed in the background shows within a tick.
    Step([this] { UpdateReleaseRetry(); });
    if (!FLevelSource)
        return;
    if (const std::optional<TFrame> frame = FLevelSource())
        Measure(*frame);
}

void TKeyingCore::Measure(TFrame frame)
{
    Step([&] {
        FollowRelay();
        FState.Level = frame.Level;
        FState.LevelDbfs = frame.Dbfs;
        const bool loud = frame.Level >= uint32_t(std::max(FSettings.Squelch, 0));
        // A time-out holds the VOX until the input has stayed below the
        // squelch for a whole hang: one quiet frame of a steady carrier (a
        // frame read between two blocks) does not end it.
        if (FState.TimedOut && loud)
            FQuietSince.reset();
        else if (FState.TimedOut && !FQuietSince)
            FQuietSince = Now();
        const milliseconds hang = (FSettings.Delay / 100 + 1) * HangStep;
        if (FState.TimedOut && !loud && Now() - *FQuietSince >= hang) {
            FState.TimedOut = false;
            if (!FState.Muted)
                ShowIcon(TStateIcon::Idle);
        }
        if (Armed() && loud && !FState.RelayDown)
            Key();
    });
}

void TKeyingCore::KeyByBlock()
{
    Step([this] {
        FollowRelay();
        if (!Armed() || FState.RelayDown)
            return;
        const TTime now = Now();
        // Blocks come every few milliseconds; each PTT on may be a USB request.
        if (FState.PttOn && FState.Hanging && now - FLastOnSent < RenderPeriod) {
            FLastKey = now;
            FState.HangCounter = 0;
            ScheduleHang(now + HangStep);
            return;
        }
        Key();
    });
}

void TKeyingCore::Key()
{
    StopHang();
    ShowIcon(TStateIcon::On);
    // The hang is armed even when PTT on fails: the output may have keyed all
    // the same (a late answer, one line of two), and only the hang releases it.
    const auto armHang = qScopeGuard([this] {
        if (!FState.PttOn) // the output went away: nothing to hang on
            return;
        FLastKey = Now();
        FState.HangCounter = 0;
        FState.Hanging = true;
        ScheduleHang(FLastKey + HangStep);
    });
    FLastOnSent = Now();
    TxRigOrThrow(true);
}

TKeyingCore::TTime TKeyingCore::HangStart() const
{
    // Relayed sound still on its way counts as keying until it has played out.
    if (FRelay.LoudPlayedOut && FState.PttOn)
        return std::max(FLastKey, FRelay.LoudPlayedOut());
    return FLastKey;
}

void TKeyingCore::ScheduleHang(TTime at)
{
    const auto wait = ceil<milliseconds>(at - Now());
    FHangTimer->start(std::max(wait, milliseconds(0)));
}

void TKeyingCore::StopHang()
{
    FHangTimer->stop();
    FState.Hanging = false;
    FState.HangCounter = 0;
}

void TKeyingCore::DelayTick()
{
    Step([this] {
        FollowRelay();
        if (!FState.Hanging)
            return;
        if (FState.Tune) {
            StopHang();
            ShowIcon(TStateIcon::Idle);
            return;
        }
        const TTime start = HangStart();
        const auto steps = std::max<int64_t>((Now() - start) / HangStep, 0);
        FState.HangCounter = int(std::min<int64_t>(steps * HangStep.count(), 1 << 30));
        if (steps > 0 && FState.HangCounter > FSettings.Delay) {
            StopHang();
            ShowIcon(TStateIcon::Idle);
            TxRigOrThrow(false);
            return;
        }
        ScheduleHang(start + (steps + 1) * HangStep);
        ShowIcon(TStateIcon::On, true);
    });
}

void TKeyingCore::TimeoutTick()
{
    Step([this] {
        EndTestAtLimit();
        if (!FTimeoutAt)
            return;
        if (Now() < *FTimeoutAt) {
            FTimeoutTimer->start(std::max(ceil<milliseconds>(*FTimeoutAt - Now()), milliseconds(0)));
            return;
        }
        FTimeoutAt.reset();
        StopHang();
        FState.Tune = false;
        FState.TimedOut = true;
        FQuietSince.reset();
        ShowIcon(TStateIcon::TimeOut);
        emit Trace("Transmit time-out (" + QString::number(FSettings.Timeout) + " s)");
        TxRigOrThrow(false);
    });
}

void TKeyingCore::ToggleMute()
{
    Step([this] {
        // Mute takes effect even when the output refuses the release; the
        // failure is reported once the toggle is done.
        std::exception_ptr failure;
        try {
            TxRigOrThrow(false);
        } catch (...) {
            failure = std::current_exception();
        }
        FState.Tune = false;
        FState.Muted = !FState.Muted;
        ShowIcon(FState.Muted ? TStateIcon::Mute : TStateIcon::Idle, true);
        if (failure)
            std::rethrow_exception(failure);
    });
}

void TKeyingCore::ToggleTune()
{
    Step([this] {
        FState.Tune = !FState.Tune;
        TxRigOrThrow(FState.Tune);
    });
}

void TKeyingCore::TxRig(bool on)
{
    Step([&] { TxRigOrThrow(on); });
}

void TKeyingCore::TestPtt(TPttDispatch::TOutput output, bool on)
{
    Step([&] {
        // A press ends the test running; a release ends only its own.
        if (on || output == FDispatch.Testing())
            EndTest(QString());
        if (!on || FShutDown)
            return;
        if (FState.PttOn) {
            emit PttTested(false, "transmitting: test not possible now");
            return;
        }
        FTestUntil = Now() + TestLimit;
        FTestTimer->start(TestLimit);
        try {
            FDispatch.Test(output, true);
        } catch (const Exception &failure) {
            // What may have keyed (one line of two) is released at once.
            EndTest(failure.Message());
            return;
        }
        emit PttTested(output->MayBeKeyed(), QString());
    });
}

void TKeyingCore::EndTestAtLimit()
{
    if (!FTestUntil)
        return;
    if (Now() < *FTestUntil) {
        FTestTimer->start(std::max(ceil<milliseconds>(*FTestUntil - Now()), milliseconds(0)));
        return;
    }
    EndTest("released after " + QString::number(TestLimit.count()) + " s, a test's limit");
}

void TKeyingCore::EndTest(QString words)
{
    const TPttDispatch::TOutput output = FDispatch.Testing();
    if (!output)
        return;
    FTestUntil.reset();
    FTestTimer->stop();
    const auto updateRetry = qScopeGuard([this] { UpdateReleaseRetry(); });
    try {
        FDispatch.Test(output, false);
    } catch (const Exception &failure) {
        // The release is owed and asked for again like any other.
        if (words.isEmpty())
            words = failure.Message();
    }
    emit PttTested(false, words);
}

TPttDispatch::TOutput TKeyingCore::ActiveOutput() const
{
    // A release waiting for the relay's sound is not owed yet.
    return FState.PttOn || FPending ? FDispatch.Selected() : nullptr;
}

void TKeyingCore::TxRigOrThrow(bool on)
{
    EndTest(QString());
    // Loud blocks already on their way from the capture, a remote Tune or a
    // test may still arrive after the release at the end: none keys again.
    if (on && FShutDown)
        return;
    if (OnTxRig)
        OnTxRig(on);
    FState.PttOn = on;
    if (on && !FKeyedSince)
        FKeyedSince = Now();
    else if (!on)
        FKeyedSince.reset();
    ScheduleTimeout();
    // With a relay, PTT rises once a probe it had sent has played, and falls
    // once the relayed sound has (at the program's end at once: the relay is
    // hushed then).
    FPending.reset();
    FDrainTimer->stop();
    if (FRelay.Open) {
        // Never longer than RelayWait: a wrong latency figure of a stalled
        // server must not hold a transmitter keyed that the views show idle.
        const TTime clear = std::min(on ? FRelay.Open() : FRelay.Shut(), Now() + RelayWait);
        if (!FShutDown && clear > Now()) {
            FPending = on;
            FPendingAt = clear;
            FDrainTimer->start(ceil<milliseconds>(clear - Now()));
            return;
        }
    }
    SendPtt(on);
}

void TKeyingCore::DrainTick()
{
    Step([this] {
        if (!FPending)
            return;
        // Counted on the core's clock, as the hang is.
        if (Now() < FPendingAt) {
            FDrainTimer->start(ceil<milliseconds>(FPendingAt - Now()));
            return;
        }
        const bool on = *FPending;
        FPending.reset();
        SendPtt(on);
    });
}

void TKeyingCore::SendPtt(bool on)
{
    const auto updateRetry = qScopeGuard([this] { UpdateReleaseRetry(); });
    // Once the release has gone out (or been tried: it is owed then), the
    // relay's output may fall silent.
    const auto released = qScopeGuard([this, on] {
        if (!on && FRelay.Released)
            FRelay.Released();
    });
    try {
        FDispatch.Send(on);
    } catch (const Exception &) {
        const auto &selected = FDispatch.Selected();
        if (selected && selected->Gone())
            DropLostOutput();
        else if (on && selected && !selected->MayBeKeyed())
            ShowIdle();
        throw;
    }
}

void TKeyingCore::ShowIdle()
{
    // Nothing is keyed: no relayed sound, no time-out running, nothing hangs
    // or is owed, and the views show idle.
    FState.PttOn = false;
    FPending.reset();
    if (FRelay.Shut)
        FRelay.Shut();
    if (FRelay.Released)
        FRelay.Released();
    FKeyedSince.reset();
    ScheduleTimeout();
    StopHang();
    FState.Tune = false;
    if (!FState.Muted)
        ShowIcon(TStateIcon::Idle);
}

void TKeyingCore::DropLostOutput()
{
    // Nothing is keyed through a device that is gone.
    ShowIdle();
    emit OutputLost();
}

void TKeyingCore::UpdateReleaseRetry()
{
    const bool owed = FDispatch.Owed(ActiveOutput());
    if (!owed)
        FReleaseTimer->stop();
    else if (!FReleaseTimer->isActive())
        FReleaseTimer->start(ReleaseRetryPeriod);
    FState.ReleaseOwed = owed;
}

void TKeyingCore::ReleaseRetryTick()
{
    Step([this] {
        const auto updateRetry = qScopeGuard([this] { UpdateReleaseRetry(); });
        QStringList unconfirmed;
        // Traced before the retry, which may raise.
        const auto trace = [&] {
            for (const QString &name : unconfirmed)
                emit Trace("PTT release of " + name + " not confirmed");
        };
        try {
            FDispatch.RetryReleases(ActiveOutput(), unconfirmed);
        } catch (...) {
            trace();
            throw;
        }
        trace();
    });
}

void TKeyingCore::Shutdown(milliseconds patience, bool selectedToo)
{
    FShutDown = true;
    FRenderTimer->stop();
    StopHang();
    if (selectedToo)
        TxRig(false);
    else
        Step([this] {
            EndTest(QString());
            FState.PttOn = false;
            FDispatch.ReleaseKeyed();
        });
    FDispatch.Settle(steady_clock::now() + patience);
    FReleaseTimer->stop();
    FTimeoutTimer->stop();
    FTestTimer->stop();
    FDrainTimer->stop();
}
