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
    if (index % Chunk == Chunk - 1) {
        double energy = 0;
        for (int64_t back = 0; back < FrameChunks; ++back)
            energy += FEnergy[size_t((chunk - back) % Chunks)];
        FLevel[slot] = float(10 * std::log10(energy / double(FrameChunks * Chunk) + 1e-10));
        FChunk = chunk + 1;
    }
}

void TEchoGuard::Played(int64_t from, int64_t count, bool open)
{
    for (int64_t chunk = from / Chunk; count > 0 && chunk <= (from + count - 1) / Chunk; ++chunk)
        FOpen[size_t(chunk % Chunks)] = open;
}

double TEchoGuard::Level(int64_t end) const { return FLevel[size_t(end % Chunks)]; }

// Writes go in runs: a frame whose first and last chunks were played as sound
// was played as sound throughout.
bool TEchoGuard::PlayedOpen(int64_t end) const
{
    return FOpen[size_t(end % Chunks)] && FOpen[size_t((end - FrameChunks + 1) % Chunks)];
}

// The lag at which the capture follows what was relayed, if one does.
TEchoGuard::TMatch TEchoGuard::Suspect()
{
    const int64_t newest = FChunk - 1;
    const int64_t window = FrameChunks * Frames;
    const int64_t minLag = std::max(FrameChunks, FLeadChunks + ChunksIn(ReturnMin));
    // Within what the ring still holds (the longest lead and return fit).
    const int64_t maxLag = std::min(FLeadChunks + ChunksIn(ReturnMax), Chunks - window - FrameChunks);
    // The capture must have the shape it would copy: without gaps or steps
    // (a steady tone) no lag is looked at.
    std::array<double, Frames> heard;
    int quiet = 0;
    double loudest = -1e9;
    for (int frame = 0; frame < Frames; ++frame) {
        heard[size_t(frame)] = Level(newest - FrameChunks * (Frames - 1 - frame));
        if (heard[size_t(frame)] < Quiet)
            ++quiet;
        else
            loudest = std::max(loudest, heard[size_t(frame)]);
    }
    if (quiet < 2 && std::ranges::count_if(heard, [&](double level) {
                         return level >= Quiet && level <= loudest - Shape;
                     }) < 2)
        return {};
    TMatch best;
    double bestScore = 0;
    for (int64_t lag = minLag; lag <= maxLag; ++lag) {
        int valid = 0, silent = 0, split = 0, loud = 0;
        std::array<double, Frames> differences, played;
        // Given up once too many frames split or were not played as sound.
        for (int frame = 0; frame < Frames && split * 10 <= Frames && frame - valid <= Frames - Frames * 3 / 4;
             ++frame) {
            const int64_t relayed = newest - FrameChunks * (Frames - 1 - frame) - lag;
            if (!PlayedOpen(relayed))
                continue;
            ++valid;
            const double level = Level(relayed);
            if (heard[size_t(frame)] < Quiet && level < Quiet) {
                ++silent;
            } else if (heard[size_t(frame)] < Quiet || level < Quiet) {
                ++split;
            } else {
                differences[size_t(loud)] = heard[size_t(frame)] - level;
                played[size_t(loud++)] = level;
            }
        }
        if (valid < Frames * 3 / 4 || loud < Frames / 4 || split * 10 > valid)
            continue;
        std::array<double, Frames> sorted = differences;
        std::nth_element(sorted.begin(), sorted.begin() + loud / 2, sorted.begin() + loud);
        const double gain = sorted[size_t(loud / 2)];
        // The shape: gaps, or loud frames that follow at two levels apart.
        int following = silent;
        double top = -1e9;
        for (int i = 0; i < loud; ++i)
            if (std::abs(differences[size_t(i)] - gain) <= Follow) {
                ++following;
                top = std::max(top, played[size_t(i)]);
            }
        int lower = 0;
        for (int i = 0; i < loud; ++i)
            lower += std::abs(differences[size_t(i)] - gain) <= Follow && played[size_t(i)] <= top - Shape;
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
