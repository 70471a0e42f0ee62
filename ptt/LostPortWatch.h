#pragma once
#include "ptt/DeviceWatch.h"

#include <QObject>
#include <functional>

class TComPort;
class TLog;

// The serial device PTT went to has gone: the port is closed at once and
// opened again once the device is back under the name it was lost by, for as
// long as `stillPtt` says the port is still the one PTT goes to. Traces
// "COM Port (<name>) lost" and, once open again, "... reopened". Deletes
// itself once done; a new loss replaces it by deleting it.
class TLostPortWatch final : public QObject {
public:
    TLostPortWatch(TComPort *port, std::function<bool()> stillPtt, TLog &trace, QObject *parent);

private:
    bool Reopen();

    TComPort *FPort;
    std::function<bool()> FStillPtt;
    TLog &FTrace;
    TDeviceWatch FWatch;
    bool FDone = false;
};
