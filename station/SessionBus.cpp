#include "station/SessionBus.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <poll.h>

sd_bus *OpenSessionBus(const QString &given, QString &failure)
{
    QString address = given;
    if (address.isEmpty())
        address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty() && qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        address = "unix:path=" + qEnvironmentVariable("XDG_RUNTIME_DIR") + "/bus";
    if (address.isEmpty()) {
        failure = "neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set";
        return nullptr;
    }
    sd_bus *bus = nullptr;
    int error = sd_bus_new(&bus);
    if (error >= 0)
        error = sd_bus_set_address(bus, address.toUtf8().constData());
    if (error >= 0)
        error = sd_bus_set_bus_client(bus, 1);
    if (error >= 0)
        error = sd_bus_start(bus);
    if (error >= 0)
        return bus;
    sd_bus_unref(bus);
    failure = address + ": " + std::strerror(-error);
    return nullptr;
}

namespace {
// sd-bus's clock: CLOCK_MONOTONIC in microseconds.
uint64_t Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000 + uint64_t(now.tv_nsec) / 1000;
}
} // namespace

int AwaitBus(sd_bus *bus, uint64_t patience)
{
    const uint64_t deadline = Now() + patience;
    for (;;) {
        int result = sd_bus_is_ready(bus);
        if (result == 0)
            result = sd_bus_process(bus, nullptr);
        if (result == 0) {
            const uint64_t at = Now();
            result = at >= deadline ? -ETIMEDOUT : sd_bus_wait(bus, deadline - at);
        }
        if (result < 0)
            return result;
        if (sd_bus_is_ready(bus) > 0)
            return 0;
    }
}

TSessionBus::TSessionBus(const QString &address, QObject *parent) : QObject(parent)
{
    FBus = OpenSessionBus(address, FFailure);
    if (!FBus)
        return;
    const int fd = sd_bus_get_fd(FBus);
    FRead = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    FWrite = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(FRead.get(), &QSocketNotifier::activated, this, &TSessionBus::Process);
    connect(FWrite.get(), &QSocketNotifier::activated, this, &TSessionBus::Process);
    FDue.setSingleShot(true);
    connect(&FDue, &QTimer::timeout, this, &TSessionBus::Process);
    Serve();
}

TSessionBus::~TSessionBus()
{
    // The notifiers go before the socket they watch. Closed without a flush,
    // which would wait for a bus that does not answer.
    FRead.reset();
    FWrite.reset();
    if (FBus)
        sd_bus_close_unref(FBus);
}

void TSessionBus::Process()
{
    int result;
    while ((result = sd_bus_process(FBus, nullptr)) > 0) {
    }
    if (result < 0) {
        // The bus went away: the program runs on without it.
        FRead->setEnabled(false);
        FWrite->setEnabled(false);
        FDue.stop();
        emit Lost(std::strerror(-result));
        return;
    }
    Serve();
}

void TSessionBus::Serve()
{
    if (!FBus || !FRead->isEnabled())
        return;
    const int events = sd_bus_get_events(FBus);
    FWrite->setEnabled(events > 0 && (events & POLLOUT));
    uint64_t due = 0;
    if (sd_bus_get_timeout(FBus, &due) < 0 || due == UINT64_MAX) {
        FDue.stop();
        return;
    }
    // due is on sd-bus's clock; 0 means at once.
    const uint64_t nowUs = Now();
    FDue.start(due <= nowUs ? 0 : int(std::min<uint64_t>((due - nowUs + 999) / 1000, INT_MAX)));
}
