#include "audio/Capture.h"

#include <QAudioSource>
#include <QIODevice>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
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

int64_t Now() { return std::chrono::steady_clock::now().time_since_epoch().count(); }

// Pulse delivers whole frames of interleaved float samples; each becomes one
// mono sample, the mean of its channels.
class TMonoSink : public QIODevice {
public:
    TMonoSink(TSampleRing &ring, std::atomic<int64_t> &lastDelivery, int channels, RECORDPROC proc, void *user,
              HRECORD handle)
        : FRing(ring), FLastDelivery(lastDelivery), FChannels(channels), FProc(proc), FUser(user), FHandle(handle)
    {
    }

    QAudioSource *Source = nullptr;

protected:
    qint64 readData(char *, qint64) override { return -1; }

    qint64 writeData(const char *data, qint64 length) override
    {
        const auto *samples = reinterpret_cast<const float *>(data);
        const size_t frames = size_t(length) / (sizeof(float) * size_t(FChannels));
        std::array<float, 512> mono;
        for (size_t done = 0; done < frames;) {
            const size_t chunk = std::min(mono.size(), frames - done);
            for (size_t f = 0; f < chunk; ++f) {
                const float *frame = samples + (done + f) * size_t(FChannels);
                float sum = 0.0f;
                for (int c = 0; c < FChannels; ++c)
                    sum += frame[c];
                mono[f] = sum / float(FChannels);
            }
            FRing.Push(mono.data(), chunk);
            done += chunk;
        }
        FLastDelivery.store(Now(), std::memory_order_relaxed);
        // Stopping inside the source's own read would pull its stream away
        // under it: stop from the event loop instead.
        if (FProc && !FProc(FHandle, data, uint32_t(length), FUser))
            QMetaObject::invokeMethod(Source, &QAudioSource::stop, Qt::QueuedConnection);
        return length;
    }

private:
    TSampleRing &FRing;
    std::atomic<int64_t> &FLastDelivery;
    int FChannels;
    RECORDPROC FProc;
    void *FUser;
    HRECORD FHandle;
};

// About 5.8 ms per block: with Qt polling the stream once per block, the
// newest sample is at most two blocks old when the user-interface thread looks.
// Left at its default, Qt asks for 50 ms blocks.
constexpr int BlockFrames = 256;

constexpr int64_t StallLimit =
    std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::milliseconds(500)).count();

} // namespace

class TCaptureThread : public QThread {
public:
    TCaptureThread(const QAudioDevice &device, const QAudioFormat &format, RECORDPROC proc, void *user,
                   HRECORD handle)
        : FDevice(device), FFormat(format), FProc(proc), FUser(user), FHandle(handle)
    {
    }

    TSampleRing Ring;
    std::atomic<bool> Running{false};
    // steady_clock time of the last block, 0 before the first.
    std::atomic<int64_t> LastDelivery{0};
    std::promise<bool> Opened;

protected:
    void run() override
    {
        QAudioSource source(FDevice, FFormat);
        source.setBufferSize(BlockFrames * FFormat.bytesPerFrame());
        TMonoSink sink(Ring, LastDelivery, FFormat.channelCount(), FProc, FUser, FHandle);
        sink.Source = &source;
        sink.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        source.start(&sink);
        const bool opened = source.state() != QAudio::StoppedState && source.error() == QAudio::NoError;
        if (opened) {
            Running = true;
            QObject::connect(&source, &QAudioSource::stateChanged, &source, [this](QAudio::State state) {
                if (state == QAudio::StoppedState)
                    Running = false;
            });
        }
        Opened.set_value(opened);
        if (!opened)
            return;
        exec();
        Running = false;
        source.stop();
    }

private:
    QAudioDevice FDevice;
    QAudioFormat FFormat;
    RECORDPROC FProc;
    void *FUser;
    HRECORD FHandle;
};

TCapture::TCapture(const QAudioDevice &device, const QAudioFormat &format, RECORDPROC proc, void *user,
                   HRECORD handle)
    : FThread(new TCaptureThread(device, format, proc, user, handle))
{
    std::future<bool> opened = FThread->Opened.get_future();
    FThread->start();
    // Qt 6.4 waits without end for a stream the server refuses (a source that
    // vanished after it was listed). Such a thread cannot be joined: it is
    // left behind, and the capture counts as not opened.
    if (opened.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        FThread = nullptr;
        return;
    }
    FOpened = opened.get();
}

TCapture::~TCapture()
{
    if (!FThread)
        return;
    FThread->quit();
    FThread->wait();
    delete FThread;
}

bool TCapture::Active() const
{
    if (!FThread || !FThread->Running)
        return false;
    // Qt does not always stop a source whose server has gone (it then polls a
    // dead stream for ever), so data that stop flowing count as a dropped
    // stream. Blocks come every few milliseconds; the first may take a second
    // or two on an idle server, which is no stall.
    const int64_t last = FThread->LastDelivery.load(std::memory_order_relaxed);
    return last == 0 || Now() - last < StallLimit;
}

const TSampleRing &TCapture::Ring() const { return FThread->Ring; }
