#include "audio/CaptureLevel.h"

#include "core/SignalLevel.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <memory>
#include <numbers>

TKeyingCore::TFrame FrameLevel(const float *magnitudes, int binStep)
{
    // A runaway loop's inf and NaN count as the largest float, so the figure
    // stays a number.
    float peak = 0.0f;
    for (int i = 0; i < 512; ++i)
        peak = magnitudes[i] <= peak ? peak : std::isfinite(magnitudes[i]) ? magnitudes[i] : FLT_MAX;
    // By ln rather than log10, which in glibc is ln and a table of its own:
    // one less 64 KB of libm mapped into a station that measures 30 times a
    // second and has no other use for it.
    const double dbfs = peak > 1e-10f ? 20.0 / std::numbers::ln10 * std::log(double(peak)) : -200.0;
    return {SignalLevel(magnitudes, binStep), dbfs};
}

TKeyingCore::TLevelSource CaptureLevelSource(HRECORD handle, int binStep)
{
    if (handle == 0)
        return {};
    // One frame buffer for the source's own thread, allocated once.
    auto frame = std::make_shared<std::array<float, 513>>();
    return [handle, binStep, frame]() -> std::optional<TKeyingCore::TFrame> {
        if (BASS_ChannelIsActive(handle) != BASS_ACTIVE_PLAYING)
            return std::nullopt;
        if (RecordState(handle) == rsStalled)
            frame->fill(0.0f);
        else
            BASS_ChannelGetData(handle, frame->data(), BASS_DATA_FFT1024);
        return FrameLevel(frame->data(), binStep);
    };
}
