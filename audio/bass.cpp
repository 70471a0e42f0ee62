#include "audio/bass.h"

bool BASS_Free() { return true; }
