#include "audio/RealTime.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

namespace {
constexpr const char *Prefix = "Capture thread: ";

std::string Granted(const char *how)
{
    return std::string(Prefix) + "real-time priority " + std::to_string(RealTime::Priority) + " (" + how + ")";
}
} // namespace

std::string RealTime::Raise(std::string &why)
{
    const sched_param parameters{Priority};
    const int error = pthread_setschedparam(pthread_self(), SCHED_RR, &parameters);
    if (error == 0) {
        rlimit limit{};
        getrlimit(RLIMIT_RTPRIO, &limit);
        return Granted(limit.rlim_cur >= rlim_t(Priority) ? "RLIMIT_RTPRIO" : "CAP_SYS_NICE");
    }
    why = std::string("SCHED_RR: ") + std::strerror(error);
    return {};
}

std::string RealTime::ViaRealtimeKit(pid_t tid, const std::string &refused)
{
    // RealtimeKit serves only processes that bound their real-time CPU time,
    // so that a runaway thread cannot lock up the machine; 200 ms is its limit.
    constexpr rlim_t cpuLimit = 200000;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) == 0 && (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > cpuLimit)) {
        limit.rlim_cur = limit.rlim_max = cpuLimit;
        setrlimit(RLIMIT_RTTIME, &limit);
    }
    const QString name = "kotarplus-realtimekit";
    QString failure;
    {
        // The address as the environment gives it now: libdbus reads it once
        // per process, and another part of the program may have done so.
        const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
        QDBusConnection bus = address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, name)
                                                : QDBusConnection::connectToBus(address, name);
        if (!bus.isConnected()) {
            failure = bus.lastError().message();
        } else {
            QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.RealtimeKit1",
                                                               "/org/freedesktop/RealtimeKit1",
                                                               "org.freedesktop.RealtimeKit1", "MakeThreadRealtime");
            call << quint64(tid) << quint32(Priority);
            const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
            if (reply.type() == QDBusMessage::ErrorMessage)
                failure = reply.errorMessage();
        }
    }
    QDBusConnection::disconnectFromBus(name);
    if (failure.isNull())
        return Granted("RealtimeKit");
    if (failure.isEmpty())
        failure = "no answer";
    return std::string(Prefix) + "normal priority (" + refused + "; RealtimeKit: " + failure.toStdString() + ")";
}
