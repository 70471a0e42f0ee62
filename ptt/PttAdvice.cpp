#include "ptt/PttAdvice.h"

#include "support/Digits.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString DeviceGroup(const QString &devicePath)
{
    struct stat info {};
    if (stat(devicePath.toLocal8Bit().constData(), &info) != 0)
        return QString();
    const group *entry = getgrgid(info.st_gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(info.st_gid);
}

// The other processes that hold the device open, as "name (process id)";
// only those whose descriptors this user may see.
QStringList DeviceHolders(const QString &devicePath)
{
    struct stat device {};
    if (stat(devicePath.toLocal8Bit().constData(), &device) != 0 || !S_ISCHR(device.st_mode))
        return {};
    QStringList holders;
    const QString self = QString::number(getpid());
    for (const QString &pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
        if (pid == self)
            continue;
        const QDir fds("/proc/" + pid + "/fd");
        for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            struct stat held {};
            if (stat(fds.filePath(fd).toLocal8Bit().constData(), &held) == 0 && S_ISCHR(held.st_mode)
                && held.st_rdev == device.st_rdev) {
                QFile comm("/proc/" + pid + "/comm");
                const QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : "?";
                holders << name + " (process " + pid + ")";
                break;
            }
        }
    }
    return holders;
}
} // namespace

bool IsWindowsPortName(const QString &portName)
{
    return portName.startsWith("COM", Qt::CaseInsensitive) && AllDigits(QStringView(portName).mid(3));
}

QString PttFailureAdvice(int error, const QString &portName, const QString &devicePath, bool lineSwitch)
{
    const QString system = QString::fromLocal8Bit(std::strerror(error));
    if (IsWindowsPortName(portName) && (error == ENOENT || error == ENODEV || error == ENXIO))
        return portName + ": " + system + "; " + portName
               + " is a Windows name: choose the port in COM Settings (for example /dev/ttyUSB0, a /dev/serial/by-id "
                 "name, or CM108)";
    QString remedy;
    switch (error) {
    case EACCES:
    case EPERM: {
        const QString group = DeviceGroup(devicePath);
        remedy = (group.isEmpty() ? QString() : "the device belongs to group " + group + ": ")
                 + "add your user to that group (usually dialout; plugdev for hidraw), then log in again";
        break;
    }
    case ENOENT:
    case ENODEV:
    case ENXIO: remedy = "no such device; plug it in or choose another port"; break;
    case EBUSY: {
        const QStringList holders = DeviceHolders(devicePath);
        remedy = holders.isEmpty() ? "in use by another program" : "in use by " + holders.join(", ");
        break;
    }
    case ENOTTY:
        if (lineSwitch)
            remedy = "this device has no modem control lines";
        break;
    default: break;
    }
    const QString subject = portName == devicePath || portName.isEmpty() ? devicePath : portName + " (" + devicePath + ")";
    return subject + ": " + (remedy.isEmpty() ? system : system + "; " + remedy);
}
