#include "audio/Relay.h"

#include "audio/Capture.h"
#include "audio/SoundGraph.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace {

double Now(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The shortest stretch written ahead of its time, and what of the lead is
// kept for the key-up: the capture's block, the level's window and PTT's
// command must all have come before the sound's head is committed.
constexpr double MinAhead = 0.020, KeyUpAllowance = 0.035, MaxAhead = 0.100;
// The gate opens this long before the first sample of the sound that keyed:
// what comes before it is the input's own, unaltered, never a step.
constexpr double Preroll = 0.010;
// A loud block this long after the last one starts a new burst.
constexpr double BurstGap = 0.100;
// A burst's onset: the first sample over this fraction of the window's peak.
constexpr float OnsetFraction = 0.125f;
// How often both streams' timing figures are asked for: they drift only with
// the clocks, and between two answers the playback side is interpolated.
constexpr double TimingPeriod = 0.5;
// While the gate is open the relay keeps its pace unless it is off by more
// than this: a jump cuts or repeats sound (a modem loses characters), and the
// figures scatter by milliseconds on a loaded machine while the clocks drift
// far less in a transmission. Shut, it follows every measurement (it plays
// silence then).
constexpr double OpenTolerance = 0.02;
constexpr double ShutTolerance = 0.0002;
// The loop probe: how often while the gate is shut (at once when the server's
// graph changes; often while a loop is there, to find it gone), how long
// after the last loud sound or relayed sample, and how many lags it searches
// per block.
constexpr double ProbePeriod = 10.0, EchoProbePeriod = 2.0, ProbeQuiet = 0.3;
// After a change of the graph, probes begin after a moment and follow one
// another for a while: a stream moved or a module loaded may take a while to
// carry sound.
constexpr double ChangeDelay = 0.5, ChangeSettle = 5.0;
// How long a shut gate waits for PTT's release to go out at the most.
constexpr double ReleaseWait = 1.0;
constexpr int64_t ProbeBudget = 400;
// Underruns and overruns go to the trace at most once in this time.
constexpr double XrunTracePeriod = 60;

TRelay::TTime TimeAt(double seconds)
{
    return TRelay::TTime(std::chrono::nanoseconds(int64_t(seconds * 1e9)));
}

} // namespace

TRelay::TRelay(std::shared_ptr<TPulseServer> server, TEvents events)
    : FServer(std::move(server)), FEvents(std::move(events))
{
    TPulseServer::TLock lock(*FServer);
    FServer->Attach(this);
}

TRelay::~TRelay()
{
    TPulseServer::TLock lock(*FServer);
    FServer->Detach(this);
    if (FTiming) {
        pa_operation_cancel(FTiming);
        pa_operation_unref(FTiming);
    }
    if (FRetry)
        pa_threaded_mainloop_get_api(FServer->Loop())->time_free(FRetry);
    if (FStream)
        DropStream();
}

void TRelay::Start(const std::string &output, int leadMs, const std::string &source)
{
    TPulseServer::TLock lock(*FServer);
    FOutput = output;
    FLead = int64_t(leadMs) * Rate / 1000;
    FAhead = std::clamp(leadMs / 1000.0 - KeyUpAllowance, MinAhead, MaxAhead);
    FSource = source;
    // What an earlier start left going ends here.
    if (FRetry) {
        pa_threaded_mainloop_get_api(FServer->Loop())->time_free(FRetry);
        FRetry = nullptr;
    }
    if (FStream)
        DropStream();
    FLoudUntil = 0;
    FOriginFigures = 0;
    FHushed = false;
    SetState(TState::Looking);
    Check();
}

