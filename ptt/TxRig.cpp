#include "app/KOTARUnit.h"

// PTT output arrives with the keying engine.
void TFormPlayer::TxRig(bool) {}
