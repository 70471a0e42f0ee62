#pragma once
#include "ptt/PttOutput.h"
#include "ptt/RigctldConnection.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// One rig of a rigctld daemon as a PTT output. A worker thread of its own
// carries out every exchange, so the user-interface thread never waits for
// the network. Commands keep their order; a PTT state not yet sent gives way
// to a newer one. On the wire a change of PTT state goes out at once, the
// same state again at most once a second; while a release is owed the worker
// keeps asking for it at that pace until the daemon confirms it. A release
// is confirmed only by reading the rig's PTT back ("t"). After a connection
// was given up with "T 1" unanswered, the daemon may still carry it out when
// it wakes: the rig is read back once a second for WatchPeriod after the next
// confirmed release, and released again if it reads keyed. Outside that the
// link never sends "T 0" on its own: another program may share the daemon
// and key the rig itself. Failures are shown by the application-wide report:
// the first of a run of failures of one command, and any other command's.
class TRigLink : public TPttOutput {
public:
    static constexpr auto RepeatInterval = std::chrono::seconds(1);
    static constexpr auto WatchPeriod = std::chrono::seconds(15);

    // address: as read from the configuration (see TRigctldConnection).
    explicit TRigLink(const QString &address);
    // Stops the worker at once, also in the middle of an exchange.
    ~TRigLink() override;
    TRigLink(const TRigLink &) = delete;
    TRigLink &operator=(const TRigLink &) = delete;

    QString Name() const override;
    // As given.
    QString Address() const { return FConnection.Address(); }
    void Switch(bool on) override;
    bool MayBeKeyed() const override;
    bool Settled() const override;
    // Also waits for the commands already asked for to be tried.
    void Settle(TDeadline deadline) override;

    // Set-up only: block the caller until the worker has carried them out, in
    // order with the PTT commands. Open connects unless connected; Call sends a
    // command answering data lines and returns the reply whatever its status.
    // Both raise ERigctldError.
    void Open();
    QStringList Call(const QByteArray &command);

private:
    using TJob = std::function<void(TRigctldConnection &)>;
    // A PTT state to send, or a job of the set-up.
    struct TRequest {
        std::optional<bool> ptt;
        TJob job;
    };

    void Run();
    void RunBlocking(TJob job);
    // Under FMutex.
    bool ReleaseOwed() const;
    bool Idle() const;
    bool Due(bool on, std::chrono::steady_clock::time_point now) const;
    // When the worker has a step of its own to take: the release owed asked
    // for again, or a read-back of the watch.
    std::chrono::steady_clock::time_point NextOwnStep() const;
    // Sends one PTT command, or only reads the rig back (none); true when the
    // rig was read back released.
    bool Exchange(std::optional<bool> on);
    // Reads the rig's PTT; raises the transport's or the daemon's error.
    bool ReadsKeyed();

    int FStopEvent = -1;
    TRigctldConnection FConnection; // the worker's alone

    mutable std::mutex FMutex;
    std::condition_variable FWake;    // the worker: something to do
    std::condition_variable FChanged; // Settle: the worker finished a step
    std::deque<TRequest> FQueue;
    bool FStop = false;
    bool FBusy = false;
    bool FWantedOn = false;
    bool FMayBeKeyed = false;
    // Counts PTT on requests: a confirmed release ends MayBeKeyed only when no
    // PTT on was asked for after it was sent.
    quint64 FKeyings = 0;
    std::optional<bool> FSent;
    std::chrono::steady_clock::time_point FSentAt;
    // A keying command was abandoned; the next confirmed release opens the
    // watch, which reads back until FWatchUntil, last at FReadAt.
    bool FWatchArmed = false;
    std::chrono::steady_clock::time_point FWatchUntil;
    std::chrono::steady_clock::time_point FReadAt;

    // The worker's alone: the command of the current run of failures.
    QByteArray FFailing;
    std::thread FWorker;
};
