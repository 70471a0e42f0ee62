#include "station/SessionBus.h"

#include <QSocketNotifier>
#include <algorithm>
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
    // due is on the monotonic clock, in microseconds; 0 means at once.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowUs = uint64_t(now.tv_sec) * 1000000 + uint64_t(now.tv_nsec) / 1000;
    FDue.start(due <= nowUs ? 0 : int(std::min<uint64_t>((due - nowUs + 999) / 1000, INT_MAX)));
}
