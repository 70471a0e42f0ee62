#include "app/KOTARUnit.h"

// The About data arrive with the About box.
void TFormPlayer::FillAboutDialog() {}
