#pragma once
#include <array>
#include <cstdint>
#include <optional>

// Finds out whether the relay's output comes back to the recorded device by a
// way the server's devices do not show (a program that records one device and
// plays into another, a cable, a sound card's own monitoring). Such a loop
// keeps PTT up for ever: every relayed sound comes back and keys again.
//
// It asks only while no transmission can suffer from it: with the gate shut,
// the relay plays a faint pseudo-random sequence (-40 dBFS, 23 ms, far below
// any squelch) in place of silence, and the capture is searched for it from
// LEAD - 10 ms to LEAD + 1 s after it was played. A sequence of this length
// correlates with nothing else: speech, tones, data modes and noise stay far
// below the threshold at every lag, while a loop returns it clearly.
//
// Everything runs on the capture's thread; indices are those of the relay's
// delay line: the probe's samples stand for the line samples they replace.
class TLoopProbe {
public:
    static constexpr int64_t Length = 1023;
    static constexpr float Amplitude = 0.01f;

    struct TVerdict {
        bool Loop = false;
        // How long after it was played the probe came back, in ms.
        int ReturnMs = 0;
    };

    explicit TLoopProbe(uint32_t rate);

    // Forgets a probe under way; `lead` in samples.
    void Reset(int64_t lead);
    // A probe whose samples stand for line indices [at, at + Length).
    void Begin(int64_t at);
    bool Running() const { return FStart.has_value(); }
    // The first line index after the probe; meaningful while Running.
    int64_t End() const { return *FStart + Length; }
    // What the output plays for the line sample `index` while the gate is shut.
    float Sample(int64_t index) const;
    // Searches the lags whose capture has arrived, `written` being the line's
    // end, `budget` lags at most. `ring` is the delay line of `size` samples.
    // A verdict once the search is through (or a loop is plain at once).
    std::optional<TVerdict> Work(const float *ring, int64_t size, int64_t written, int64_t budget);

private:
    const uint32_t FRate;
    std::array<float, Length> FSequence{};
    int64_t FLead = 0, FMinLag = 0, FMaxLag = 0;
    std::optional<int64_t> FStart;
    // The next lag to look at, the sum of squares of the capture it covers,
    // and the best match so far.
    int64_t FLag = 0;
    double FEnergy = 0;
    double FBest = 0;
    int64_t FBestLag = 0;
};
