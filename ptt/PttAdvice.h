#pragma once
#include <QString>

// What the system says about a failed PTT device, named as the user named it,
// and what the user can do about it where that is known:
// "/dev/ttyUSB0: Permission denied; the device belongs to group dialout: add
// your user to that group ...". It goes on a line of its own after the
// program's fixed message.
// portName: the configured name; devicePath: the device it opens (the same
// for a path). lineSwitch: the failure came from switching DTR or RTS.
QString PttFailureAdvice(int error, const QString &portName, const QString &devicePath, bool lineSwitch = false);

// A Windows port name (COM1, COM2 ...), which names no device here.
bool IsWindowsPortName(const QString &portName);
