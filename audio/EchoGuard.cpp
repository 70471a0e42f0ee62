#include "audio/EchoGuard.h"

#include <algorithm>
#include <cmath>

namespace {
// Below this a frame counts as silent (mean square, about -55 dBFS).
constexpr double Quiet = -55;
// One gain: the capture's levels stay this close to the relayed ones plus it.
constexpr double Follow = 1.5;
// A shape worth comparing: the relayed levels span this much.
constexpr double Shape = 6;
// A loop's return: from the relayed sound's due moment until it is captured again.
constexpr double ReturnMin = -0.010, ReturnMax = 1.0;
// The probe: the output's own buffer passes before the silence can come
// back; then for this long at most, frames where sound is predicted and this
// many fall silent show the loop.
constexpr double ProbeMargin = 0.020, ProbeLook = 0.200;
constexpr int ProbeFrames = 3;
// A probe that found the sound genuine: no suspicion for this long.
constexpr double Trust = 2.0;
// How often the levels are compared while the capture is loud.
constexpr double CheckPeriod = 0.023;
} // namespace

TEchoGuard::TEchoGuard(uint32_t rate) : FRate(rate) {}

void TEchoGuard::Reset(int64_t lead)
{
    FLeadChunks = lead / Chunk;
    FOpen.fill(false);
    FQuietUntil = 0;
    FProbe.reset();
    FEchoMs.reset();
}

void TEchoGuard::Captured(int64_t index, float sample)
{
    const int64_t chunk = index / Chunk;
    const size_t slot = size_t(chunk % Chunks);
    // A chunk begins: nothing of it has been played yet.
    if (index % Chunk == 0) {
        FEnergy[slot] = 0;
        FOpen[slot] = false;
    }
    FEnergy[slot] += sample * sample;
    if (index % Chunk == Chunk - 1)
        FChunk = chunk + 1;
}

void TEchoGuard::Played(int64_t from, int64_t count, bool open)
{
    for (int64_t chunk = from / Chunk; count > 0 && chunk <= (from + count - 1) / Chunk; ++chunk)
        FOpen[size_t(chunk % Chunks)] = open;
}

double TEchoGuard::Level(int64_t end) const
{
    double energy = 0;
    for (int64_t chunk = end - FrameChunks + 1; chunk <= end; ++chunk)
        energy += FEnergy[size_t(chunk % Chunks)];
    return 10 * std::log10(energy / double(FrameChunks * Chunk) + 1e-10);
}

bool TEchoGuard::PlayedOpen(int64_t end) const
{
    for (int64_t chunk = end - FrameChunks + 1; chunk <= end; ++chunk)
        if (!FOpen[size_t(chunk % Chunks)])
            return false;
    return true;
}

// The lag at which the capture follows what was relayed, if one does.
TEchoGuard::TMatch TEchoGuard::Suspect()
{
    const int64_t newest = FChunk - 1;
    const int64_t window = FrameChunks * Frames;
    const int64_t minLag = std::max(FrameChunks, FLeadChunks + ChunksIn(ReturnMin));
    const int64_t maxLag = std::min(FLeadChunks + ChunksIn(ReturnMax), Chunks - window - FrameChunks);
    const int64_t first = newest - window - maxLag;
    if (minLag > maxLag || first < FrameChunks)
        return {};
    FLevels.resize(size_t(newest - first + 1));
    FLevelsOpen.resize(FLevels.size());
    for (int64_t end = first; end <= newest; ++end) {
        FLevels[size_t(end - first)] = Level(end);
        FLevelsOpen[size_t(end - first)] = PlayedOpen(end);
    }
    TMatch best;
    double bestScore = 0;
    for (int64_t lag = minLag; lag <= maxLag; ++lag) {
        int valid = 0, silent = 0, split = 0;
        FDifferences.clear();
        FPlayedLevels.clear();
        for (int frame = 0; frame < Frames; ++frame) {
            const int64_t end = newest - FrameChunks * (Frames - 1 - frame);
            const size_t relayed = size_t(end - lag - first);
            if (!FLevelsOpen[relayed])
                continue;
            ++valid;
            const double heard = FLevels[size_t(end - first)], played = FLevels[relayed];
            if (heard < Quiet && played < Quiet) {
                ++silent;
            } else if (heard < Quiet || played < Quiet) {
                ++split;
            } else {
                FDifferences.push_back(heard - played);
                FPlayedLevels.push_back(played);
            }
        }
        if (valid < Frames * 3 / 4 || FDifferences.size() < size_t(Frames / 4) || split * 10 > valid)
            continue;
        FSorted = FDifferences;
        const auto middle = FSorted.begin() + std::ptrdiff_t(FSorted.size() / 2);
        std::nth_element(FSorted.begin(), middle, FSorted.end());
        const double gain = *middle;
        // The shape: gaps, or loud frames that follow at two levels apart.
        int following = silent;
        double loudest = -1e9;
        for (size_t i = 0; i < FDifferences.size(); ++i)
            if (std::abs(FDifferences[i] - gain) <= Follow) {
                ++following;
                loudest = std::max(loudest, FPlayedLevels[i]);
            }
        int lower = 0;
        for (size_t i = 0; i < FDifferences.size(); ++i)
            lower += std::abs(FDifferences[i] - gain) <= Follow && FPlayedLevels[i] <= loudest - Shape;
        const double score = double(following) / valid;
        if (score >= 0.9 && (silent >= 2 || lower >= 2) && score > bestScore) {
            bestScore = score;
            best = {lag, true};
        }
    }
    return best;
}

std::optional<bool> TEchoGuard::Verdict() const
{
    // From when the probe's silence can come back, frames where the sound of
    // one lag before predicts sound; for one lag at most, a train of bursts
    // may have a gap first.
    const int64_t start = FProbeFrom + std::max<int64_t>(0, FProbe->Lag - FLeadChunks) + ChunksIn(ProbeMargin);
    const int64_t limit = start + std::min(FProbe->Lag, ChunksIn(ProbeLook));
    int silent = 0;
    int64_t frame = start + FrameChunks - 1;
    for (; frame < FChunk && frame <= limit; frame += FrameChunks)
        silent += Level(frame - FProbe->Lag) >= Quiet && Level(frame) < Quiet;
    if (silent >= ProbeFrames)
        return true;
    return frame <= limit ? std::nullopt : std::optional<bool>(false);
}

bool TEchoGuard::Probing(bool open)
{
    if (FEchoMs)
        return true;
    if (FProbe) {
        const std::optional<bool> echo = Verdict();
        if (!echo)
            return true;
        if (*echo) {
            FEchoMs = int(FProbe->Lag * Chunk * 1000 / FRate);
            return true;
        }
        FProbe.reset();
        FQuietUntil = FChunk + ChunksIn(Trust);
        return false;
    }
    if (!open || FChunk < FNextCheck || FChunk < FQuietUntil)
        return false;
    FNextCheck = FChunk + ChunksIn(CheckPeriod);
    // Only a loud capture can hold PTT.
    if (Level(FChunk - 1) < Quiet)
        return false;
    const TMatch match = Suspect();
    if (!match.Found)
        return false;
    FProbe = match;
    FProbeFrom = FChunk;
    return true;
}
