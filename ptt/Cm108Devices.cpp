#include "ptt/Cm108Devices.h"

#include "support/Digits.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

bool IsCm108PortName(const QString &name)
{
    const QStringView file = QStringView(name).mid(name.lastIndexOf('/') + 1);
    return name.compare("CM108", Qt::CaseInsensitive) == 0 || (file.startsWith(u"hidraw") && AllDigits(file.mid(6)));
}

namespace {
bool InFamily(const QString &hidDevice)
{
    static const QRegularExpression id("^([0-9A-Fa-f]{4}):([0-9A-Fa-f]{4}):([0-9A-Fa-f]{4})\\.");
    const QRegularExpressionMatch match = id.match(QFileInfo(hidDevice).fileName());
    if (!match.hasMatch() || match.captured(1) != "0003") // USB
        return false;
    const QString vendor = match.captured(2).toLower(), product = match.captured(3).toLower();
    return vendor == "0d8c" || vendor == "0c76" || (vendor == "1209" && product == "7388");
}

QString Parent(const QString &path) { return path.isEmpty() ? QString() : QFileInfo(path).path(); }
} // namespace

std::vector<TCm108Device> FindCm108Devices(const QString &sysfsRoot)
{
    std::vector<TCm108Device> devices;
    QDir hidraw(sysfsRoot + "/class/hidraw");
    QStringList names = hidraw.entryList({"hidraw*"}, QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        return a.mid(6).toInt() < b.mid(6).toInt();
    });
    for (const QString &name : names) {
        const QString hidDevice = QFileInfo(hidraw.filePath(name + "/device")).canonicalFilePath();
        if (!hidDevice.isEmpty() && InFamily(hidDevice))
            devices.push_back({name, Parent(Parent(hidDevice))});
    }
    return devices;
}

QString Cm108OfSoundCard(const QString &sysfsRoot, const QString &card)
{
    bool number = false;
    card.toUInt(&number);
    const QString cardFolder = number ? sysfsRoot + "/class/sound/card" + card : sysfsRoot + card;
    const QString usbDevice = Parent(QFileInfo(cardFolder + "/device").canonicalFilePath());
    if (usbDevice.isEmpty())
        return QString();
    for (const TCm108Device &device : FindCm108Devices(sysfsRoot))
        if (device.UsbDevice == usbDevice)
            return device.Hidraw;
    return QString();
}

QString ResolveCm108(const QString &sysfsRoot, const QString &capturedCard)
{
    // Never another card's GPIO: it may key another transmitter.
    if (!capturedCard.isEmpty())
        return Cm108OfSoundCard(sysfsRoot, capturedCard);
    const std::vector<TCm108Device> devices = FindCm108Devices(sysfsRoot);
    return devices.size() == 1 ? devices.front().Hidraw : QString();
}
