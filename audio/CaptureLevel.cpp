#include "audio/CaptureLevel.h"

#include "core/SignalLevel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

TKeyingCore::TFrame FrameLevel(const float *magnitudes, int binStep)
{
    const float peak = *std::max_element(magnitudes, magnitudes + 512);
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
