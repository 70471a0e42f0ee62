#include "core/SignalLevel.h"

#include <cmath>

uint32_t SignalLevel(const float *magnitudes, int binStep)
{
    int32_t sum = 0;
    for (int i = 0; i < 128; ++i) {
        const int bin = 5 + i * binStep;
        if (bin >= 512)
            break;
        // Double precision makes the product exact before it is truncated.
        // Float sound can go far beyond full scale (PipeWire does not clip,
        // an echo loop grows until it overflows to inf, and the transform of
        // inf is NaN): a bin counts at most 1e6, and anything not below that
        // counts as 1e6, so the sum stays an int32.
        const double magnitude = std::fabs(double(magnitudes[bin]));
        const double product = magnitude < 2000.0 ? magnitude * 500.0 : 1e6;
        sum += 10 * int32_t(product);
    }
    return uint32_t(sum / 128);
}
