#pragma once
#include <QObject>
#include <QTimer>
#include <functional>

// A periodic message-loop timer with the rules the keying engine relies on:
// switching on a timer that is on, or setting the period it already has,
// changes nothing; switching it on or changing the period of a running timer
// starts a fresh period. An interval of 0 keeps it silent while enabled.
class TTimer : public QObject {
public:
    explicit TTimer(QObject *owner = nullptr, int interval = 1000, bool enabled = true);

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    int Interval() const { return FInterval; }
    void SetInterval(int value);
    // True while a period is being counted (enabled, interval above 0).
    bool IsActive() const { return FTimer.isActive(); }

    // Called on every tick; what it throws goes to the error report.
    std::function<void()> OnTimer;

private:
    void Update();

    QTimer FTimer;
    bool FEnabled;
    int FInterval;
};
