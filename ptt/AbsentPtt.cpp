#include "ptt/AbsentPtt.h"

#include "ptt/CPort.h"
#include "ptt/DaemonProbe.h"
#include "ptt/DeviceWatch.h"
#include "ptt/OmniRig_TLB.h"
#include "support/IniFile.h"
#include "support/Log.h"

QObject *WatchAbsentPtt(const QString &mode, const QString &comPort, const QString &configFileName, TLog &trace,
                        std::function<bool()> takePort, std::function<void()> takeRig, QObject *parent)
{
    if (mode == "SERIAL") {
        trace.Write(1, "COM Port (" + comPort + ") not there: PTT=SERIAL kept, the port opens when it appears");
        return new TDeviceWatch(TComDevice::DevicePath(comPort), std::move(takePort), parent);
    }
    const QString rig = TIniFile(configFileName).ReadString(OmniRig::Section, OmniRig::Rig1Key, OmniRig::Rig1Default);
    trace.Write(1, "Rig-control server " + rig + " not there: PTT=CAT kept, connected when it answers");
    return new TDaemonProbe(rig, std::move(takeRig), parent);
}
