#include "app/KOTARUnit.h"

// The rig-control client arrives with the rig-control subsystem.
void TFormPlayer::CreateOmniRigClient() {}
