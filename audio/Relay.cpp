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

// The playback buffer asked of the server. It sets the output's own latency:
// what has gone that far cannot be rewritten when the gate changes.
constexpr pa_usec_t BufferTime = 20 * PA_USEC_PER_MSEC;
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
// While the gate is shut, silence is written once this much is due.
constexpr double ShutBatch = 0.02;
// Underruns and overruns go to the trace at most once in this time.
constexpr double XrunTracePeriod = 60;

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
    FState = TState::Looking;
    Check();
}

void TRelay::Hush()
{
    TPulseServer::TLock lock(*FServer);
    FGate = false;
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

void TRelay::DevicesRead(bool changed)
{
    // Only a way made while it plays is looked for: a refused output stays
    // refused, and one that is missing is tried at its retry.
    if (changed && (FState == TState::Connecting || FState == TState::Playing))
        Check();
}

void TRelay::Check()
{
    const std::shared_ptr<const TPulseServer::TDevices> devices = FServer->Devices();
    const bool first = FState == TState::Looking;
    if (std::ranges::none_of(devices->Sinks, [this](const auto &sink) { return sink.Name == FOutput; })) {
        if (first)
            FEvents.Fault("Relay output (" + FOutput + ") not found: the VOX keys without relaying audio");
        if (!FStream) {
            FState = TState::Missing;
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
    FState = first ? TState::Connecting : TState::Missing;
    Connect();
}

void TRelay::Stop(TState state, const std::string &why)
{
    if (FStream)
        DropStream();
    FState = state;
    FLoudUntil = 0;
    FEvents.Fault("Relay output (" + FOutput + ") " + why + "; no audio is relayed");
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
    pa_stream_set_underflow_callback(
        FStream, [](pa_stream *, void *user) { ++static_cast<TRelay *>(user)->FUnderruns; }, this);
    pa_stream_set_overflow_callback(
        FStream, [](pa_stream *, void *user) { ++static_cast<TRelay *>(user)->FOverruns; }, this);
    pa_stream_set_write_callback(
        FStream, [](pa_stream *, size_t, void *user) { static_cast<TRelay *>(user)->Pump(); }, this);
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(pa_usec_to_bytes(BufferTime, &format));
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(-1);
    // The named output or none: a relay must never play into another device.
    const auto flags =
        pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
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
    case PA_STREAM_READY: {
        const bool resumed = relay->FState == TState::Missing;
        relay->FState = TState::Playing;
        relay->FRead = relay->FWritten;
        relay->FQueuedOpen = false;
        relay->FQueuedSince = 0;
        relay->FGuard.Reset(relay->FLead);
        relay->FProbing = false;
        if (pa_operation *timing = pa_stream_update_timing_info(stream, nullptr, nullptr))
            pa_operation_unref(timing);
        if (resumed)
            relay->FEvents.Note("Relay output (" + relay->FOutput + ") back: relay resumed");
        break;
    }
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
    if (FState == TState::Playing || FState == TState::Connecting)
        FEvents.Fault("Relay output (" + FOutput + ") gone (" + reason
                      + "): the VOX keys without relaying audio until it returns");
    FState = TState::Missing;
    FLoudUntil = 0;
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
    if (FState == TState::Playing)
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
        const float mono = sum / float(channels);
        FLine[size_t(FWritten + int64_t(f)) % Size] = mono;
        FGuard.Captured(FWritten + int64_t(f), mono);
    }
    FWritten += int64_t(frames);
    const double now = Now(CLOCK_MONOTONIC);
    if (TCapture *capture = TCapture::InCallback(); capture && capture->Stream())
        RequestTiming(capture->Stream());
    // Until the first figures come, the block counts as captured just now.
    if (FOriginFigures == 0)
        FOrigin = now - double(FWritten) / Rate;
    if (FState == TState::Playing && !FHushed) {
        FProbing = FGuard.Probing(FGate.load(std::memory_order_relaxed));
        if (const std::optional<int> ms = FGuard.EchoMs()) {
            Stop(TState::Echo, "stopped: its sound comes back to the recorded device " + std::to_string(*ms)
                                   + " ms after it was captured (an echo loop)");
            return;
        }
    }
    Pump();
}

// How long a sample written now waits before it plays, from the latest timing
// figures of the playback stream: what is queued at the server, less what has
// played since the figures were taken, plus the output's own buffer. Worked
// out here rather than by the client library's smoothed clock, which holds an
// early overshoot for seconds (it never runs backwards) and reads 0 meanwhile.
double TRelay::PlaybackLatency() const
{
    const pa_timing_info *timing = pa_stream_get_timing_info(FStream);
    if (!timing || timing->write_index_corrupt || timing->read_index_corrupt)
        return 0;
    // The output plays on in real time since then, whether the figures saw it
    // playing or (between two of our writes) just run dry.
    const double played = double(timing->read_index) / (sizeof(float) * Rate)
                          + double(timing->transport_usec) / 1e6 + Now(CLOCK_REALTIME)
                          - (double(timing->timestamp.tv_sec) + double(timing->timestamp.tv_usec) / 1e6);
    const double queued = double(timing->write_index) / (sizeof(float) * Rate) - played;
    return std::max(0.0, queued) + double(timing->sink_usec) / 1e6;
}

// Writes what the output can take now. Called for every captured block and
// whenever the server asks for more, so that what is already in the delay line
// keeps the output fed while the capture's blocks come late or in bunches.
void TRelay::Pump()
{
    if (FState != TState::Playing || FHushed)
        return;
    const double now = Now(CLOCK_MONOTONIC);

    TraceXruns();
    const double latency = PlaybackLatency();
    // The sample written now plays after `latency`: it must be the one captured
    // LEAD before that moment.
    const double due = now + latency - double(FLead) / Rate;
    const auto index = int64_t(std::llround((due - FOrigin) * Rate));
    const bool open = FGate.load(std::memory_order_relaxed) && !FProbing;
    // What is queued and has not played yet takes the gate's new state: the
    // silence written ahead while it was shut becomes the sound captured for
    // that moment (the head of the sound that keyed), and the sound written
    // ahead while it was open becomes silence once PTT has fallen.
    if (open != FQueuedOpen) {
        const int64_t queued = std::min(FQueuedSince, FLead + int64_t(OpenTolerance * Rate));
        Write(FRead - queued, queued, open, queued);
        FQueuedOpen = open;
        FQueuedSince = queued;
    }
    const double tolerance = open ? OpenTolerance : ShutTolerance;
    if (std::abs(double(index - FRead)) > tolerance * Rate)
        FRead = index;
    FRead = std::clamp(FRead, FWritten - int64_t(Size) + 1, FWritten);

    // All that has been captured goes to the server at once: the output holds
    // nearly LEAD of sound (or silence) and outlasts this thread being held up.
    // Silence goes in batches of up to half the lead: fewer writes while idle.
    if (!open && FWritten - FRead < std::min(FLead / 2, int64_t(ShutBatch * Rate)))
        return;
    const int64_t written = Write(FRead, FWritten - FRead, open, 0);
    FRead += written;
    FQueuedSince += written;
}

// Writes `count` samples of the line from index `from` (silence when shut),
// the first `back` of them over what was written last; how many went.
int64_t TRelay::Write(int64_t from, int64_t count, bool open, int64_t back)
{
    auto offset = -back * int64_t(sizeof(float));
    int64_t done = 0;
    while (done < count) {
        void *buffer = nullptr;
        size_t room = size_t(count - done) * sizeof(float);
        if (pa_stream_begin_write(FStream, &buffer, &room) < 0 || !buffer)
            break;
        const int64_t chunk = std::min(count - done, int64_t(room / sizeof(float)));
        auto *out = static_cast<float *>(buffer);
        for (int64_t i = 0; i < chunk; ++i)
            out[i] = open ? FLine[size_t(from + done + i) % Size] : 0.0f;
        if (pa_stream_write(FStream, buffer, size_t(chunk) * sizeof(float), nullptr, offset, PA_SEEK_RELATIVE) < 0) {
            pa_stream_cancel_write(FStream);
            break;
        }
        FGuard.Played(from + done, chunk, open);
        // Each later write follows the one before.
        offset = 0;
        done += chunk;
    }
    return done;
}

void TRelay::Loud()
{
    if (FState != TState::Playing)
        return;
    // Its samples were captured before it arrived, so they have played out
    // LEAD after now at the latest. Counted from now, not from the server's
    // timing figures, so that a wrong figure can never hold PTT.
    const double playedOut = Now(CLOCK_MONOTONIC) + double(FLead) / Rate;
    FLoudUntil.store(int64_t(playedOut * 1e9), std::memory_order_relaxed);
}

std::chrono::steady_clock::time_point TRelay::LoudPlayedOut() const
{
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(FLoudUntil.load(std::memory_order_relaxed)));
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
