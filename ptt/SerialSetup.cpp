#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"
#include "ptt/Cm108PttOutput.h"
#include "ptt/DeviceWatch.h"
#include "ptt/PttAdvice.h"
#include "support/Dialogs.h"

#include <QRadioButton>
#include <cerrno>

TComPort *TFormPlayer::SetupSerialPort(const QString &portName, bool open)
{
    auto *port = new TComPort(this);
    port->SetBaudRate(br4800);
    port->SetPort(portName);
    port->FlowControl().SetControlDTR(dtrDisable);
    port->FlowControl().SetControlRTS(rtsDisable);
    port->SetPttLines(PttLines);
    FCm108Output.reset();
    if (open) {
        try {
            if (IsCm108PortName(portName))
                OpenCm108Output(portName);
            else
                port->OpenPort();
        } catch (const EComPort &failure) {
            ReportPortFailure(failure);
        }
    }
    TraceLog.Write(1, "COM Port (" + port->Port() + ") created");
    return port;
}

void TFormPlayer::OpenCm108Output(const QString &portName)
{
    QString device = TComDevice::DevicePath(portName);
    if (portName.compare("CM108", Qt::CaseInsensitive) == 0) {
        const QString hidraw = ResolveCm108(SysfsRoot, CapturedSoundCard ? CapturedSoundCard() : QString());
        if (hidraw.isEmpty())
            throw EComPort(EComPort(1, ENODEV), portName + ": no CM108 sound card found; is it plugged in?");
        device = "/dev/" + hidraw;
    }
    auto output = std::make_shared<TCm108PttOutput>(portName, device, PttLines.GpioPin());
    output->Open();
    FCm108Output = output;
}

void TFormPlayer::ReportPortFailure(const EComPort &failure)
{
    // The fixed message and trace line first; what the system says about the
    // port and what to do go on a line of their own.
    QString advice = failure.Advice();
    if (advice.isEmpty() && failure.SystemError() > 0)
        advice = PttFailureAdvice(failure.SystemError(), ComPortName, TComDevice::DevicePath(ComPortName));
    Dialogs::ShowMessage("Defined COM Port not available" + (advice.isEmpty() ? QString() : "\n" + advice));
    TraceLog.Write(1, "COM Port (" + ComPortName + ") creation failed");
    if (!advice.isEmpty())
        TraceLog.Write(1, advice);
    PTT_None->setChecked(true); // runs PTT_NoneClick
}

void TFormPlayer::WatchLostSerialDevice()
{
    if (FLostPortWatch)
        FLostPortWatch->deleteLater();
    TComPort *lost = PTTComPort;
    FLostPortWatch = new TDeviceWatch(TComDevice::DevicePath(lost->Port()), [this, lost] { return ReopenLostSerialDevice(lost); }, this);
}

bool TFormPlayer::ReopenLostSerialDevice(TComPort *lost)
{
    // A watch that has done its work may still look once before it goes.
    if (!FLostPortWatch)
        return true;
    // Only while it is still the port PTT goes to, under the name it was lost by.
    const QString devicePath = FLostPortWatch->DevicePath();
    if (lost != PTTComPort || !PTT_Serial->isChecked() || TComDevice::DevicePath(lost->Port()) != devicePath
        || lost->Connected()) {
        FLostPortWatch->deleteLater();
        FLostPortWatch = nullptr;
        return true;
    }
    try {
        lost->OpenPort();
    } catch (const EComPort &) {
        return false;
    }
    FLostPortWatch->deleteLater();
    FLostPortWatch = nullptr;
    TraceLog.Write(1, "COM Port (" + lost->Port() + ") reopened");
    return true;
}
