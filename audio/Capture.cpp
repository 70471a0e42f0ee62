#include "audio/Capture.h"

#include <algorithm>
#include <cmath>

void TSampleRing::Push(const float *samples, size_t count)
{
    const uint64_t written = FWritten.load(std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i)
        FSamples[(written + i) % Size].store(samples[i], std::memory_order_relaxed);
    FWritten.store(written + count, std::memory_order_release);
}

void TSampleRing::Latest(float *out, size_t count) const
{
    for (;;) {
        const uint64_t end = FWritten.load(std::memory_order_acquire);
        const uint64_t begin = end >= count ? end - count : 0;
        const size_t missing = count - size_t(end - begin);
        std::fill(out, out + missing, 0.0f);
        for (uint64_t i = begin; i < end; ++i)
            out[missing + (i - begin)] = FSamples[i % Size].load(std::memory_order_relaxed);
        // The copy is good unless the writer came round to its oldest sample
        // meanwhile, which takes some 70 ms of delay here.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (FWritten.load(std::memory_order_relaxed) - begin <= Size)
            return;
    }
}

TSpectrumAnalyser::TSpectrumAnalyser()
{
    // Periodic Hann window: its sum is exactly Points / 2.
    const std::vector<std::complex<double>> roots = UnitRoots(Points);
    for (size_t n = 0; n < Points; ++n)
        FWindow[n] = float(0.5 - 0.5 * roots[n].real());
}

void TSpectrumAnalyser::Magnitudes(const TSampleRing &ring, float *out)
{
    ring.Latest(FSamples.data(), Points);
    for (size_t n = 0; n < Points; ++n)
        FSamples[n] *= FWindow[n];
    FFft.Forward(FSamples.data());
    // A sine of amplitude A centred on bin k gives |X[k]| = A * sum(window) / 2
    // = A * Points / 4.
    constexpr float scale = 4.0f / float(Points);
    // In double, as exact as hypot (no float overflow) and several times
    // quicker: this runs 30 times a second for as long as the program does.
    for (size_t k = 0; k < Bins; ++k) {
        const std::complex<double> bin = FFft.Bin(k);
        const double re = bin.real(), im = bin.imag();
        out[k] = float(std::sqrt(re * re + im * im)) * scale;
    }
}

namespace {
thread_local TCapture *CallbackCapture = nullptr;

// Fragments of about 5 ms unless asked otherwise: the newest sample is never
// more than that old when the user-interface thread or the block path looks.
constexpr pa_usec_t FragmentTime = 5 * PA_USEC_PER_MSEC;
constexpr pa_usec_t StallLimit = pa_usec_t(std::chrono::microseconds(RecordStallLimit).count());
// A wait without blocks is looked at again this much later, after the loop
// has dispatched what its sockets hold.
constexpr pa_usec_t StallConfirm = 20 * PA_USEC_PER_MSEC;
} // namespace

bool TCapture::FormatValid(uint32_t freq, uint32_t chans)
{
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, freq, uint8_t(chans)};
    return chans <= UINT8_MAX && pa_sample_spec_valid(&format);
}

TCapture::TCapture(std::shared_ptr<TPulseServer> server, std::shared_ptr<TChannel> channel, uint32_t freq,
                   uint32_t chans, RECORDPROC proc, std::shared_ptr<void> user, TEvents events, bool waitForSource,
                   uint32_t periodMs)
    : FServer(std::move(server)), FChannel(std::move(channel)), FRequested(FChannel->Source()), FProc(proc),
      FUser(std::move(user)), FEvents(std::move(events)), FWaitForSource(waitForSource)
{
    FSpec = {PA_SAMPLE_FLOAT32NE, freq, uint8_t(chans)};
    FFragment = periodMs ? pa_usec_t(periodMs) * PA_USEC_PER_MSEC : FragmentTime;
    TPulseServer::TLock lock(*FServer);
    FServer->Attach(this);
    if (!FServer->Ready())
        SetState(TState::NoServer);
    else if (FWaitForSource && !SourcePresent())
        SetState(TState::Lost);
    else
        Connect();
}

bool TCapture::SourcePresent() const
{
    const auto devices = FServer->Devices();
    return FRequested.empty() ? !devices->DefaultSource.empty()
                              : std::ranges::any_of(devices->Sources, [this](const TPulseServer::TDevice &source) {
                                    return source.Name == FRequested;
                                });
}

TCapture::~TCapture()
{
    TPulseServer::TLock lock(*FServer);
    FServer->Detach(this);
    if (FStream && pa_stream_get_state(FStream) == PA_STREAM_CREATING) {
        FServer->Api()->time_free(FStallTimer);
        FStallTimer = nullptr;
        FServer->Abandon(FStream);
        FStream = nullptr;
    }
    if (FStream)
        DropStream();
}

TCapture *TCapture::InCallback() { return CallbackCapture; }

void TCapture::SetState(TState state)
{
    FState = state;
    switch (state) {
    case TState::Starting: FChannel->Phase = TChannel::TPhase::Starting; break;
    case TState::Running: FChannel->Phase = TChannel::TPhase::Running; break;
    case TState::Ended: FChannel->Phase = TChannel::TPhase::Ended; break;
    default: FChannel->Phase = TChannel::TPhase::Waiting; break;
    }
}

void TCapture::ServerReady()
{
    if (FState != TState::NoServer)
        return;
    FState = TState::Reopening;
    Connect();
}

void TCapture::ServerFailed(const std::string &, bool)
{
    if (FStream)
        DropStream();
    if (FState != TState::Ended)
        SetState(TState::NoServer);
}

