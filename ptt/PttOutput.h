#pragma once
#include <QString>
#include <chrono>

// One place PTT can go (a serial port's lines, one rig of a rig-control
// daemon). What keys and releases PTT knows nothing of the kind.
class TPttOutput {
public:
    using TDeadline = std::chrono::steady_clock::time_point;

    virtual ~TPttOutput() = default;
    // How the output is named to the user.
    virtual QString Name() const = 0;
    // Keys (true) or releases (false). Raises the output's error when it
    // refuses at once; an output that works in the background reports its
    // failures itself, later, on the user-interface thread.
    virtual void Switch(bool on) = 0;
    // True from the moment PTT on was attempted until a release has got
    // through: an output in this state must still be released.
    virtual bool MayBeKeyed() const = 0;
    // Program end: waits until no release is pending or the deadline passes.
    virtual void Settle(TDeadline deadline) { (void)deadline; }
};
