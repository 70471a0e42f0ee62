#include "audio/RealTime.h"

#include "station/SessionBus.h"

#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <systemd/sd-bus.h>

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
    // Opened for this one call: sd-bus reads the address (DBUS_SYSTEM_BUS_ADDRESS)
    // as the environment gives it now.
    std::string failure;
    sd_bus *bus = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    constexpr uint64_t patience = 2000000;  // microseconds: the capture waits on it
    int result = sd_bus_open_system(&bus);
    if (result >= 0)
        result = AwaitBus(bus, patience);
    if (result >= 0)
        result = sd_bus_set_method_call_timeout(bus, patience);
    if (result >= 0)
        result = sd_bus_call_method(bus, "org.freedesktop.RealtimeKit1", "/org/freedesktop/RealtimeKit1",
                                    "org.freedesktop.RealtimeKit1", "MakeThreadRealtime", &error, nullptr, "tu",
                                    uint64_t(tid), uint32_t(Priority));
    if (result < 0)
        failure = sd_bus_error_is_set(&error) && error.message ? error.message : std::strerror(-result);
    sd_bus_error_free(&error);
    // No flush: the call has had its answer, or has given up on a bus that a
    // flush would wait for (up to 90 s, and the capture's end joins this thread).
    sd_bus_close_unref(bus);
    if (result >= 0)
        return Granted("RealtimeKit");
    if (failure.empty())
        failure = "no answer";
    return std::string(Prefix) + "normal priority (" + refused + "; RealtimeKit: " + failure + ")";
}
