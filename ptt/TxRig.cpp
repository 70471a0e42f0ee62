#include "app/KOTARUnit.h"

#include "audio/Relay.h"
#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"
#include "ptt/Cm108PttOutput.h"
#include "ptt/OmniRig_TLB.h"
#include "ptt/SerialPttOutput.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"
#include "support/LEDButton.h"
#include "support/Led1.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QScopeGuard>

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
            throw ENoRigControlServer();
        IRigX *rig = Rig1RadioButton->isChecked() ? OmniRigClient->Rig1() : OmniRigClient->Rig2();
        return rig->Output();
    }
    return nullptr;
}

std::shared_ptr<TPttOutput> TFormPlayer::SelectedOutputIfAny()
{
    try {
        return SelectedOutput();
    } catch (const Exception &) {
        return nullptr;
    }
}

std::shared_ptr<TPttOutput> TFormPlayer::ActiveOutput() { return FPttOn ? SelectedOutputIfAny() : nullptr; }

void TFormPlayer::TxRig(bool on)
{
    if (OnTxRig)
        OnTxRig(on);
    SetVoxLed(on);
    FPttOn = on;
    if (FRelay)
        FRelay->SetGate(on);
    if (on && TxTimeout > 0) {
        TimerTimeout->SetInterval(TxTimeout * 1000);
        TimerTimeout->SetEnabled(true);
    } else if (!on) {
        TimerTimeout->SetEnabled(false);
    }
    const auto updateRetry = qScopeGuard([this] { UpdateReleaseRetry(); });
    ReportPttFailure(on, [&] {
        try {
            Send(on);
        } catch (const Exception &) {
            if (PTT_Serial->isChecked() && PTTComPort && PTTComPort->DeviceGone())
                DropLostSerialDevice();
            throw;
        }
    });
}

void TFormPlayer::Send(bool on)
{
    if (on) {
        if (const auto output = SelectedOutput())
            FKeyedOutputs.Key(output);
        return;
    }
    // Off goes to every output that may be keyed, and to the selected one
    // even if it never was.
    FKeyedOutputs.ReleaseAll(SelectedOutputIfAny());
}

void TFormPlayer::DropLostSerialDevice()
{
    // Nothing is keyed through a device that is gone, and the window says so:
    // idle. Serial mode stays, as for any port that is not open, and the port
    // is opened again when its name comes back.
    TraceLog.Write(1, "COM Port (" + PTTComPort->Port() + ") lost");
    FPttOn = false;
    if (FRelay)
        FRelay->SetGate(false);
    TimerTimeout->SetEnabled(false);
    TimerDelay->SetEnabled(false);
    TrackDelay->SetSelEnd(0);
    TuneButton->SetLEDOn(false);
    if (!LEDMuteButton->LEDOn()) {
        SetVoxLed(false);
        ChangeStateIcon(IconIDLE);
    }
    ErrorReport::Guarded([this] { PTTComPort->ClosePort(); });
    WatchLostSerialDevice();
}

void TFormPlayer::ReportPttFailure(bool on, const std::function<void()> &command)
{
    // A failure that persists comes back with every keying tick and every
    // retried release; each kind is shown once per run of failures.
    bool &failing = on ? FKeyingFails : FReleaseFails;
    try {
        command();
    } catch (const Exception &) {
        if (failing)
            throw EAbort();
        failing = true;
        throw;
    }
    failing = false;
}

void TFormPlayer::UpdateReleaseRetry()
{
    const bool owed = FKeyedOutputs.Owed(ActiveOutput());
    TimerRelease->SetEnabled(owed);
    ShowReleaseOwed(owed);
    if (!owed)
        FUnconfirmed.clear();
}

// Releases every output but the one PTT is on at now.
void TFormPlayer::TimerReleaseTimer()
{
    const auto updateRetry = qScopeGuard([this] { UpdateReleaseRetry(); });
    // A second after a release an output still owes it: traced once per run
    // of failures.
    QStringList owing;
    for (const auto &output : FKeyedOutputs.Owing(ActiveOutput())) {
        owing << output->Name();
        if (!FUnconfirmed.contains(owing.last()))
            TraceLog.Write(1, "PTT release of " + owing.last() + " not confirmed");
    }
    FUnconfirmed = owing;
    ReportPttFailure(false, [this] { FKeyedOutputs.ReleaseAllBut(ActiveOutput()); });
}

// A change of mode or rig never leaves the output it turns away from keyed.
void TFormPlayer::ReleaseLeftOutput()
{
    ErrorReport::Guarded([this] { TimerReleaseTimer(); });
}

void TFormPlayer::ReleaseAllOutputs(std::chrono::milliseconds patience)
{
    ErrorReport::Guarded([this] { TxRig(false); });
    FKeyedOutputs.Settle(std::chrono::steady_clock::now() + patience);
}

void TFormPlayer::PTT_SerialClick()
{
    ReleaseLeftOutput();
    // The device allows one opener: the earlier object lets it go first.
    if (PTTComPort)
        PTTComPort->ClosePort();
    PTTComPort = SetupSerialPort(ComPortName);
}

void TFormPlayer::ReopenPttPort()
{
    PTTComPort->ClosePort();
    PTTComPort = SetupSerialPort(ComPortName);
    ReleaseLeftOutput();
}

void TFormPlayer::PTT_OmniRigClick()
{
    ReleaseLeftOutput();
    RigGroupBox->show();
    OmniRigClient = SetupOmniRig();
}

void TFormPlayer::PTT_NoneClick() { ReleaseLeftOutput(); }

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
