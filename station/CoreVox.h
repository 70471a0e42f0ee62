#pragma once
#include "core/KeyingState.h"
#include "station/RemoteVox.h"

#include <functional>

class TKeyingThread;

// The keying core as remote control sees it: its last state, and Mute and
// Tune set through its commands. Lives on the thread that owns the core.
class TCoreVox : public TRemoteVox {
    Q_OBJECT
public:
    // target: where PTT goes now, as remote control names it.
    TCoreVox(TKeyingThread &keying, std::function<QString()> target, QObject *parent = nullptr);

    QString State() const override { return StateName(FState); }
    double LevelDbfs() const override { return FState.LevelDbfs; }
    bool Muted() const override { return FState.Muted; }
    bool Tune() const override { return FState.Tune; }
    QString PttTarget() const override { return FTarget(); }
    void SetMuted(bool on) override;
    void SetTune(bool on) override;

    // Where PTT goes has changed.
    void TargetChanged() { emit Changed(); }

    static QString StateName(const TKeyingState &state);

private:
    TKeyingThread &FKeying;
    std::function<QString()> FTarget;
    TKeyingState FState;
};
