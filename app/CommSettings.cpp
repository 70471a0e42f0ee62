#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "ptt/CPortSetup.h"
#include "ptt/Cm108Devices.h"
#include "ptt/Cm108PttOutput.h"
#include "ptt/SerialPttOutput.h"
#include "support/Exception.h"

#include <QRadioButton>

// The configuration is written whether the dialog was confirmed or not.
void TFormPlayer::CommSettingsButtonClick()
{
    const QString portBefore = PTTComPort->Port();
    const TPttLines linesBefore = PTTComPort->PttLines();
    // Test PTT keys the port in use: its lines as chosen in the dialog, or
    // the CM108 output as it was opened.
    const auto testOutput = [this](const QString &port, const TPttLines &lines) -> std::shared_ptr<TPttOutput> {
        const QString inUse = PTTComPort->Port();
        if (port != inUse)
            throw Exception("Test PTT keys the port in use, " + inUse + "; confirm another with OK first");
        if (IsCm108PortName(port) ? !FCm108Output : !PTTComPort->Connected())
            throw Exception(port + " is not open");
        if (!IsCm108PortName(port))
            return std::make_shared<TSerialPttOutput>(PTTComPort, lines);
        if (lines != PTTComPort->PttLines())
            throw Exception("Test PTT keys the CM108 output as opened, " + PTTComPort->PttLines().Text()
                            + "; confirm another pin with OK first");
        return FCm108Output;
    };
    PTTComPort->OpenSetupDialog([&](TComSetupFrm &form) { form.AddPttTest(*Keying, testOutput); });
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
