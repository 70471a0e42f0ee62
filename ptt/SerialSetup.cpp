#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "support/Dialogs.h"

#include <QRadioButton>

TComPort *TFormPlayer::SetupSerialPort(const QString &portName, bool open)
{
    auto *port = new TComPort(this);
    port->SetBaudRate(br4800);
    port->SetPort(portName);
    port->FlowControl().SetControlDTR(dtrDisable);
    port->FlowControl().SetControlRTS(rtsDisable);
    port->SetPttLines(PttLines);
    if (open) {
        try {
            port->OpenPort();
        } catch (const EComPort &) {
            Dialogs::ShowMessage("Defined COM Port not available");
            TraceLog.Write(1, "COM Port (" + ComPortName + ") creation failed");
            PTT_None->setChecked(true); // runs PTT_NoneClick
        }
    }
    TraceLog.Write(1, "COM Port (" + port->Port() + ") created");
    return port;
}
