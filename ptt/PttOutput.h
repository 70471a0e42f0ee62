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
    // False while the output may yet find itself keyed without a new command
    // and is being watched for it (a rig whose daemon may still carry out a
    // keying command it was given).
    virtual bool Settled() const { return !MayBeKeyed(); }
    // The device behind the output has gone (unplugged): nothing is keyed
    // through it until it is opened again.
    virtual bool Gone() const { return false; }
    // Program end: waits until no release is pending or the deadline passes.
    virtual void Settle(TDeadline deadline) { (void)deadline; }
};
