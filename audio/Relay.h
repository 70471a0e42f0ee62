#pragma once
#include "audio/EchoGuard.h"
#include "audio/PulseServer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The audio relay: what the capture records is played into an output (a sink
// of the sound server), each sample leaving LEAD ms after it was captured, and
// only while the gate (PTT) is open; silence otherwise. It runs on the
// capture's server loop: the record callback feeds it with the loop's lock
// held, and the playback stream is written there and whenever the server asks
// for more, so the delay line needs no lock. The output is kept nearly LEAD
// ahead; what is queued is rewritten when the gate changes. When a sample is
// due is measured with the server's own timing figures of both streams, not
// assumed.
//
// An output from which sound reaches the recorded device, as the server's
// devices and modules tell, is refused, also when such a way is made while it
// plays; a loop they do not show is stopped by the echo guard.
class TRelay final : private TPulseServer::TClient {
public:
    static constexpr uint32_t Rate = 44100;

    // Called with the loop's lock held. Fault: the relay stopped or was
    // refused (the user must learn it); Note: a line for the trace alone.
    struct TEvents {
        std::function<void(const std::string &text)> Fault;
        std::function<void(const std::string &text)> Note;
    };

    TRelay(std::shared_ptr<TPulseServer> server, TEvents events);
    ~TRelay();
    TRelay(const TRelay &) = delete;
    TRelay &operator=(const TRelay &) = delete;

    const std::shared_ptr<TPulseServer> &Server() const { return FServer; }

    // Relays into the sink `output` with `leadMs`, the capture recording from
    // `source` (a server name; empty: the server's default source). Returns at
    // once: the server's answers come on the loop thread, a refusal or a
    // missing output as a Fault.
    void Start(const std::string &output, int leadMs, const std::string &source);
    // At the program's end, before PTT falls: the gate shuts and what is
    // queued at the output is dropped, at once rather than as the output
    // plays on. Not from the loop thread.
    void Hush();

    // The record callback, the loop's lock held: one block of interleaved
    // 32-bit float samples as captured.
    void Feed(const float *samples, size_t bytes, size_t channels);
    // The block fed last was loud.
    void Loud();

    // Any thread.
    void SetGate(bool open) { FGate.store(open, std::memory_order_relaxed); }
    // When the last loud block has played out at the output; the epoch while
    // nothing loud is on its way (or nothing is relayed).
    std::chrono::steady_clock::time_point LoudPlayedOut() const;

private:
    enum class TState { Idle, Looking, Connecting, Playing, Missing, Refused, Echo };
    // All with the loop's lock held.
    void ServerReady() override {}
    // The stream's own state tells.
    void ServerFailed(const std::string &, bool) override {}
    void DevicesRead(bool changed) override;
    // Looks the output up in the server's lists: missing, a loop, or to play.
    void Check();
    void Stop(TState state, const std::string &why);
    void Connect();
    void DropStream();
    void Lost(const std::string &reason);
    void ScheduleRetry();
    void RequestTiming(pa_stream *record);
    void Pump();
    double PlaybackLatency() const;
    int64_t Write(int64_t from, int64_t count, bool open, int64_t back);
    void TraceXruns();
    static void StreamState(pa_stream *stream, void *user);
    static void TimingUpdated(pa_stream *stream, int success, void *user);

    std::shared_ptr<TPulseServer> FServer;
    TEvents FEvents;
    std::string FOutput;
    std::string FSource;
    int64_t FLead = 0; // in samples
    TState FState = TState::Idle;
    // Hushed for the program's end: nothing more is written.
    bool FHushed = false;
    pa_operation *FTiming = nullptr;
    pa_time_event *FRetry = nullptr;
    pa_stream *FStream = nullptr;

    // The delay line: mono samples by their index since the relay began
    // (starting at Size, so that what is older than the start reads as zeros).
    static constexpr size_t Size = 1 << 17; // about 3 s
    std::array<float, Size> FLine{};
    int64_t FWritten = Size;
    int64_t FRead = Size;
    // Capture time of line index 0 in CLOCK_MONOTONIC seconds, from the record
    // stream's timing figures; what a sample's index adds goes at Rate.
    double FOrigin = 0;
    // How many figures it has been worked out from; 0: guessed.
    int FOriginFigures = 0;
    double FLastTimingRequest = 0;
    // The record stream the figures are of; compared only, never used.
    const pa_stream *FRecord = nullptr;

    std::atomic<bool> FGate{false};
    TEchoGuard FGuard{Rate};
    // The guard holds the output silent.
    bool FProbing = false;
    // The gate as the samples queued last were written, and how many have
    // been written so since it changed.
    bool FQueuedOpen = false;
    int64_t FQueuedSince = 0;
    std::atomic<int64_t> FLoudUntil{0}; // steady_clock nanoseconds

    uint64_t FUnderruns = 0, FOverruns = 0, FTracedXruns = 0;
    double FLastXrunTrace = -1e9;
};
