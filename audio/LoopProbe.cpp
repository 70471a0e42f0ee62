#include "audio/LoopProbe.h"

#include <algorithm>
#include <cmath>

namespace {
// The normalised correlation that shows the probe: a loop returns it near 1,
// while unrelated sound stays within a few times 1/sqrt(Length) (0.03; at
// most 0.15 over the test corpus).
constexpr double Found = 0.3;
// Below this the capture is digital silence at that lag: nothing to compare.
constexpr double Silent = 1e-12;
// The loop's return after the probe was played: the server's own buffering
// may make it look slightly early.
constexpr double ReturnMin = -0.010, ReturnMax = 1.0;
} // namespace

TLoopProbe::TLoopProbe(uint32_t rate) : FRate(rate)
{
    // A maximum-length sequence from a 10-bit shift register (x^10 + x^7 + 1).
    uint32_t state = 1;
    for (float &chip : FSequence) {
        const uint32_t bit = ((state >> 9) ^ (state >> 6)) & 1;
        chip = (state & 1) ? Amplitude : -Amplitude;
        state = ((state << 1) | bit) & 0x3ff;
    }
}

void TLoopProbe::Reset(int64_t lead)
{
    FLead = lead;
    FMinLag = std::max<int64_t>(0, lead + int64_t(ReturnMin * FRate));
    FMaxLag = lead + int64_t(ReturnMax * FRate);
    FStart.reset();
}

void TLoopProbe::Begin(int64_t at)
{
    FStart = at;
    FLag = FMinLag;
    FEnergy = -1;
    FBest = 0;
    FBestLag = 0;
}

float TLoopProbe::Sample(int64_t index) const
{
    if (!FStart || index < *FStart || index >= *FStart + Length)
        return 0.0f;
    return FSequence[size_t(index - *FStart)];
}

std::optional<TLoopProbe::TVerdict> TLoopProbe::Work(const float *ring, int64_t size, int64_t written, int64_t budget)
{
    if (!FStart)
        return std::nullopt;
    // The line's size is a power of two.
    const int64_t mask = size - 1;
    const auto at = [&](int64_t index) { return double(ring[index & mask]); };
    const int64_t start = *FStart;
    // Lag l compares the probe with the capture from start + l on.
    for (; budget > 0 && FLag <= FMaxLag && start + FLag + Length <= written; --budget, ++FLag) {
        const int64_t from = start + FLag;
        if (FEnergy < 0) {
            FEnergy = 0;
            for (int64_t j = 0; j < Length; ++j)
                FEnergy += at(from + j) * at(from + j);
        } else {
            FEnergy += at(from + Length - 1) * at(from + Length - 1) - at(from - 1) * at(from - 1);
        }
        if (FEnergy < Silent)
            continue;
        // Four sums apart, so that the products go in parallel.
        double sums[4] = {};
        const int64_t first = from & mask;
        const int64_t straight = std::min(Length, size - first);
        for (int64_t j = 0; j < straight; ++j)
            sums[j & 3] += double(FSequence[size_t(j)]) * double(ring[first + j]);
        for (int64_t j = straight; j < Length; ++j)
            sums[j & 3] += double(FSequence[size_t(j)]) * double(ring[j - straight]);
        const double sum = sums[0] + sums[1] + sums[2] + sums[3];
        const double match = sum / std::sqrt(FEnergy * double(Length)) / Amplitude;
        if (match > FBest) {
            FBest = match;
            FBestLag = FLag;
        }
    }
    if (FBest < Found && FLag <= FMaxLag)
        return std::nullopt;
    const TVerdict verdict{FBest >= Found, int((FBestLag - FLead) * 1000 / FRate)};
    FStart.reset();
    return verdict;
}
