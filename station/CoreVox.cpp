#include "station/CoreVox.h"

#include "core/KeyingThread.h"

TCoreVox::TCoreVox(TKeyingThread &keying, std::function<QString()> target, QObject *parent)
    : TRemoteVox(parent), FKeying(keying), FTarget(std::move(target))
{
    keying.Connect(&TKeyingCore::Changed, this, [this](const TKeyingState &state) {
        FState = state;
        emit Changed();
    });
}

QString TCoreVox::StateName(const TKeyingState &state)
{
    if (state.Tune)
        return "tune";
    if (state.Muted)
        return "muted";
    if (state.TimedOut)
        return "timeout";
    if (state.PttOn && state.HangCounter > 0)
        return "hanging";
    if (!state.PttOn && state.RelayDown)
        return "relay down";
    return state.PttOn ? "keyed" : "idle";
}

// Decided on the core's thread, against its own state: a toggle queued behind
// another never undoes it.
void TCoreVox::SetMuted(bool on)
{
    FKeying.Post([on](TKeyingCore &core) {
        if (core.State().Muted != on)
            core.ToggleMute();
    });
}

void TCoreVox::SetTune(bool on)
{
    FKeying.Post([on](TKeyingCore &core) {
        if (core.State().Tune != on)
            core.ToggleTune();
    });
}
