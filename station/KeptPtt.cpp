#include "station/Station.h"

#include "core/KeyingThread.h"
#include "ptt/CPort.h"
#include "ptt/DaemonProbe.h"
#include "ptt/DeviceWatch.h"
#include "ptt/OmniRig_TLB.h"
#include "station/CoreVox.h"
#include "support/IniFile.h"

// A PTT device missing at start (an adapter not yet plugged in, a rig daemon
// not yet started, as at boot) is taken as soon as it is there, as in the
// window's program; the settings keep the configured mode meanwhile.

void TStation::KeepPttWhileAbsent()
{
    if (FSettings.Ptt == "SERIAL") {
        Trace("COM Port (" + FSettings.ComPort + ") not there: PTT=SERIAL kept, the port opens when it appears");
        FKeptWatch = new TDeviceWatch(TComDevice::DevicePath(FSettings.ComPort), [this] { return TakeKeptPort(); }, this);
        return;
    }
    const QString rig = TIniFile(FConfigFileName).ReadString(OmniRig::Section, OmniRig::Rig1Key, OmniRig::Rig1Default);
    Trace("Rig-control server " + rig + " not there: PTT=CAT kept, connected when it answers");
    FKeptWatch = new TDaemonProbe(rig, [this] { TakeKeptRig(); }, this);
}

bool TStation::TakeKeptPort()
{
    if (FShutDown)
        return true;
    try {
        OpenSerialOutput();
    } catch (const EComPort &) {
        return false; // there, but not yet usable: looked at again
    }
    Trace("COM Port (" + FSettings.ComPort + ") opened: PTT=SERIAL");
    TookKeptOutput();
    return true;
}

void TStation::TakeKeptRig()
{
    if (FShutDown)
        return;
    try {
        ConnectRig();
    } catch (const Exception &failure) {
        Trace("OmniRig error while being created");
        Report("Error while loading OmniRig driver\n" + failure.Message());
        return;
    }
    Trace("Rig-control server answered: PTT=CAT");
    TookKeptOutput();
}

void TStation::TookKeptOutput()
{
    FKeptWatch->deleteLater();
    FKeptWatch = nullptr;
    FKeying->Post([output = FOutput](TKeyingCore &core) { core.SelectOutput(output); });
    emit FVox->Changed(); // the PTT target
}
