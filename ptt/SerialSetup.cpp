#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"
#include "ptt/Cm108PttOutput.h"
#include "ptt/PttPortSetup.h"
#include "support/Dialogs.h"

#include <QRadioButton>

TComPort *TFormPlayer::SetupSerialPort(const QString &portName, bool open)
{
    auto *port = CreatePttPort(this, portName, PttLines);
    FCm108Output.reset();
    if (open) {
        try {
            if (IsCm108PortName(portName))
                FCm108Output = OpenCm108Output(portName, PttLines, SysfsRoot,
                                               CapturedSoundCard ? CapturedSoundCard() : QString());
            else
                port->OpenPort();
        } catch (const EComPort &failure) {
            ReportPortFailure(failure);
        }
    }
    TraceLog.Write(1, "COM Port (" + port->Port() + ") created");
    return port;
}

void TFormPlayer::ReportPortFailure(const EComPort &failure)
{
    // The fixed message and trace line first; what the system says about the
    // port and what to do go on a line of their own.
    const QString advice = PortFailureAdvice(failure, ComPortName);
    Dialogs::ShowMessage("Defined COM Port not available" + (advice.isEmpty() ? QString() : "\n" + advice));
    TraceLog.Write(1, "COM Port (" + ComPortName + ") creation failed");
    if (!advice.isEmpty())
        TraceLog.Write(1, advice);
    PTT_None->setChecked(true); // runs PTT_NoneClick
}

