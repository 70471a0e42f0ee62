#include "app/KOTARUnit.h"

// The capture set-up arrives with the audio subsystem; until then no capture runs.
uint32_t TFormPlayer::SetupBASS(int) { return 0; }
