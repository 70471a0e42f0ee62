#pragma once
#include "audio/bass.h"
#include "core/KeyingCore.h"

// The level of one FFT frame as the keying core takes it.
TKeyingCore::TFrame FrameLevel(const float *magnitudes, int binStep);

// What the keying core measures of the capture `handle` on its own thread:
// the latest frame's level; none while the capture is not active. A capture
// that delivers no data measures as silence.
TKeyingCore::TLevelSource CaptureLevelSource(HRECORD handle, int binStep);
