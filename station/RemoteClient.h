#pragma once
#include <QString>
#include <functional>

// What --status, --mute and --tune ask of the running instance.
struct TRemoteCommand {
    enum TKind { rcStatus, rcMute, rcTune };
    enum TSwitch { rsOn, rsOff, rsToggle };
    TKind Kind = rcStatus;
    TSwitch Switch = rsToggle;  // for Mute and Tune; toggle reads the value, then sets the other one
};

// Asks the instance that holds io.github.kotarplus.kotarplus on the session
// bus, within 3 seconds. Status prints "state: S", "level: N dBFS" (N with one
// decimal, "-inf" in silence) and "ptt: T", a line each, on standard output;
// Mute and Tune print nothing. Returns the exit status: 0 done; 1 when there
// is no session bus, no instance or no answer, with one line to complain.
// Needs no window, sound, settings or event loop.
int RunRemoteCommand(const TRemoteCommand &command, const std::function<void(const QString &)> &complain);
