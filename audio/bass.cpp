#include "audio/bass.h"

#include "audio/Capture.h"

#include <QMediaDevices>
#include <memory>
#include <optional>

namespace {

struct TLibrary {
    std::optional<QAudioDevice> RecordDevice;
    std::unique_ptr<TCapture> Capture;
    HRECORD CaptureHandle = 0;
    HRECORD LastHandle = 0;
    TFrameSource Frames;
    TSpectrumAnalyser Analyser;
};

// Never destroyed: a capture thread must not be joined from static
// destruction, after the application object has gone.
TLibrary &Library()
{
    static TLibrary *library = new TLibrary;
    return *library;
}

HRECORD NewHandle()
{
    TLibrary &library = Library();
    return library.LastHandle = library.LastHandle == UINT32_MAX ? 1 : library.LastHandle + 1;
}

bool FrameSourceInstalled() { return bool(Library().Frames.Frame); }

// Qt 6.4 does not mark the default among the inputs; the default's own
// identifier does tell.
bool DeviceInfo(const QList<QAudioDevice> &devices, const QAudioDevice &defaultDevice, uint32_t number,
                BASS_DEVICEINFO *info)
{
    if (number >= uint32_t(devices.size()))
        return false;
    const QAudioDevice &device = devices[qsizetype(number)];
    info->name = device.description();
    info->driver = QString::fromUtf8(device.id());
    info->flags = BASS_DEVICE_ENABLED | (device.id() == defaultDevice.id() ? BASS_DEVICE_DEFAULT : 0);
    return true;
}

} // namespace

bool BASS_RecordGetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info)
{
    return DeviceInfo(QMediaDevices::audioInputs(), QMediaDevices::defaultAudioInput(), device, info);
}

bool BASS_GetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info)
{
    return DeviceInfo(QMediaDevices::audioOutputs(), QMediaDevices::defaultAudioOutput(), device, info);
}

bool BASS_SetConfig(uint32_t option, uint32_t)
{
    return option == BASS_CONFIG_FLOATDSP;
}

bool BASS_RecordInit(int device)
{
    TLibrary &library = Library();
    if (library.RecordDevice)
        return false;
    if (FrameSourceInstalled()) {
        library.RecordDevice = QAudioDevice();
        return true;
    }
    QAudioDevice chosen;
    if (device == -1) {
        chosen = QMediaDevices::defaultAudioInput();
    } else if (device >= 0) {
        const QList<QAudioDevice> devices = QMediaDevices::audioInputs();
        if (device < devices.size())
            chosen = devices[device];
    }
    if (chosen.isNull())
        return false;
    library.RecordDevice = chosen;
    return true;
}

HRECORD BASS_RecordStart(uint32_t freq, uint32_t chans, uint32_t, RECORDPROC proc, void *user)
{
    TLibrary &library = Library();
    if (!library.RecordDevice || library.CaptureHandle != 0 || freq == 0 || chans == 0)
        return 0;
    if (FrameSourceInstalled())
        return library.CaptureHandle = NewHandle();
    QAudioFormat format;
    format.setSampleRate(int(freq));
    format.setChannelCount(int(chans));
    format.setSampleFormat(QAudioFormat::Float);
    const HRECORD handle = NewHandle();
    auto capture = std::make_unique<TCapture>(*library.RecordDevice, format, proc, user, handle);
    if (!capture->Opened())
        return 0;
    library.Capture = std::move(capture);
    return library.CaptureHandle = handle;
}

uint32_t BASS_ChannelIsActive(HRECORD handle)
{
    TLibrary &library = Library();
    if (FrameSourceInstalled())
        return handle != 0 && (!library.Frames.Active || library.Frames.Active()) ? BASS_ACTIVE_PLAYING
                                                                                  : BASS_ACTIVE_STOPPED;
    if (handle == 0 || handle != library.CaptureHandle || !library.Capture)
        return BASS_ACTIVE_STOPPED;
    return library.Capture->Active() ? BASS_ACTIVE_PLAYING : BASS_ACTIVE_STOPPED;
}

int32_t BASS_ChannelGetData(HRECORD handle, void *buffer, uint32_t length)
{
    TLibrary &library = Library();
    if (length != BASS_DATA_FFT1024 || handle == 0)
        return -1;
    auto *magnitudes = static_cast<float *>(buffer);
    if (FrameSourceInstalled()) {
        library.Frames.Frame(magnitudes);
    } else {
        if (handle != library.CaptureHandle || !library.Capture)
            return -1;
        library.Analyser.Magnitudes(library.Capture->Ring(), magnitudes);
    }
    return int32_t(TSpectrumAnalyser::Bins * sizeof(float));
}

bool BASS_ChannelStop(HRECORD handle)
{
    TLibrary &library = Library();
    if (handle == 0 || handle != library.CaptureHandle)
        return false;
    library.Capture.reset();
    library.CaptureHandle = 0;
    return true;
}

bool BASS_Stop()
{
    return false;
}

bool BASS_RecordFree()
{
    TLibrary &library = Library();
    if (!library.RecordDevice)
        return false;
    BASS_ChannelStop(library.CaptureHandle);
    library.RecordDevice.reset();
    return true;
}

bool BASS_Free()
{
    BASS_RecordFree();
    return true;
}

void BASS_SetFrameSource(TFrameSource source)
{
    Library().Frames = std::move(source);
}
