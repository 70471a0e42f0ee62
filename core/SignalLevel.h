#pragma once
#include <cstdint>

// The VOX level of one FFT frame: the 500-fold magnitudes of 128 bins from bin
// 5 on, every binStep-th, each truncated; ten times their sum divided by 128.
// Bins beyond the 512 magnitudes count as silence.
uint32_t SignalLevel(const float *magnitudes, int binStep);