void TRelay::Hush()
{
    TPulseServer::TLock lock(*FServer);
    {
        std::lock_guard gate(FGateLock);
        FGate = false;
    }
    FHushed = true;
    if (!FStream || pa_stream_get_state(FStream) != PA_STREAM_READY)
        return;
    // Requests, answered later; the server's loop stops only once they are
    // through (TPulseServer::Stop).
    for (pa_operation *operation :
         {pa_stream_cork(FStream, 1, nullptr, nullptr), pa_stream_flush(FStream, nullptr, nullptr)})
        if (operation)
            pa_operation_unref(operation);
}

void TRelay::SetState(TState state)
{
    FState = state;
    FReady.store(state == TState::Playing, std::memory_order_release);
    if (state != TState::Playing)
        FLoudUntil = 0;
}

void TRelay::DevicesRead(bool changed)
{
    if (!changed)
        return;
    // A way made while it plays: the graph may show it, and the probe looks
    // for what it does not at once.
    if (FState == TState::Connecting || FState == TState::Checking || FState == TState::Playing
        || FState == TState::Echo) {
        ProbeSoon();
        Check();
    }
}

void TRelay::StreamsChanged() { ProbeSoon(); }

void TRelay::ProbeSoon()
{
    // Not at once: a program that opens its stream to send has its sound
    // follow, and a probe would only be dropped at the key-up.
    // A stream that keeps changing (PipeWire tells of latency changes) must
    // not put the probe off for ever.
    const double now = Now(CLOCK_MONOTONIC);
    FNextProbe = std::min(FNextProbe, now + ChangeDelay);
    FSettleUntil = now + ChangeSettle;
    FProbeAgain = FProbe.Running();
}

void TRelay::Check()
{
    const std::shared_ptr<const TPulseServer::TDevices> devices = FServer->Devices();
    const bool first = FState == TState::Looking;
    if (std::ranges::none_of(devices->Sinks, [this](const auto &sink) { return sink.Name == FOutput; })) {
        if (first)
            FEvents.Fault("Relay output (" + FOutput + ") not found: the VOX keys nothing until it is there");
        if (!FStream) {
            SetState(TState::Missing);
            ScheduleRetry();
        }
        return;
    }
    // The default source is what is recorded when none is named, also after
    // the default has changed: the capture follows it.
    const std::string &recorded = FSource.empty() ? devices->DefaultSource : FSource;
    if (const auto path = SoundGraph::LoopPath(*devices, FOutput, recorded); !path.empty()) {
        std::string chain;
        for (const std::string &device : path)
            chain += (chain.empty() ? "" : " -> ") + device;
        Stop(TState::Refused, "refused: its sound reaches the recorded device (" + chain + ")");
        return;
    }
    if (FStream)
        return;
    SetState(first ? TState::Connecting : TState::Missing);
    Connect();
}

void TRelay::Stop(TState state, const std::string &why)
{
    if (FStream)
        DropStream();
    SetState(state);
    FEvents.Fault("Relay output (" + FOutput + ") " + why + "; the VOX keys nothing");
}

void TRelay::ScheduleRetry()
{
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(FServer->Loop());
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), PA_USEC_PER_SEC);
    if (FRetry) {
        api->time_restart(FRetry, &when);
        return;
    }
    FRetry = api->time_new(
        api, &when,
        [](pa_mainloop_api *api, pa_time_event *event, const timeval *, void *user) {
            auto *relay = static_cast<TRelay *>(user);
            api->time_free(event);
            relay->FRetry = nullptr;
            if (relay->FState == TState::Missing && !relay->FStream)
                relay->Check();
        },
        this);
}

