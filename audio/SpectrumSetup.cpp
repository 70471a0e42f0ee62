#include "app/KOTARUnit.h"

// The spectrum display arrives with the lamps and spectrum controls.
void TFormPlayer::CreateSpectrum() {}
