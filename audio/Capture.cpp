#include "audio/Capture.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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
        // meanwhile, which takes hundreds of milliseconds of delay here.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (FWritten.load(std::memory_order_relaxed) - begin <= Size)
            return;
    }
}

TSpectrumAnalyser::TSpectrumAnalyser() : FConfig(kiss_fftr_alloc(int(Points), 0, nullptr, nullptr))
{
    // Periodic Hann window: its sum is exactly Points / 2.
    for (size_t n = 0; n < Points; ++n)
        FWindow[n] = float(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(n) / double(Points)));
}

TSpectrumAnalyser::~TSpectrumAnalyser() { kiss_fftr_free(FConfig); }

void TSpectrumAnalyser::Magnitudes(const TSampleRing &ring, float *out)
{
    ring.Latest(FSamples.data(), Points);
    for (size_t n = 0; n < Points; ++n)
        FSamples[n] *= FWindow[n];
    kiss_fftr(FConfig, FSamples.data(), FSpectrum.data());
    // A sine of amplitude A centred on bin k gives |X[k]| = A * sum(window) / 2
    // = A * Points / 4.
    constexpr float scale = 4.0f / float(Points);
    for (size_t k = 0; k < Bins; ++k)
        out[k] = std::hypot(FSpectrum[k].r, FSpectrum[k].i) * scale;
}

namespace {
thread_local TCapture *CallbackCapture = nullptr;

// Fragments of about 5 ms: the newest sample is never more than that old when
// the user-interface thread or the block path looks.
constexpr pa_usec_t FragmentTime = 5 * PA_USEC_PER_MSEC;
} // namespace

TCapture::TCapture(std::shared_ptr<TPulseServer> server, const std::string &source, uint32_t freq, uint32_t chans,
                   RECORDPROC proc, void *user, HRECORD handle, TEvents events, bool waitForSource)
    : FServer(std::move(server)), FRequested(source), FSource(source), FProc(proc), FUser(user), FHandle(handle),
      FEvents(std::move(events)), FWaitForSource(waitForSource)
{
    MarkData();
    FSpec.format = PA_SAMPLE_FLOAT32NE;
    FSpec.rate = freq;
    FSpec.channels = uint8_t(chans);
    if (!pa_sample_spec_valid(&FSpec))
        return;
    TPulseServer::TLock lock(*FServer);
    // A start given up earlier must be gone first: one stream at a time.
    if (!FServer->Wait([this] { return !FServer->AbandonedPending(); }))
        return;
    FServer->OnSourceAdded = [this] { SourceAdded(); };
    Connect();
    FServer->Wait([this] { return FState != TState::Starting; });
    FOpened = FState == TState::Running || (FWaitForSource && FState == TState::Lost);
}

bool TCapture::Waiting() const
{
    TPulseServer::TLock lock(*FServer);
    return FState == TState::Lost || FState == TState::Resuming;
}

std::string TCapture::Source() const
{
    TPulseServer::TLock lock(*FServer);
    return FSource;
}

TCapture::~TCapture()
{
    TPulseServer::TLock lock(*FServer);
    FServer->OnSourceAdded = nullptr;
    if (!FStream)
        return;
    if (pa_stream_get_state(FStream) == PA_STREAM_CREATING)
        FServer->Abandon(FStream);
    else
        DropStream();
}

void TCapture::DropStream()
{
    pa_stream_set_state_callback(FStream, nullptr, nullptr);
    pa_stream_set_read_callback(FStream, nullptr, nullptr);
    if (pa_stream_get_state(FStream) == PA_STREAM_READY)
        pa_stream_disconnect(FStream);
    pa_stream_unref(FStream);
    FStream = nullptr;
}

TCapture *TCapture::InCallback() { return CallbackCapture; }

void TCapture::Connect()
{
    if (FStream)
        DropStream();
    FStream = pa_stream_new(FServer->Context(), "KOTARPlus VOX", &FSpec, nullptr);
    if (!FStream) {
        FState = FState == TState::Starting && !FWaitForSource ? TState::Ended : TState::Lost;
        return;
    }
    pa_stream_set_state_callback(FStream, StreamState, this);
    pa_stream_set_read_callback(FStream, StreamRead, this);
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(-1);
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(FragmentTime, &FSpec));
    // A chosen source is kept: when it goes, the stream ends instead of being
    // moved to another device that the user did not choose.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | (FRequested.empty() ? 0 : PA_STREAM_DONT_MOVE));
    if (pa_stream_connect_record(FStream, FRequested.empty() ? nullptr : FRequested.c_str(), &attributes, flags) < 0)
        FState = FState == TState::Starting && !FWaitForSource ? TState::Ended : TState::Lost;
}

void TCapture::SourceAdded()
{
    if (FState != TState::Lost)
        return;
    FState = TState::Resuming;
    Connect();
}

void TCapture::StreamState(pa_stream *stream, void *user)
{
    auto *capture = static_cast<TCapture *>(user);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        if (const char *name = pa_stream_get_device_name(stream))
            capture->FSource = name;
        const bool resumed = capture->FState == TState::Resuming;
        capture->FState = TState::Running;
        capture->MarkData();
        capture->FActive = true;
        if (resumed && capture->FEvents.Resumed)
            capture->FEvents.Resumed(capture->FSource);
    } else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        capture->FActive = false;
        switch (capture->FState) {
        case TState::Starting: capture->FState = capture->FWaitForSource ? TState::Lost : TState::Ended; break;
        case TState::Resuming: capture->FState = TState::Lost; break;
        case TState::Running:
            capture->FState = TState::Lost;
            if (capture->FEvents.Lost)
                capture->FEvents.Lost(capture->FSource,
                                      pa_strerror(pa_context_errno(pa_stream_get_context(stream))));
            break;
        default: break;
        }
    }
    pa_threaded_mainloop_signal(capture->FServer->Loop(), 0);
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
    MarkData();
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
        FRing.Push(mono.data(), chunk);
        done += chunk;
    }
    if (!FProc)
        return;
    CallbackCapture = this;
    const bool goOn = FProc(FHandle, samples, uint32_t(bytes), FUser);
    CallbackCapture = nullptr;
    if (!goOn) {
        FState = TState::Ended;
        FActive = false;
    }
}
