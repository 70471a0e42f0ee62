#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"
#include "ptt/Cm108PttOutput.h"
#include "ptt/LostPortWatch.h"
#include "ptt/OmniRig_TLB.h"
#include "ptt/SerialPttOutput.h"
#include "station/CoreVox.h"

#include <QGroupBox>
#include <QRadioButton>

std::shared_ptr<TPttOutput> TFormPlayer::SelectedOutput()
{
    if (PTT_Serial->isChecked()) {
        // The port name decides the kind: a CM108 name keys the GPIO output
        // opened for it (none when that failed), any other the serial lines.
        if (PTTComPort && IsCm108PortName(PTTComPort->Port()))
            return FCm108Output;
        if (!FSerialOutput || FSerialOutput->Port() != PTTComPort)
            FSerialOutput = std::make_shared<TSerialPttOutput>(PTTComPort);
        return FSerialOutput;
    }
    if (PTT_OmniRig->isChecked()) {
        if (!OmniRigClient)
            return std::make_shared<TUnavailableOutput>(OmniRig::NoServerMessage);
        IRigX *rig = Rig1RadioButton->isChecked() ? OmniRigClient->Rig1() : OmniRigClient->Rig2();
        return rig->Output();
    }
    return nullptr;
}

void TFormPlayer::UpdatePttOutput()
{
    FPttTarget = SelectedOutput();
    Keying->Post([output = FPttTarget](TKeyingCore &core) { core.SelectOutput(output); });
    if (FVox)
        FVox->TargetChanged();
}

void TFormPlayer::TxRig(bool on)
{
    Keying->Post([on](TKeyingCore &core) { core.TxRig(on); });
}

void TFormPlayer::TimerReleaseTimer()
{
    Keying->Post([](TKeyingCore &core) { core.ReleaseRetryTick(); });
}

void TFormPlayer::SerialDeviceLost()
{
    // Serial mode stays, as for any port that is not open, and the port is
    // opened again when its name comes back.
    if (!PTT_Serial->isChecked() || !PTTComPort || !PTTComPort->DeviceGone())
        return;
    if (FLostPortWatch)
        FLostPortWatch->deleteLater();
    TComPort *lost = PTTComPort;
    FLostPortWatch = new TLostPortWatch(
        lost, [this, lost] { return lost == PTTComPort && PTT_Serial->isChecked(); }, TraceLog, this);
}

void TFormPlayer::PTT_SerialClick()
{
    UpdatePttOutput();
    // The device allows one opener: the earlier object lets it go first.
    if (PTTComPort)
        PTTComPort->ClosePort();
    PTTComPort = SetupSerialPort(ComPortName);
    UpdatePttOutput();
}

void TFormPlayer::ReopenPttPort()
{
    PTTComPort->ClosePort();
    PTTComPort = SetupSerialPort(ComPortName);
    UpdatePttOutput();
}

void TFormPlayer::PTT_OmniRigClick()
{
    UpdatePttOutput();
    RigGroupBox->show();
    OmniRigClient = SetupOmniRig();
    UpdatePttOutput();
}

void TFormPlayer::PTT_NoneClick() { UpdatePttOutput(); }

// The rig buttons' own selection handler releases the rig being left.
void TFormPlayer::SetRig1()
{
    Rig1RadioButton->setChecked(true);
    Rig2RadioButton->setChecked(false);
}

void TFormPlayer::SetRig2()
{
    Rig2RadioButton->setChecked(true);
    Rig1RadioButton->setChecked(false);
}
