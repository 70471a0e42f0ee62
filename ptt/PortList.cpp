#include "ptt/PortList.h"

#include "ptt/Cm108Devices.h"

#include <QDir>
#include <QFile>

namespace {
const QString ById = "/serial/by-id/";

// An 8250 port without a UART reports type 0 (PORT_UNKNOWN).
bool UartPresent(const QString &sysfsRoot, const QString &name)
{
    QFile type(sysfsRoot + "/class/tty/" + name + "/type");
    if (!type.open(QIODevice::ReadOnly))
        return false;
    return type.readAll().trimmed().toInt() != 0;
}
} // namespace

QStringList ListPttPorts(const QString &devRoot, const QString &sysfsRoot)
{
    QStringList ports;
    const QDir byId(devRoot + ById);
    for (const QString &link : byId.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        ports << "/dev" + ById + link;
    const QDir dev(devRoot);
    const QDir::Filters devices = QDir::System | QDir::Files;
    ports << dev.entryList({"ttyUSB*", "ttyACM*"}, devices);
    for (const QString &name : dev.entryList({"ttyS*"}, devices))
        if (UartPresent(sysfsRoot, name))
            ports << name;
    const std::vector<TCm108Device> cm108 = FindCm108Devices(sysfsRoot);
    for (const TCm108Device &device : cm108)
        ports << "/dev/" + device.Hidraw;
    if (!cm108.empty())
        ports << "CM108";
    return ports;
}

QString PortCaption(const QString &name)
{
    const qsizetype at = name.indexOf(ById);
    return at >= 0 ? name.mid(at + ById.size()) : name;
}