void TCapture::DevicesRead(bool changed)
{
    if (FState != TState::Lost || (FAwaitChange && !changed) || !SourcePresent())
        return;
    FState = TState::Resuming;
    Connect();
}

void TCapture::Connect()
{
    if (FStream)
        DropStream();
    pa_context *context = FServer->Context();
    FStream = pa_stream_new(context, "KOTARPlus VOX", &FSpec, nullptr);
    if (!FStream) {
        Failed(pa_strerror(pa_context_errno(context)));
        return;
    }
    pa_stream_set_state_callback(FStream, StreamState, this);
    pa_stream_set_read_callback(FStream, StreamRead, this);
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(-1);
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(FFragment, &FSpec));
    // A chosen source is kept: when it goes, the stream ends instead of being
    // moved to another device that the user did not choose.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | (FRequested.empty() ? 0 : PA_STREAM_DONT_MOVE));
    if (pa_stream_connect_record(FStream, FRequested.empty() ? nullptr : FRequested.c_str(), &attributes, flags) < 0) {
        Failed(pa_strerror(pa_context_errno(context)));
        return;
    }
    // No block yet counts from the request: a stream the server never
    // answers stalls.
    FLastData = pa_rtclock_now();
    FCheckedBlocks = FBlocks;
    FSuspect = false;
    FStallTimer = pa_context_rttime_new(
        context, FLastData + StallLimit,
        [](pa_mainloop_api *, pa_time_event *, const timeval *, void *user) { static_cast<TCapture *>(user)->CheckStall(); },
        this);
}

void TCapture::Failed(const std::string &reason)
{
    const TState was = FState;
    if (FStream)
        DropStream();
    // A resumption that fails is tried again when the list changes, not at
    // every reading of an unchanged one.
    FAwaitChange = was == TState::Resuming || was == TState::Reopening;
    SetState(TState::Lost);
    if (was == TState::Running || (was == TState::Starting && !FWaitForSource))
        FEvents.Lost(FChannel->Source(), reason);
}

void TCapture::DropStream()
{
    if (FStallTimer) {
        FServer->Api()->time_free(FStallTimer);
        FStallTimer = nullptr;
    }
    FChannel->Stalled = false;
    pa_stream_set_state_callback(FStream, nullptr, nullptr);
    pa_stream_set_read_callback(FStream, nullptr, nullptr);
    if (pa_stream_get_state(FStream) == PA_STREAM_READY)
        pa_stream_disconnect(FStream);
    pa_stream_unref(FStream);
    FStream = nullptr;
}

void TCapture::CheckStall()
{
    pa_context *context = pa_stream_get_context(FStream);
    const pa_usec_t now = pa_rtclock_now();
    const size_t waiting = FState == TState::Running ? pa_stream_readable_size(FStream) : 0;
    if (FBlocks == FCheckedBlocks && waiting > 0 && waiting != size_t(-1))
        StreamRead(FStream, waiting, this);
    if (FBlocks != FCheckedBlocks) {
        FCheckedBlocks = FBlocks;
        FSuspect = false;
        pa_context_rttime_restart(context, FStallTimer, std::max(FLastData + StallLimit, now + StallConfirm));
    } else if (!FSuspect) {
        FSuspect = true;
        pa_context_rttime_restart(context, FStallTimer, now + StallConfirm);
    } else {
        FChannel->Stalled = true;
        pa_context_rttime_restart(context, FStallTimer, now + StallLimit);
    }
}

void TCapture::StreamState(pa_stream *stream, void *user)
{
    auto *capture = static_cast<TCapture *>(user);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY: {
        if (const char *name = pa_stream_get_device_name(stream))
            capture->FChannel->SetSource(name);
        const bool resumed = capture->FState == TState::Resuming;
        capture->FAwaitChange = false;
        capture->SetState(TState::Running);
        if (resumed)
            capture->FEvents.Resumed(capture->FChannel->Source());
        break;
    }
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        if (capture->FState == TState::Ended)
            capture->DropStream();
        else
            capture->Failed(pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
        break;
    default: break;
    }
}

void TCapture::StreamRead(pa_stream *stream, size_t, void *user)
{
    auto *capture = static_cast<TCapture *>(user);
    while (capture->FState == TState::Running && pa_stream_readable_size(stream) > 0) {
        const void *data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            return;
        // No data with a length is a gap in the stream: dropped unread.
        if (data)
            capture->Deliver(static_cast<const float *>(data), bytes);
        pa_stream_drop(stream);
    }
    if (capture->FState == TState::Ended)
        pa_stream_disconnect(stream);
}

// Each frame of interleaved samples becomes one mono sample, the mean of its
// channels; then the record callback sees the block as delivered.
void TCapture::Deliver(const float *samples, size_t bytes)
{
    ++FBlocks;
    FLastData = pa_rtclock_now();
    FChannel->Stalled.store(false, std::memory_order_relaxed);
    const size_t channels = FSpec.channels;
    const size_t frames = bytes / (sizeof(float) * channels);
    std::array<float, 512> mono;
    for (size_t done = 0; done < frames;) {
        const size_t chunk = std::min(mono.size(), frames - done);
        for (size_t f = 0; f < chunk; ++f) {
            const float *frame = samples + (done + f) * channels;
            float sum = 0.0f;
            for (size_t c = 0; c < channels; ++c)
                sum += frame[c];
            mono[f] = sum / float(channels);
        }
        FChannel->Ring.Push(mono.data(), chunk);
        done += chunk;
    }
    if (!FProc)
        return;
    CallbackCapture = this;
    const bool goOn = FProc(FChannel->Handle, samples, uint32_t(bytes), FUser.get());
    CallbackCapture = nullptr;
    if (!goOn)
        SetState(TState::Ended);
}
