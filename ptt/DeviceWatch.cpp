#include "ptt/DeviceWatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {
bool IsCharacterDevice(const QString &path)
{
    struct stat info {};
    return stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
}
} // namespace

TDeviceWatch::TDeviceWatch(QString devicePath, std::function<bool()> appeared, QObject *parent)
    : QObject(parent), FDevicePath(std::move(devicePath)), FAppeared(std::move(appeared))
{
    FRetry.setInterval(1000);
    FRetry.setSingleShot(true);
    connect(&FRetry, &QTimer::timeout, this, &TDeviceWatch::Look);
    connect(&FWatcher, &QFileSystemWatcher::directoryChanged, this, &TDeviceWatch::Look);
    WatchNearestFolder();
    // It may be back already: a device is found lost only when it is next
    // switched. Looked at once the owner holds the watch.
    QTimer::singleShot(0, this, &TDeviceWatch::Look);
}

void TDeviceWatch::Look()
{
    do {
        if (IsCharacterDevice(FDevicePath)) {
            if (FAppeared())
                return;
            FRetry.start();
        }
        // What came into a folder before it was watched sent no event there:
        // once the watch moves, the device is looked for again.
    } while (WatchNearestFolder());
}

bool TDeviceWatch::WatchNearestFolder()
{
    // A folder on the way may come or go with the device (/dev/serial/by-id
    // goes with the last adapter).
    QString folder = QFileInfo(FDevicePath).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != "/")
        folder = QFileInfo(folder).absolutePath();
    if (FWatcher.directories() == QStringList{folder})
        return false;
    if (!FWatcher.directories().isEmpty())
        FWatcher.removePaths(FWatcher.directories());
    return FWatcher.addPath(folder);
}
