#include "app/KOTARUnit.h"

// The serial port object arrives with the serial port subsystem.
TComPort *TFormPlayer::SetupSerialPort(const QString &) { return nullptr; }
