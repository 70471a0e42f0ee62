#include "ptt/RigLink.h"

#include "ptt/OmniRig_TLB.h"
#include "support/ErrorReport.h"

#include <cerrno>
#include <future>
#include <system_error>
#include <sys/eventfd.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

TRigLink::TRigLink(const QString &address)
    : FStopEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), FConnection(address, FStopEvent)
{
    if (FStopEvent < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    FWorker = std::thread([this] { Run(); });
}

TRigLink::~TRigLink()
{
    {
        std::lock_guard lock(FMutex);
        FStop = true;
    }
    FWake.notify_all();
    // Ends an exchange the worker is waiting in.
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FStopEvent, &one, sizeof one);
    FWorker.join();
    FConnection.Close();
    ::close(FStopEvent);
}

QString TRigLink::Name() const { return "Rig-control server " + FConnection.Address(); }

void TRigLink::Switch(bool on)
{
    {
        std::lock_guard lock(FMutex);
        FWantedOn = on;
        if (on) {
            FMayBeKeyed = true;
            ++FKeyings;
        }
        if (!FQueue.empty() && FQueue.back().ptt)
            FQueue.back().ptt = on;
        else
            FQueue.push_back({on, {}});
    }
    FWake.notify_one();
}

bool TRigLink::MayBeKeyed() const
{
    std::lock_guard lock(FMutex);
    return FMayBeKeyed;
}

bool TRigLink::Settled() const
{
    std::lock_guard lock(FMutex);
    return !FMayBeKeyed && !FWatchArmed && Clock::now() >= FWatchUntil;
}

void TRigLink::Settle(TDeadline deadline)
{
    std::unique_lock lock(FMutex);
    FChanged.wait_until(lock, deadline, [this] { return FStop || Idle(); });
}

void TRigLink::Open()
{
    RunBlocking([](TRigctldConnection &connection) { connection.Open(); });
}

QStringList TRigLink::Call(const QByteArray &command)
{
    QStringList reply;
    RunBlocking([&](TRigctldConnection &connection) { reply = connection.Exchange(command, true); });
    return reply;
}

void TRigLink::RunBlocking(TJob job)
{
    std::promise<void> done;
    std::future<void> result = done.get_future();
    {
        std::lock_guard lock(FMutex);
        FQueue.push_back({std::nullopt, [&](TRigctldConnection &connection) {
                              try {
                                  job(connection);
                                  done.set_value();
                              } catch (...) {
                                  done.set_exception(std::current_exception());
                              }
                          }});
    }
    FWake.notify_one();
    result.get();
}

bool TRigLink::ReleaseOwed() const { return !FWantedOn && FMayBeKeyed; }

bool TRigLink::Idle() const { return FQueue.empty() && !FBusy && !ReleaseOwed(); }

bool TRigLink::Due(bool on, Clock::time_point now) const
{
    return FSent != on || now - FSentAt >= RepeatInterval;
}

Clock::time_point TRigLink::NextOwnStep() const
{
    if (ReleaseOwed())
        return FSentAt + RepeatInterval;
    if (!FWantedOn && FReadAt + RepeatInterval < FWatchUntil)
        return FReadAt + RepeatInterval;
    return Clock::time_point::max();
}

void TRigLink::Run()
{
    std::unique_lock lock(FMutex);
    for (;;) {
        const auto ready = [this] { return FStop || !FQueue.empty() || Clock::now() >= NextOwnStep(); };
        if (NextOwnStep() != Clock::time_point::max())
            FWake.wait_until(lock, NextOwnStep(), ready);
        else
            FWake.wait(lock, ready);
        if (FStop)
            break;
        if (!ready())
            continue;

        TRequest request;
        if (!FQueue.empty()) {
            request = std::move(FQueue.front());
            FQueue.pop_front();
        } else if (ReleaseOwed()) {
            request.ptt = false; // the release owed, asked for again
        }
        const Clock::time_point now = Clock::now();
        if (request.ptt && !Due(*request.ptt, now)) {
            FChanged.notify_all();
            continue;
        }
        if (request.ptt) {
            FSent = request.ptt;
            FSentAt = now;
        }
        const quint64 keyings = FKeyings;
        FBusy = true;
        lock.unlock();
        bool released = false;
        if (request.job)
            request.job(FConnection);
        else
            released = Exchange(request.ptt);
        const bool abandoned = FConnection.TakeAbandonedKeying();
        lock.lock();
        FBusy = false;
        FWatchArmed = FWatchArmed || abandoned;
        if (!request.job && request.ptt != true)
            FReadAt = Clock::now();
        // A PTT on asked for while the release was under way may have keyed.
        if (released && keyings == FKeyings) {
            FMayBeKeyed = false;
            if (FWatchArmed)
                FWatchUntil = FReadAt + WatchPeriod;
            FWatchArmed = false;
        } else if (!request.job && !request.ptt && !released && !FWantedOn) {
            // The watch found the rig keyed (or could not tell): released
            // again at once.
            FMayBeKeyed = true;
            FSentAt = Clock::time_point();
        }
        FChanged.notify_all();
    }
    FChanged.notify_all();
}

bool TRigLink::ReadsKeyed()
{
    const QString value = FConnection.Read("t");
    if (value.startsWith("RPRT ")) {
        // A rig whose PTT cannot be read: the daemon's answer to "T 0" is all
        // there is to go by.
        if (value == "RPRT -4" || value == "RPRT -11")
            return false;
        OmniRig::CheckStatus({value}, Name());
    }
    bool valid = false;
    const int state = value.toInt(&valid);
    if (!valid || state < 0)
        throw ERigctldError("Rig-control server " + FConnection.Address() + " sent a malformed reply");
    return state != 0;
}

bool TRigLink::Exchange(std::optional<bool> on)
{
    QByteArray command = !on ? "t" : *on ? "T 1" : "T 0";
    try {
        if (on) {
            try {
                OmniRig::CheckStatus(FConnection.Exchange(command));
            } catch (const EOleException &refusal) {
                // Hamlib's text, then which daemon said it; for what a daemon
                // started without a PTT type answers, also the remedy.
                QString daemon = '\n' + Name();
                if (refusal.ErrorCode() == -1 || refusal.ErrorCode() == -11)
                    daemon += ": start rigctld with -P RIG (or the PTT type of your interface)";
                throw EOleException(refusal.Message() + daemon, refusal.ErrorCode());
            }
        }
        // A release holds only once the rig reads released.
        const bool released = on != true && !ReadsKeyed();
        FFailing.clear();
        return released;
    } catch (const std::exception &error) {
        {
            std::lock_guard lock(FMutex);
            if (FStop)
                return false;
        }
        // A failure that persists comes back with every repetition: the user
        // hears of it once, and again when another command fails.
        if (command != FFailing)
            ErrorReport::ShowLater(error);
        FFailing = command;
        return false;
    }
}
