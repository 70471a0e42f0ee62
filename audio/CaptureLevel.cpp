#include "audio/CaptureLevel.h"

#include "core/SignalLevel.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <memory>

TKeyingCore::TFrame FrameLevel(const float *magnitudes, int binStep)
{
    // A runaway loop's inf and NaN count as the largest float, so the figure
    // stays a number.
    float peak = 0.0f;
    for (int i = 0; i < 512; ++i)
        peak = magnitudes[i] <= peak ? peak : std::isfinite(magnitudes[i]) ? magnitudes[i] : FLT_MAX;
    return {SignalLevel(magnitudes, binStep), peak > 1e-10f ? 20.0 * std::log10(double(peak)) : -200.0};
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
