#include "support/Timer.h"

#include "support/ErrorReport.h"

TTimer::TTimer(QObject *owner, int interval, bool enabled)
    : QObject(owner), FEnabled(enabled), FInterval(interval)
{
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, [this] {
        if (!OnTimer)
            return;
        try {
            OnTimer();
        } catch (const std::exception &error) {
            // Reported after this tick has returned: Qt fires no timer whose
            // tick is still running, and the timers keep running while the
            // report waits for the user.
            ErrorReport::ShowLater(error);
        }
    });
    Update();
}

void TTimer::SetEnabled(bool value)
{
    if (value == FEnabled)
        return;
    FEnabled = value;
    Update();
}

void TTimer::SetInterval(int value)
{
    if (value == FInterval)
        return;
    FInterval = value;
    Update();
}

void TTimer::Update()
{
    FTimer.stop();
    if (FEnabled && FInterval > 0)
        FTimer.start(FInterval);
}
