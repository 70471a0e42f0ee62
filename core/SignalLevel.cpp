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
        const double product = double(std::fabs(magnitudes[bin])) * 500.0;
        sum += 10 * int32_t(product);
    }
    return uint32_t(sum / 128);
}
