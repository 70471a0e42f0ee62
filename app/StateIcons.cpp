#include "app/KOTARUnit.h"

// The state icons arrive with the keying engine.
void TFormPlayer::CreateStateIcons() {}
void TFormPlayer::ShowIdleIcon() {}
