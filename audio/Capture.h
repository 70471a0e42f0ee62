#pragma once
#include "audio/bass.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <kissfft/kiss_fftr.h>
#include <memory>

// Mono samples passed from the capture thread (the one writer) to the
// user-interface thread (the one reader) without locks.
class TSampleRing {
public:
    static constexpr size_t Size = 16384; // about 370 ms at 44100 Hz

    // Writer side.
    void Push(const float *samples, size_t count);
    // Reader side: the newest `count` (at most Size / 2) samples, oldest first;
    // zeros stand for samples never written.
    void Latest(float *out, size_t count) const;

private:
    // Atomic elements so that a reader racing the writer reads stale values,
    // never torn ones; a copy the writer overran is taken again.
    std::array<std::atomic<float>, Size> FSamples{};
    std::atomic<uint64_t> FWritten{0};
};

// 512 magnitudes of a Hann-windowed 1024-point real FFT, scaled so that a
// full-scale sine centred on a bin reads 1.0. All buffers are allocated once.
class TSpectrumAnalyser {
public:
    static constexpr size_t Points = 1024;
    static constexpr size_t Bins = 512;

    TSpectrumAnalyser();
    ~TSpectrumAnalyser();
    TSpectrumAnalyser(const TSpectrumAnalyser &) = delete;
    TSpectrumAnalyser &operator=(const TSpectrumAnalyser &) = delete;

    void Magnitudes(const TSampleRing &ring, float *out);

private:
    kiss_fftr_cfg FConfig;
    std::array<float, Points> FWindow;
    std::array<float, Points> FSamples;
    std::array<kiss_fft_cpx, Points / 2 + 1> FSpectrum;
};

class TCaptureThread;

// One running recording: a QAudioSource on a thread of its own.
class TCapture {
public:
    // Opens the device and starts; Opened() tells whether that worked.
    TCapture(const QAudioDevice &device, const QAudioFormat &format, RECORDPROC proc, void *user,
             HRECORD handle);
    // Stops the recording and joins its thread.
    ~TCapture();
    TCapture(const TCapture &) = delete;
    TCapture &operator=(const TCapture &) = delete;

    bool Opened() const { return FOpened; }
    // True while the source runs; false once the server dropped the stream or
    // the record callback ended it.
    bool Active() const;
    const TSampleRing &Ring() const;

private:
    TCaptureThread *FThread;
    bool FOpened = false;
};
