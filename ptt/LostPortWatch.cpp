#include "ptt/LostPortWatch.h"

#include "ptt/CPort.h"
#include "support/ErrorReport.h"
#include "support/Log.h"

TLostPortWatch::TLostPortWatch(TComPort *port, std::function<bool()> stillPtt, TLog &trace, QObject *parent)
    : QObject(parent), FPort(port), FStillPtt(std::move(stillPtt)), FTrace(trace),
      FWatch(TComDevice::DevicePath(port->Port()), [this] { return Reopen(); })
{
    FTrace.Write(1, "COM Port (" + FPort->Port() + ") lost");
    ErrorReport::Guarded([this] { FPort->ClosePort(); });
}

bool TLostPortWatch::Reopen()
{
    // A watch that has done its work may still look once before it goes.
    if (FDone)
        return true;
    // Only while it is still the port PTT goes to, under the name it was lost
    // by, and not opened meanwhile by other means. The port is looked at only
    // once it is known to be PTT's: an earlier one may be gone.
    if (FStillPtt() && TComDevice::DevicePath(FPort->Port()) == FWatch.DevicePath() && !FPort->Connected()) {
        try {
            FPort->OpenPort();
        } catch (const EComPort &) {
            return false;
        }
        FTrace.Write(1, "COM Port (" + FPort->Port() + ") reopened");
    }
    FDone = true;
    deleteLater();
    return true;
}
