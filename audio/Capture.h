#pragma once
#include "audio/bass.h"

#include "audio/PulseServer.h"
#include "audio/RealFft.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Mono samples passed from the capture thread (the one writer) to readers on
// any thread without locks.
class TSampleRing {
public:
    // About 93 ms at 44100 Hz: room for a reader's 1024 samples while the
    // writer goes on.
    static constexpr size_t Size = 4096;

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

    void Magnitudes(const TSampleRing &ring, float *out);

private:
    TRealFft FFft{Points};
    std::array<float, Points> FWindow;
    std::array<float, Points> FSamples;
};

// What any thread may read of one capture: its handle, its newest samples and
// what it does. The capture (on the loop thread) writes it; it holds nothing of
// the server, so whoever lets go of it last may do so on any thread.
class TChannel {
public:
    // Starting: the stream is being made (active, no samples yet). Waiting:
    // its source or the server is away; recording resumes when it is back.
    // Ended: the record callback ended it.
    enum class TPhase { Starting, Running, Waiting, Ended };

    explicit TChannel(HRECORD handle, std::string source) : Handle(handle), FSource(std::move(source)) {}

    const HRECORD Handle;
    TSampleRing Ring;
    std::atomic<TPhase> Phase{TPhase::Starting};
    // The capture thread's judgement: no block for RecordStallLimit.
    std::atomic<bool> Stalled{false};

    // The server's name of the source recorded (or waited for).
    std::string Source() const
    {
        std::lock_guard lock(FSourceLock);
        return FSource;
    }
    void SetSource(std::string source)
    {
        std::lock_guard lock(FSourceLock);
        FSource = std::move(source);
    }

private:
    mutable std::mutex FSourceLock;
    std::string FSource;
};

// One recording: a record stream of the sound server with fragments of about
// 5 ms, read on the server's loop thread (the capture thread) as the server
// delivers them. Nothing here waits for the server: the stream is asked for and
// its answers come on the loop thread. A stream whose source goes away is lost;
// when a source of that name appears again, recording resumes on it, and when
// the server's connection is made again, recording starts on the new one.
class TCapture : private TPulseServer::TClient {
public:
    // Called on the capture thread with the source's server name.
    struct TEvents {
        std::function<void(const std::string &source, const std::string &reason)> Lost;
        std::function<void(const std::string &source)> Resumed;
    };

    static bool FormatValid(uint32_t freq, uint32_t chans);
    // Starts recording from the channel's source (empty: the server's default
    // source) and returns at once. A start that fails, or a source that is
    // not there yet with waitForSource, is waited for as a source that went
    // away; only a start that fails unasked for is told as Lost. The record
    // callback gets `user` for as long as it can be called, every periodMs
    // (0: about 5 ms).
    TCapture(std::shared_ptr<TPulseServer> server, std::shared_ptr<TChannel> channel, uint32_t freq,
             uint32_t chans, RECORDPROC proc, std::shared_ptr<void> user, TEvents events, bool waitForSource,
             uint32_t periodMs = 0);
    // Ends the stream; one whose creation the server has not yet answered is
    // cancelled, so it never records.
    ~TCapture();
    TCapture(const TCapture &) = delete;
    TCapture &operator=(const TCapture &) = delete;

    const TChannel &Channel() const { return *FChannel; }
    // The record stream (none while lost); for its timing figures, on the
    // capture thread.
    pa_stream *Stream() const { return FStream; }

    // The capture whose record callback runs on this thread, if any.
    static TCapture *InCallback();

private:
    enum class TState { Starting, Running, Lost, Resuming, Reopening, NoServer, Ended };
    // All on the loop thread (or with its lock held).
    void ServerReady() override;
    void ServerFailed(const std::string &reason, bool wasReady) override;
    void DevicesRead(bool changed) override;
    void SetState(TState state);
    // The cache lists the source (or a default one).
    bool SourcePresent() const;
    void Connect();
    void Failed(const std::string &reason);
    // Lets go of FStream: no callback reaches this object any more.
    void DropStream();
    void Deliver(const float *samples, size_t bytes);
    void CheckStall();
    static void StreamState(pa_stream *stream, void *user);
    static void StreamRead(pa_stream *stream, size_t bytes, void *user);

    std::shared_ptr<TPulseServer> FServer;
    std::shared_ptr<TChannel> FChannel;
    std::string FRequested;
    // How much the server hands over at a time.
    pa_usec_t FFragment = 0;
    pa_sample_spec FSpec{};
    RECORDPROC FProc;
    std::shared_ptr<void> FUser;
    TEvents FEvents;
    bool FWaitForSource;
    pa_stream *FStream = nullptr;
    TState FState = TState::Starting;
    // After an attempt to resume failed, only a changed device list tries again.
    bool FAwaitChange = false;

    // The stall check: a timer on the loop thread compares the blocks counted
    // since it last looked; a wait with none is confirmed once more after the
    // loop has read what its socket holds, so that a thread that was merely
    // held up, and wakes to find data waiting, never calls it a stall.
    pa_time_event *FStallTimer = nullptr;
    uint64_t FBlocks = 0, FCheckedBlocks = 0;
    pa_usec_t FLastData = 0;
    bool FSuspect = false;
};
