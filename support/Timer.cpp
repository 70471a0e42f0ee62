#include "support/Timer.h"

#include "support/ErrorReport.h"

TTimer::TTimer(QObject *owner, int interval, bool enabled)
    : QObject(owner), FEnabled(enabled), FInterval(interval)
{
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, [this] {
        if (OnTimer)
            ErrorReport::Guarded(OnTimer);
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
