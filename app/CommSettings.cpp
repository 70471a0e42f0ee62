#include "app/KOTARUnit.h"

#include "ptt/CPort.h"

// The configuration is written whether the dialog was confirmed or not.
void TFormPlayer::CommSettingsButtonClick()
{
    PTTComPort->OpenSetupDialog();
    ComPortName = PTTComPort->Port();
    WriteINI();
}