void TRelay::Connect()
{
    pa_sample_spec format{PA_SAMPLE_FLOAT32NE, Rate, 1};
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "KOTARPlus relay");
    FStream = pa_stream_new_with_proplist(FServer->Context(), "KOTARPlus relay", &format, nullptr, properties);
    pa_proplist_free(properties);
    if (!FStream) {
        Lost(pa_strerror(pa_context_errno(FServer->Context())));
        return;
    }
    pa_stream_set_state_callback(FStream, StreamState, this);
    // Only while sound goes out: a shut gate lets the output run dry as PTT
    // falls (see Pump).
    pa_stream_set_underflow_callback(
        FStream,
        [](pa_stream *, void *user) {
            auto *relay = static_cast<TRelay *>(user);
            relay->FUnderruns += relay->FGateSeen;
        },
        this);
    pa_stream_set_overflow_callback(
        FStream, [](pa_stream *, void *user) { ++static_cast<TRelay *>(user)->FOverruns; }, this);
    pa_stream_set_write_callback(
        FStream, [](pa_stream *, size_t, void *user) { static_cast<TRelay *>(user)->Pump(); }, this);
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(FAhead * PA_USEC_PER_SEC), &format));
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(-1);
    // The named output or none: a relay must never play into another device.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_playback(FStream, FOutput.c_str(), &attributes, flags, nullptr, nullptr) < 0)
        Lost(pa_strerror(pa_context_errno(FServer->Context())));
}

void TRelay::DropStream()
{
    pa_stream_set_state_callback(FStream, nullptr, nullptr);
    pa_stream_set_underflow_callback(FStream, nullptr, nullptr);
    pa_stream_set_overflow_callback(FStream, nullptr, nullptr);
    pa_stream_set_write_callback(FStream, nullptr, nullptr);
    // Before the server has answered its creation a stream cannot be
    // disconnected: left alone it would stay on the output until the end.
    if (pa_stream_get_state(FStream) == PA_STREAM_CREATING)
        FServer->Abandon(FStream);
    else {
        if (pa_stream_get_state(FStream) == PA_STREAM_READY)
            pa_stream_disconnect(FStream);
        pa_stream_unref(FStream);
    }
    FStream = nullptr;
}

void TRelay::StreamState(pa_stream *stream, void *user)
{
    auto *relay = static_cast<TRelay *>(user);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        // Sound goes out once the probe has found no loop.
        relay->FResumed = relay->FState == TState::Missing;
        relay->SetState(TState::Checking);
        relay->FRead = relay->FWritten;
        relay->FGateSeen = false;
        relay->FProbe.Reset(relay->FLead);
        relay->FNextProbe = 0;
        if (pa_operation *timing = pa_stream_update_timing_info(stream, nullptr, nullptr))
            pa_operation_unref(timing);
        break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        relay->Lost(pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
        break;
    default: break;
    }
}

void TRelay::Lost(const std::string &reason)
{
    if (FStream)
        DropStream();
    // A failed attempt to come back stays one report.
    if (FState == TState::Playing || FState == TState::Checking || FState == TState::Connecting
        || FState == TState::Echo)
        FEvents.Fault("Relay output (" + FOutput + ") gone (" + reason
                      + "): the VOX keys nothing until it returns");
    SetState(TState::Missing);
    ScheduleRetry();
}

void TRelay::RequestTiming(pa_stream *record)
{
    // A new record stream (the capture resumed) places its samples afresh; an
    // answer its predecessor took with it never comes.
    if (record != FRecord) {
        FRecord = record;
        FOriginFigures = 0;
    }
    if (FTiming && pa_operation_get_state(FTiming) != PA_OPERATION_RUNNING) {
        pa_operation_unref(FTiming);
        FTiming = nullptr;
    }
    const double now = Now(CLOCK_MONOTONIC);
    if (FTiming || now - FLastTimingRequest < TimingPeriod)
        return;
    FLastTimingRequest = now;
    FTiming = pa_stream_update_timing_info(record, TimingUpdated, this);
    if (FStream && pa_stream_get_state(FStream) == PA_STREAM_READY)
        if (pa_operation *timing = pa_stream_update_timing_info(FStream, nullptr, nullptr))
            pa_operation_unref(timing);
}

