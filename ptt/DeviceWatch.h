#pragma once
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

// Waits for a device that went away to be there again: a USB adapter plugged
// back in gets its node under /dev and its /dev/serial/by-id link anew. The
// nearest folder on the way to the name that exists is watched with inotify,
// so nothing runs until udev changes something there. Each time the name is a
// character device, appeared is asked to take it; until it does (the node of a
// device just unplugged may linger, and udev may set a new node's group a
// moment after making it), it is asked again once a second while the name is
// there.
class TDeviceWatch : public QObject {
public:
    TDeviceWatch(QString devicePath, std::function<bool()> appeared, QObject *parent = nullptr);

    const QString &DevicePath() const { return FDevicePath; }

private:
    void Look();
    // Whether the watch moved to another folder.
    bool WatchNearestFolder();

    QString FDevicePath;
    std::function<bool()> FAppeared;
    QFileSystemWatcher FWatcher;
    QTimer FRetry;
};
