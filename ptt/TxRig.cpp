#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "ptt/OmniRig_TLB.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"
#include "support/Led1.h"

#include <QGroupBox>
#include <QRadioButton>

namespace {
// Serial PTT: both lines, DTR always before RTS.
void SwitchLines(TComPort *port, bool on)
{
    port->SetDTRLine(on);
    port->SetRTSLine(on);
}
} // namespace

TFormPlayer::TPttOutput TFormPlayer::SelectedOutput() const
{
    if (PTT_Serial->isChecked())
        return {PTTComPort, nullptr, 0};
    if (PTT_OmniRig->isChecked())
        return {nullptr, OmniRigClient, Rig1RadioButton->isChecked() ? 1 : 2};
    return {};
}

void TFormPlayer::Send(const TPttOutput &output, bool on)
{
    if (output.port) {
        if (output.port->Connected())
            SwitchLines(output.port, on);
    } else if (output.rig != 0) {
        if (!output.client)
            throw ENoRigControlServer();
        IRigX *rig = output.rig == 1 ? output.client->Rig1() : output.client->Rig2();
        rig->SetTx(on ? OmniRig::PM_TX : OmniRig::PM_RX);
    }
}

void TFormPlayer::TxRig(bool on)
{
    if (OnTxRig)
        OnTxRig(on);
    VOXLed->SetOn(on);
    const TPttOutput output = SelectedOutput();
    ReportPttErrorOnce([&] {
        if (on) {
            // Recorded first: a line raised before a failure must still be
            // lowered when this output is left.
            FKeyedOutput = output;
            Send(output, true);
            return;
        }
        Send(output, false);
        if (FKeyedOutput != output)
            Send(FKeyedOutput, false);
        FKeyedOutput = {};
    });
}

void TFormPlayer::ReportPttErrorOnce(const std::function<void()> &command)
{
    try {
        command();
    } catch (const Exception &) {
        // A failure that persists comes back with every keying tick; the user
        // sees it once, and again after a command has got through.
        if (FPttErrorReported)
            throw EAbort();
        FPttErrorReported = true;
        throw;
    }
    FPttErrorReported = false;
}

void TFormPlayer::ReleaseLeftOutput()
{
    // A change of mode or rig never leaves the output it turns away from keyed.
    if (FKeyedOutput == TPttOutput{} || FKeyedOutput == SelectedOutput())
        return;
    ErrorReport::Guarded([this] {
        ReportPttErrorOnce([this] {
            Send(FKeyedOutput, false);
            FKeyedOutput = {};
        });
    });
}

void TFormPlayer::PTT_SerialClick()
{
    ReleaseLeftOutput();
    // The device allows one opener: the earlier object lets it go first.
    if (PTTComPort)
        PTTComPort->ClosePort();
    PTTComPort = SetupSerialPort(ComPortName);
}

void TFormPlayer::PTT_OmniRigClick()
{
    ReleaseLeftOutput();
    RigGroupBox->show();
    OmniRigClient = SetupOmniRig();
}

void TFormPlayer::PTT_NoneClick() { ReleaseLeftOutput(); }

void TFormPlayer::SetRig1()
{
    Rig1RadioButton->setChecked(true);
    Rig2RadioButton->setChecked(false);
    ReleaseLeftOutput();
}

void TFormPlayer::SetRig2()
{
    Rig2RadioButton->setChecked(true);
    Rig1RadioButton->setChecked(false);
    ReleaseLeftOutput();
}
