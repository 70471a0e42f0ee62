#pragma once
#include <QString>
#include <QStringList>

// The PTT ports of this machine, as names the port setup opens: links under
// /dev/serial/by-id (full paths, which survive replugging), ttyUSB* and
// ttyACM*, ttyS* only where sysfs reports a UART behind it, the hidraw devices
// of CM108-family sound cards ("/dev/hidraw2") and, when there is one, "CM108".
// Nothing is opened to find them: a probe could disturb the system console.
QStringList ListPttPorts(const QString &devRoot, const QString &sysfsRoot);

// How a port is shown: a by-id link by its id, any other name as it is.
QString PortCaption(const QString &name);
