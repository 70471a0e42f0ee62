#pragma once
#include "audio/LoopProbe.h"
#include "audio/PulseServer.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// The audio relay: what the capture records is played into an output (a sink
// of the sound server), each sample leaving LEAD ms after it was captured, and
// only while the gate (PTT) is open; silence otherwise. It runs on the
// capture's server loop: the record callback feeds it with the loop's lock
// held, and the playback stream is written there and whenever the server asks
// for more. When a sample is due is measured with the server's own timing
// figures of both streams, not assumed.
//
// The delay stays here, in the line, and only a short stretch goes to the
// server ahead of its time: a sample is committed as sound or silence when it
// is that close to playing, so the gate's opening can still reach back to a
// little before the sound that keyed, and a transmission starts with its own
// first samples, unaltered. Whatever the gate lets through is never changed.
//
// An output from which sound reaches the recorded device, as the server's
// devices and modules tell, is refused, also when such a way is made while it
// plays; a loop they do not show is found by the loop probe while the gate is
// shut. While it cannot deliver, the relay is not Ready and the VOX must key
// nothing.
class TRelay final : private TPulseServer::TClient {
public:
    static constexpr uint32_t Rate = 44100;
    using TTime = std::chrono::steady_clock::time_point;

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

    // Any thread. Open: PTT is on; the sound from a little before the one that
    // keyed goes out, and the answer is when a probe already sent will have
    // played (the epoch if none is on its way): PTT must not rise before.
    // Shut: PTT is to fall; nothing more goes out, and the answer is when
    // what has gone out will have played: PTT must stay up until then.
    TTime Open();
    TTime Shut();
    // PTT has fallen after Shut: the output may fall silent. Until then (a
    // second at most) nothing more is written, so that a key-up before PTT
    // falls goes on without a gap.
    void Released();
    // Relayed sound can reach the output: the stream plays, and no loop was found.
    bool Ready() const { return FReady.load(std::memory_order_acquire); }
    // When the last loud block has played out at the output; the epoch while
    // nothing loud is on its way (or nothing is relayed).
    TTime LoudPlayedOut() const;

private:
    enum class TState { Idle, Looking, Connecting, Checking, Playing, Missing, Refused, Echo };
    // All with the loop's lock held.
    void ServerReady() override {}
    // The stream's own state tells.
    void ServerFailed(const std::string &, bool) override {}
    void DevicesRead(bool changed) override;
    void StreamsChanged() override;
    // The server's graph changed: a probe (again, after one under way).
    void ProbeSoon();
    void SetState(TState state);
    // Looks the output up in the server's lists: missing, a loop, or to play.
    void Check();
    void Stop(TState state, const std::string &why);
    void Connect();
    void DropStream();
    void Lost(const std::string &reason);
    void ScheduleRetry();
    void RequestTiming(pa_stream *record);
    void Pump();
    void Probe();
    void Judge(TLoopProbe::TVerdict verdict);
    // What is queued at the server and the output's own latency, in seconds.
    struct TLatency {
        double Queued = 0, Sink = 0;
        bool Known = false;
    };
    TLatency PlaybackLatency() const;
    int64_t Write(int64_t from, int64_t count, double latency);
    void TraceXruns();
    static void StreamState(pa_stream *stream, void *user);
    static void TimingUpdated(pa_stream *stream, int success, void *user);

    std::shared_ptr<TPulseServer> FServer;
    TEvents FEvents;
    std::string FOutput;
    std::string FSource;
    int64_t FLead = 0; // in samples
    // How far ahead of its time a sample goes to the server, in seconds.
    double FAhead = 0;
    TState FState = TState::Idle;
    std::atomic<bool> FReady{false};
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
    // The next line sample to go to the server.
    int64_t FRead = Size;
    // Capture time of line index 0 in CLOCK_MONOTONIC seconds, from the record
    // stream's timing figures; what a sample's index adds goes at Rate.
    double FOrigin = 0;
    // How many figures it has been worked out from; 0: guessed.
    int FOriginFigures = 0;
    double FLastTimingRequest = 0;
    // The record stream the figures are of; compared only, never used.
    const pa_stream *FRecord = nullptr;

    // The gate as the core set it; the writer holds the lock from reading it
    // until what it sent is accounted for in FOpenPlayedOut and
    // FProbePlayedOut (when the last relayed and probe samples play out).
    std::mutex FGateLock;
    bool FGate = false;
    double FOpenPlayedOut = 0;
    double FProbePlayedOut = 0;
    bool FReleased = true;
    // Loop thread: the gate as last written, and the first line sample it
    // lets through since it opened.
    bool FGateSeen = false;
    int64_t FOpenFrom = 0;
    // The first sample over a fraction of the peak in the window that made the
    // latest burst loud.
    int64_t FOnset = 0;
    double FLastLoud = -1e9;
    std::atomic<int64_t> FLoudUntil{0}; // steady_clock nanoseconds

    TLoopProbe FProbe{Rate};
    double FNextProbe = 0;
    // The graph changed while a probe was under way: another follows; and
    // until when probes follow one another after a change.
    bool FProbeAgain = false;
    double FSettleUntil = 0;
    // Probes in a row that found no loop while one was.
    int FCleanProbes = 0;
    // The output came back: its first clean probe says so.
    bool FResumed = false;

    uint64_t FUnderruns = 0, FOverruns = 0, FTracedXruns = 0;
    double FLastXrunTrace = -1e9;
};
