#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <thread>

// Tries once a second, on a thread of its own, to connect to a rigctld
// daemon; the first time one answers, `answered` runs on the owner's thread
// and the probe is done.
class TDaemonProbe : public QObject {
public:
    TDaemonProbe(const QString &address, std::function<void()> answered, QObject *parent = nullptr);
    // Stops a connection attempt under way at once.
    ~TDaemonProbe() override;

private:
    std::function<void()> FAnswered;
    int FStopEvent;
    std::jthread FWorker;
};
