#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <systemd/sd-bus.h>

class QSocketNotifier;

// Opens a client connection to a session bus: address as D-Bus writes it, or
// empty for the user's (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus).
// Returns null with why in failure. sd-bus rather than Qt's D-Bus module: it is
// in memory already (the sound server's library links it), Qt's would add a
// megabyte and a thread to the station.
sd_bus *OpenSessionBus(const QString &address, QString &failure);

// Waits at most patience microseconds for a connection just opened to be
// ready: sd-bus's own calls would wait for the bus's greeting up to 90 s,
// whatever their time limit. 0 when ready, else a negative errno.
int AwaitBus(sd_bus *bus, uint64_t patience);

// A session-bus connection served by the event loop of the thread that made
// it; sd-bus objects are not shared between threads, so it is used on that
// thread only.
class TSessionBus : public QObject {
    Q_OBJECT
public:
    explicit TSessionBus(const QString &address = {}, QObject *parent = nullptr);
    ~TSessionBus() override;

    // Null when there is no connection; Failure() says why.
    sd_bus *Bus() const { return FBus; }
    const QString &Failure() const { return FFailure; }
    // After sending or a call of its own: the connection is waited on for
    // what that needs (writing the rest, answers read along the way).
    void Serve();

signals:
    // The bus closed the connection or failed it; nothing is served after.
    void Lost(const QString &why);

private:
    void Process();

    sd_bus *FBus = nullptr;
    QString FFailure;
    std::unique_ptr<QSocketNotifier> FRead, FWrite;
    QTimer FDue;  // sd-bus's own deadlines (calls, authentication) and queued messages
};
