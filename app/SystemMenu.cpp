#include "app/KOTARUnit.h"

// The window menu's program items arrive with the tray subsystem.
void TFormPlayer::ModifySystemMenu() {}
