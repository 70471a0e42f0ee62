#include "app/KOTARUnit.h"

// The COM settings dialog arrives with the serial port set-up dialog.
void TFormPlayer::CommSettingsButtonClick() {}
