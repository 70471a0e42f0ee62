#pragma once
#include <array>
#include <cstdint>
#include <optional>

// Notices the relay hearing itself: its output coming back to the recorded
// device by a way the server's device list does not show (a program that
// records one device and plays into another, a cable, a sound card's own
// monitoring). Such a loop keeps PTT up for ever: every relayed sound comes
// back and keys again.
//
// Passively it compares levels: over the last ~150 ms, in frames of 256
// samples, the capture's level follows the level relayed D samples earlier
// (one gain within 1.5 dB, silence where silence was played), for one D
// between LEAD - 10 ms and LEAD + 1 s, and the relayed sound has some shape
// (gaps, or levels 6 dB apart). A strictly periodic sound can do that too, so
// the suspicion is put to the test: the relay plays silence (a probe), and if,
// once that silence could have come back, the capture falls silent in three
// frames where the sound of D earlier predicts sound (looked for during up to
// 200 ms), the sound was the relay's own. Otherwise the relay plays on and
// suspects nothing for two seconds.
//
// Everything runs on the capture's thread; indices are those of the relay's
// delay line.
class TEchoGuard {
public:
    explicit TEchoGuard(uint32_t rate);

    // A fresh start (nothing was played), with the relay's lead in samples.
    void Reset(int64_t lead);
    // A captured mono sample and its index in the line; indices follow on.
    void Captured(int64_t index, float sample);
    // Line samples [from, from + count) go to the output as sound (open) or
    // as silence.
    void Played(int64_t from, int64_t count, bool open);
    // After each captured block, `open`: the gate is open. True while a probe
    // holds the output silent.
    bool Probing(bool open);
    // Set once a probe has shown the loop: how many ms after it was relayed the
    // sound came back, counted from the moment it was captured.
    std::optional<int> EchoMs() const { return FEchoMs; }

private:
    static constexpr int64_t Chunk = 32;        // samples a stored level covers
    static constexpr int64_t FrameChunks = 8;   // a compared level: 256 samples
    static constexpr int64_t Chunks = 4096;     // about 3 s kept
    static constexpr int Frames = 26;           // the window compared, ~150 ms

    struct TMatch {
        int64_t Lag = 0; // in chunks
        bool Found = false;
    };

    // The level in dB of the frame that ends with chunk `end`.
    double Level(int64_t end) const;
    // Each chunk of that frame went out as sound.
    bool PlayedOpen(int64_t end) const;
    TMatch Suspect();
    // Once the probe's time is over: whether the capture fell silent.
    std::optional<bool> Verdict() const;
    int64_t ChunksIn(double seconds) const { return int64_t(seconds * FRate / Chunk); }

    const uint32_t FRate;
    int64_t FLeadChunks = 0;
    std::array<float, Chunks> FEnergy{};
    // The level in dB of the frame that ends with each chunk.
    std::array<float, Chunks> FLevel{};
    std::array<bool, Chunks> FOpen{};
    int64_t FChunk = 0; // the chunk after the newest complete one
    int64_t FNextCheck = 0;

    int64_t FQuietUntil = 0; // no suspicion before this chunk
    // The probe under way: its lag and the chunk it began at.
    std::optional<TMatch> FProbe;
    int64_t FProbeFrom = 0;
    std::optional<int> FEchoMs;
};
