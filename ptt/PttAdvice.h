#pragma once
#include <QString>

// What the system says about a failed PTT device, and what the user can do
// about it where that is known: "Permission denied; the device belongs to
// group dialout: add your user to that group ...".
// lineSwitch: the failure came from switching DTR or RTS.
QString PttFailureAdvice(int error, const QString &devicePath, bool lineSwitch = false);
