#pragma once
#include "audio/bass.h"

#include "audio/PulseServer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <kissfft/kiss_fftr.h>
#include <functional>
#include <memory>
#include <string>

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

// One recording: a record stream of the sound server with fragments of about
// 5 ms, read on the server connection's loop thread (the capture thread) as the
// server delivers them. A stream whose source goes away is lost; when a source
// of that name appears again, recording resumes on it.
class TCapture {
public:
    // Called on the capture thread with the source's server name.
    struct TEvents {
        std::function<void(const std::string &source, const std::string &reason)> Lost;
        std::function<void(const std::string &source)> Resumed;
    };

    // Starts recording from `source` (empty: the server's default source) and
    // waits for the server's answer; Opened() tells whether it came and was yes.
    // With waitForSource, a source that cannot be opened now is waited for as
    // one that went away: the capture opens and records once it appears.
    TCapture(std::shared_ptr<TPulseServer> server, const std::string &source, uint32_t freq, uint32_t chans,
             RECORDPROC proc, void *user, HRECORD handle, TEvents events, bool waitForSource = false);
    // Ends the stream; a stream whose creation the server has not yet answered
    // is cancelled, so it never records.
    ~TCapture();
    TCapture(const TCapture &) = delete;
    TCapture &operator=(const TCapture &) = delete;

    bool Opened() const { return FOpened; }
    // True while the stream records; false while its source is gone, after
    // the server has gone, or once the record callback has ended it.
    bool Active() const { return FActive.load(std::memory_order_relaxed); }
    const TSampleRing &Ring() const { return FRing; }
    HRECORD Handle() const { return FHandle; }
    const std::shared_ptr<TPulseServer> &Server() const { return FServer; }
    // When the last block arrived; the start of recording (or of its
    // resumption) while none has since.
    std::chrono::steady_clock::time_point DataSince() const
    {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(FDataSince.load(std::memory_order_relaxed)));
    }
    // True while the source is away and waited for.
    bool Waiting() const;
    // The server's name of the source recorded (or waited for).
    std::string Source() const;
    // The record stream (none while lost); for its timing figures, on the
    // capture thread.
    pa_stream *Stream() const { return FStream; }

    // The capture whose record callback runs on this thread, if any, and the
    // analyser that thread may use.
    static TCapture *InCallback();
    TSpectrumAnalyser &CallbackAnalyser() { return FCallbackAnalyser; }

private:
    enum class TState { Starting, Running, Lost, Resuming, Ended };
    // The loop's lock held.
    void Connect();
    // Lets go of FStream: no callback reaches this object any more.
    void DropStream();
    void SourceAdded();
    void Deliver(const float *samples, size_t bytes);
    static void StreamState(pa_stream *stream, void *user);
    static void StreamRead(pa_stream *stream, size_t bytes, void *user);

    std::shared_ptr<TPulseServer> FServer;
    std::string FRequested;
    std::string FSource;
    pa_sample_spec FSpec{};
    RECORDPROC FProc;
    void *FUser;
    HRECORD FHandle;
    TEvents FEvents;
    pa_stream *FStream = nullptr;
    TState FState = TState::Starting;
    bool FOpened = false;
    bool FWaitForSource;
    std::atomic<bool> FActive{false};
    std::atomic<std::chrono::steady_clock::rep> FDataSince{0};
    void MarkData() { FDataSince = std::chrono::steady_clock::now().time_since_epoch().count(); }
    TSampleRing FRing;
    TSpectrumAnalyser FCallbackAnalyser;
};
