#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "support/ErrorReport.h"

#include <QRadioButton>

// The configuration is written whether the dialog was confirmed or not.
void TFormPlayer::CommSettingsButtonClick()
{
    PTTComPort->OpenSetupDialog();
    ComPortName = PTTComPort->Port();
    PttLines = PTTComPort->PttLines();
    // Applying line settings returns the lines to rest; a transmission the
    // window shows goes on.
    if (FPttOn && PTT_Serial->isChecked())
        ErrorReport::Guarded([this] { TxRig(true); });
    WriteINI();
}