// The record stream's figures place its samples in time: the sample at the
// server's write index was captured the source's latency before the figures'
// time stamp (wall clock, as the client library keeps it), and everything up
// to the client's read index has been fed into the line.
void TRelay::TimingUpdated(pa_stream *stream, int success, void *user)
{
    auto *relay = static_cast<TRelay *>(user);
    pa_operation_unref(relay->FTiming);
    relay->FTiming = nullptr;
    const pa_timing_info *timing = success ? pa_stream_get_timing_info(stream) : nullptr;
    if (!timing || timing->write_index_corrupt || timing->read_index_corrupt)
        return;
    const double stamp = double(timing->timestamp.tv_sec) + double(timing->timestamp.tv_usec) / 1e6
                         - Now(CLOCK_REALTIME) + Now(CLOCK_MONOTONIC);
    const auto frame = int64_t(pa_frame_size(pa_stream_get_sample_spec(stream)));
    const int64_t written = relay->FWritten - (timing->read_index - timing->write_index) / frame;
    const double origin = stamp - double(timing->source_usec) / 1e6 - double(written) / Rate;
    // Smoothed: single figures scatter by the server's scheduling; a jump (a
    // new record stream) is taken at once. The first figures of a stream are
    // off by milliseconds, so the first seconds follow the figures closely.
    if (std::abs(origin - relay->FOrigin) > 0.005)
        relay->FOriginFigures = 0;
    const double weight = relay->FOriginFigures == 0 ? 1.0 : relay->FOriginFigures < 8 ? 0.5 : 0.1;
    relay->FOrigin += weight * (origin - relay->FOrigin);
    ++relay->FOriginFigures;
}

void TRelay::Feed(const float *samples, size_t bytes, size_t channels)
{
    const size_t frames = bytes / (sizeof(float) * channels);
    for (size_t f = 0; f < frames; ++f) {
        float sum = 0;
        for (size_t c = 0; c < channels; ++c)
            sum += samples[f * channels + c];
        FLine[size_t(FWritten + int64_t(f)) % Size] = sum / float(channels);
    }
    FWritten += int64_t(frames);
    const double now = Now(CLOCK_MONOTONIC);
    if (TCapture *capture = TCapture::InCallback(); capture && capture->Stream())
        RequestTiming(capture->Stream());
    // Until the first figures come, the block counts as captured just now.
    if (FOriginFigures == 0)
        FOrigin = now - double(FWritten) / Rate;
    Pump();
    Probe();
}

// How long a sample written now waits before it plays, from the latest timing
// figures of the playback stream: what is queued at the server, less what has
// played since the figures were taken, plus the output's own buffer. Worked
// out here rather than by the client library's smoothed clock, which holds an
// early overshoot for seconds (it never runs backwards) and reads 0 meanwhile.
TRelay::TLatency TRelay::PlaybackLatency() const
{
    const pa_timing_info *timing = pa_stream_get_timing_info(FStream);
    if (!timing || timing->write_index_corrupt || timing->read_index_corrupt)
        return {};
    // The output plays on in real time since then, whether the figures saw it
    // playing or (between two of our writes) just run dry.
    const double played = double(timing->read_index) / (sizeof(float) * Rate)
                          + double(timing->transport_usec) / 1e6 + Now(CLOCK_REALTIME)
                          - (double(timing->timestamp.tv_sec) + double(timing->timestamp.tv_usec) / 1e6);
    const double queued = double(timing->write_index) / (sizeof(float) * Rate) - played;
    return {std::max(0.0, queued), double(timing->sink_usec) / 1e6, true};
}

