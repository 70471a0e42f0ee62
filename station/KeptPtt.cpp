#include "station/Station.h"

#include "core/KeyingThread.h"
#include "ptt/AbsentPtt.h"
#include "ptt/CPort.h"
#include "station/CoreVox.h"
#include "support/Exception.h"

// A PTT device missing at start (an adapter not yet plugged in, a rig daemon
// not yet started, as at boot) is taken as soon as it is there, as in the
// window's program; the settings keep the configured mode meanwhile.

void TStation::KeepPttWhileAbsent()
{
    FKeptWatch = WatchAbsentPtt(FSettings.Ptt, FSettings.ComPort, FConfigFileName, FTraceLog,
                                [this] { return TakeKeptPort(); }, [this] { TakeKeptRig(); }, this);
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
