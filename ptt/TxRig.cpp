#include "app/KOTARUnit.h"

// PTT output and the mode handlers arrive with the keying engine.
void TFormPlayer::TxRig(bool) {}
void TFormPlayer::PTT_SerialClick() {}
void TFormPlayer::PTT_OmniRigClick() {}
void TFormPlayer::PTT_NoneClick() {}
