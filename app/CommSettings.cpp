#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"

#include <QRadioButton>

// The configuration is written whether the dialog was confirmed or not.
void TFormPlayer::CommSettingsButtonClick()
{
    const QString portBefore = PTTComPort->Port();
    const TPttLines linesBefore = PTTComPort->PttLines();
    PTTComPort->OpenSetupDialog();
    ComPortName = PTTComPort->Port();
    PttLines = PTTComPort->PttLines();
    // The port object reopens serial devices itself; a CM108 output is opened
    // anew for a change of device or pin, and one left is released.
    const bool cm108 = IsCm108PortName(ComPortName) || IsCm108PortName(portBefore);
    if (PTT_Serial->isChecked() && cm108 && (ComPortName != portBefore || PttLines != linesBefore))
        ReopenPttPort();
    // Applying line settings returns the lines to rest; a transmission the
    // window shows goes on.
    if (PTT_Serial->isChecked())
        Keying->Post([](TKeyingCore &core) {
            if (core.State().PttOn)
                core.TxRig(true);
        });
    WriteINI();
}
