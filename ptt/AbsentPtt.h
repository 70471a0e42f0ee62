#pragma once
#include <QObject>
#include <QString>
#include <functional>

class TLog;

// A PTT device missing at start (an adapter not yet plugged in, a rig daemon
// not yet started) is waited for while the settings keep its mode. Traces what
// is kept and returns the watch, owned by parent: for PTT=SERIAL the device
// watch of comPort, which asks takePort (true: taken) whenever the device is
// there; for PTT=CAT the probe of the rig daemon the configuration names,
// which calls takeRig once it answers.
QObject *WatchAbsentPtt(const QString &mode, const QString &comPort, const QString &configFileName, TLog &trace,
                        std::function<bool()> takePort, std::function<void()> takeRig, QObject *parent);
