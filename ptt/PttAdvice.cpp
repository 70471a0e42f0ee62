#include "ptt/PttAdvice.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>

namespace {
QString DeviceGroup(const QString &devicePath)
{
    struct stat info {};
    if (stat(devicePath.toLocal8Bit().constData(), &info) != 0)
        return QString();
    const group *entry = getgrgid(info.st_gid);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(info.st_gid);
}
} // namespace

QString PttFailureAdvice(int error, const QString &devicePath, bool lineSwitch)
{
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
    case ENXIO: remedy = "no such device; is it plugged in?"; break;
    case EBUSY: remedy = "in use by another program"; break;
    case ENOTTY:
        if (lineSwitch)
            remedy = "this device has no modem control lines";
        break;
    default: break;
    }
    const QString system = QString::fromLocal8Bit(std::strerror(error));
    return remedy.isEmpty() ? system : system + "; " + remedy;
}
