#include "app/KOTARUnit.h"

#include "ptt/AbsentPtt.h"
#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"
#include "ptt/PttPortSetup.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QTimer>

// A PTT device missing at start-up (an adapter not yet plugged in, a rig
// daemon not yet started) does not cost the user the setting: the window
// shows mode none for the run, the file keeps the configured mode, and the
// device is taken as soon as it is there.

void TFormPlayer::KeepModeWhileAbsent()
{
    if (!PTT_None->isChecked() || (FPttRead != "SERIAL" && FPttRead != "CAT"))
        return;
    FModeKept = FPttRead;
    FKeptWatch = WatchAbsentPtt(FModeKept, ComPortName, ConfigFileName, TraceLog, [this] { return TakeKeptPort(); },
                                [this] { TakeKeptRig(); }, this);
}

bool TFormPlayer::TakeKeptPort()
{
    if (FModeKept != "SERIAL")
        return true;
    try {
        if (IsCm108PortName(ComPortName))
            FCm108Output = OpenCm108Output(ComPortName, PttLines, SysfsRoot,
                                           CapturedSoundCard ? CapturedSoundCard() : QString());
        else
            PTTComPort->OpenPort();
    } catch (const EComPort &) {
        return false; // there, but not yet usable: looked at again
    }
    TraceLog.Write(1, "COM Port (" + ComPortName + ") opened: PTT=SERIAL");
    RestoreKeptMode(PTT_Serial);
    return true;
}

void TFormPlayer::TakeKeptRig()
{
    if (FModeKept != "CAT")
        return;
    OmniRigClient = SetupOmniRig();
    if (!OmniRigClient)
        return;
    TraceLog.Write(1, "Rig-control server answered: PTT=CAT");
    RigGroupBox->show();
    RestoreKeptMode(PTT_OmniRig);
}

void TFormPlayer::RestoreKeptMode(QRadioButton *mode)
{
    // The mode as configured, without its handler: the output is open already.
    FApplyingConfiguration = true;
    mode->setChecked(true);
    FApplyingConfiguration = false;
    DropKeptMode();
    UpdatePttOutput();
}

void TFormPlayer::DropKeptMode()
{
    FModeKept.clear();
    if (FKeptWatch)
        FKeptWatch->deleteLater();
    FKeptWatch = nullptr;
}

void TFormPlayer::WatchForHangUp()
{
    // A port that hangs up while nothing is keyed is noticed here, not at the
    // next keying.
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] {
        if (PTT_Serial->isChecked() && PTTComPort && PTTComPort->DeviceGone())
            SerialDeviceLost();
    });
    poll->start(1000);
}
