#include "app/KOTARUnit.h"

// The tray icon and its menu arrive with the tray subsystem.
void TFormPlayer::BuildTrayMenu() {}
void TFormPlayer::AddTrayIcon() {}
void TFormPlayer::RemoveTrayIcon() {}