// Writes what is due within FAhead. Called for every captured block and
// whenever the server asks for more, so that what is already in the delay line
// keeps the output fed while the capture's blocks come late or in bunches.
void TRelay::Pump()
{
    if ((FState != TState::Checking && FState != TState::Playing && FState != TState::Echo) || FHushed)
        return;
    const double now = Now(CLOCK_MONOTONIC);
    TraceXruns();
    const TLatency latency = PlaybackLatency();

    std::lock_guard gate(FGateLock);
    // Only a Ready relay lets sound through.
    const bool open = FGate && FState == TState::Playing;
    // Just shut, PTT stays up until what went out has played and the release
    // has gone out; until then nothing more is written, so that a key-up
    // meanwhile goes on from there without a gap.
    const bool held = !FReleased && now < FOpenPlayedOut + ReleaseWait;
    if (open && !FGateSeen) {
        // What is left of a probe is not sent: PTT waits for what went out
        // (Open told when), and the search would miss it.
        FProbe.Reset(FLead);
        // From a little before the sound that keyed, unless that has gone
        // already (the key-up came too late) or is long past (Tune).
        FOpenFrom = FRead;
        if (!held && FWritten - FOnset < int64_t(BurstGap * Rate) + 1024)
            FOpenFrom = std::max(FRead, FOnset - int64_t(Preroll * Rate));
    }
    FGateSeen = open;
    if (!open && held)
        return;

    // The sample written now plays after the latency: it must be the one
    // captured LEAD before that moment.
    const double due = now + latency.Queued + latency.Sink - double(FLead) / Rate;
    const auto index = int64_t(std::llround((due - FOrigin) * Rate));
    const double tolerance = open ? OpenTolerance : ShutTolerance;
    if (std::abs(double(index - FRead)) > tolerance * Rate)
        FRead = index;
    FRead = std::clamp(FRead, FWritten - int64_t(Size) + 1, FWritten);
    // No more than FAhead goes to the server: what is later may still be let
    // through or held back. Without figures nothing is known of the queue.
    if (!latency.Known)
        return;
    const int64_t room = int64_t((FAhead - latency.Queued) * Rate);
    const int64_t count = std::min(FWritten - FRead, room);
    if (count > 0)
        FRead += Write(FRead, count, latency.Queued + latency.Sink);
}

