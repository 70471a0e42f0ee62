#include "ptt/PttPortSetup.h"

#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"
#include "ptt/Cm108PttOutput.h"
#include "ptt/PttAdvice.h"
#include "ptt/RigLink.h"
#include "ptt/SerialPttOutput.h"

#include <cerrno>

TComPort *CreatePttPort(QObject *owner, const QString &portName, const TPttLines &lines)
{
    auto *port = new TComPort(owner);
    port->SetBaudRate(br4800);
    port->SetPort(portName);
    port->FlowControl().SetControlDTR(dtrDisable);
    port->FlowControl().SetControlRTS(rtsDisable);
    port->SetPttLines(lines);
    return port;
}

std::shared_ptr<TCm108PttOutput> OpenCm108Output(const QString &portName, const TPttLines &lines,
                                                 const QString &sysfsRoot, const QString &capturedCard)
{
    QString device = TComDevice::DevicePath(portName);
    if (portName.compare("CM108", Qt::CaseInsensitive) == 0) {
        const QString hidraw = ResolveCm108(sysfsRoot, capturedCard);
        if (hidraw.isEmpty())
            throw EComPort(EComPort(1, ENODEV), portName + ": no CM108 sound card found; plug one in");
        device = "/dev/" + hidraw;
    }
    auto output = std::make_shared<TCm108PttOutput>(portName, device, lines.GpioPin());
    output->Open();
    return output;
}

QString PortFailureAdvice(const EComPort &failure, const QString &portName)
{
    QString advice = failure.Advice();
    if (advice.isEmpty() && failure.SystemError() > 0)
        advice = PttFailureAdvice(failure.SystemError(), portName, TComDevice::DevicePath(portName));
    return advice;
}

QString PttTargetText(const std::shared_ptr<TPttOutput> &output)
{
    if (const auto *gpio = dynamic_cast<const TCm108PttOutput *>(output.get()))
        return "CM108 " + gpio->DevicePath();
    if (const auto *serial = dynamic_cast<const TSerialPttOutput *>(output.get()); serial && serial->Port())
        return TComDevice::DevicePath(serial->Port()->Port()) + " " + serial->Port()->PttLines().Text();
    if (const auto *rig = dynamic_cast<const TRigLink *>(output.get()))
        return "rigctld " + rig->Name().section(' ', -1);
    return "none";
}