// Writes `count` samples of the line from index `from`: sound where the gate
// lets it through, else silence or the probe; how many went. `latency`: when
// the first of them plays.
int64_t TRelay::Write(int64_t from, int64_t count, double latency)
{
    const double now = Now(CLOCK_MONOTONIC);
    int64_t done = 0;
    while (done < count) {
        void *buffer = nullptr;
        size_t room = size_t(count - done) * sizeof(float);
        if (pa_stream_begin_write(FStream, &buffer, &room) < 0 || !buffer)
            break;
        const int64_t chunk = std::min(count - done, int64_t(room / sizeof(float)));
        auto *out = static_cast<float *>(buffer);
        int64_t lastOpen = -1, lastProbe = -1;
        for (int64_t i = 0; i < chunk; ++i) {
            const int64_t index = from + done + i;
            if (FGateSeen && index >= FOpenFrom) {
                out[i] = FLine[size_t(index) % Size];
                lastOpen = i;
            } else {
                out[i] = !FGateSeen && FProbe.Running() ? FProbe.Sample(index) : 0.0f;
                if (out[i] != 0.0f)
                    lastProbe = i;
            }
        }
        if (pa_stream_write(FStream, buffer, size_t(chunk) * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            pa_stream_cancel_write(FStream);
            break;
        }
        const double start = now + latency + double(done) / Rate;
        if (lastOpen >= 0)
            FOpenPlayedOut = start + double(lastOpen + 1) / Rate;
        if (lastProbe >= 0)
            FProbePlayedOut = start + double(lastProbe + 1) / Rate;
        done += chunk;
    }
    return done;
}

// Asks whether the output comes back, only while the gate is shut and sound
// has been quiet for a while (a probe in the middle of speech would be lost
// in it), except for the first, which decides whether the relay may play.
void TRelay::Probe()
{
    if ((FState != TState::Checking && FState != TState::Playing && FState != TState::Echo) || FHushed)
        return;
    if (FProbe.Running()) {
        if (const auto verdict = FProbe.Work(FLine.data(), int64_t(Size), FWritten, ProbeBudget))
            Judge(*verdict);
        return;
    }
    const double now = Now(CLOCK_MONOTONIC);
    if (FGateSeen || now < FNextProbe)
        return;
    if (FState != TState::Checking) {
        std::lock_guard gate(FGateLock);
        if (FGate || now < FOpenPlayedOut + ProbeQuiet || now < FLastLoud + ProbeQuiet)
            return;
    }
    FProbe.Begin(FRead);
}

void TRelay::Judge(TLoopProbe::TVerdict verdict)
{
    const double now = Now(CLOCK_MONOTONIC);
    FNextProbe = FProbeAgain || now < FSettleUntil ? 0 : now + (verdict.Loop ? EchoProbePeriod : ProbePeriod);
    FProbeAgain = false;
    if (verdict.Loop) {
        FCleanProbes = 0;
        if (FState != TState::Echo)
            FEvents.Fault("Relay output (" + FOutput + ") stopped: its sound comes back to the recorded device "
                          + std::to_string(verdict.ReturnMs)
                          + " ms after it was played (an echo loop); the VOX keys nothing until it is gone");
        SetState(TState::Echo);
        return;
    }
    // A loop that missed one probe (its stream held up) is not gone yet.
    if (FState == TState::Echo && ++FCleanProbes < 2)
        return;
    FCleanProbes = 0;
    if (FState == TState::Echo)
        FEvents.Note("Relay output (" + FOutput + "): the echo loop is gone; relay resumed");
    else if (FState == TState::Checking)
        FEvents.Note("Relay output (" + FOutput + (FResumed ? ") back: relay resumed" : ") checked: no echo loop; relaying"));
    FResumed = false;
    SetState(TState::Playing);
}

TRelay::TTime TRelay::Open()
{
    std::lock_guard gate(FGateLock);
    FGate = true;
    return TimeAt(FProbePlayedOut);
}

TRelay::TTime TRelay::Shut()
{
    std::lock_guard gate(FGateLock);
    FGate = false;
    FReleased = false;
    return TimeAt(FOpenPlayedOut);
}

void TRelay::Released()
{
    std::lock_guard gate(FGateLock);
    FReleased = true;
}

void TRelay::Loud()
{
    if (FState != TState::Playing)
        return;
    const double now = Now(CLOCK_MONOTONIC);
    // A burst begins: where its sound rises out of what came before, within
    // the level's window (the latest 1024 samples).
    if (now - FLastLoud > BurstGap) {
        const int64_t from = FWritten - std::min<int64_t>(1024, FWritten - FRead);
        float peak = 0;
        for (int64_t i = from; i < FWritten; ++i)
            peak = std::max(peak, std::abs(FLine[size_t(i) % Size]));
        FOnset = from;
        while (FOnset < FWritten && std::abs(FLine[size_t(FOnset) % Size]) < peak * OnsetFraction)
            ++FOnset;
    }
    FLastLoud = now;
    // Its samples were captured before it arrived, so they have played out
    // LEAD after now at the latest. Counted from now, not from the server's
    // timing figures, so that a wrong figure can never hold PTT.
    const double playedOut = now + double(FLead) / Rate;
    FLoudUntil.store(int64_t(playedOut * 1e9), std::memory_order_relaxed);
}

TRelay::TTime TRelay::LoudPlayedOut() const
{
    return TTime(std::chrono::nanoseconds(FLoudUntil.load(std::memory_order_relaxed)));
}

void TRelay::TraceXruns()
{
    const uint64_t total = FUnderruns + FOverruns;
    const double now = Now(CLOCK_MONOTONIC);
    if (total == FTracedXruns || now - FLastXrunTrace < XrunTracePeriod)
        return;
    FTracedXruns = total;
    FLastXrunTrace = now;
    FEvents.Note("Relay output (" + FOutput + "): " + std::to_string(FUnderruns) + " underruns, "
                 + std::to_string(FOverruns) + " overruns so far");
}
