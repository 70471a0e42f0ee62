#include "audio/bass.h"

#include "audio/Capture.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>

namespace {

struct TLibrary {
    std::shared_ptr<TPulseServer> Server;
    std::string ServerError;
    // The initialised source's server name; empty for the default source.
    std::optional<std::string> RecordSource;
    // The source was named whether present or not: a capture waits for it.
    bool WaitForSource = false;
    std::unique_ptr<TCapture> Capture;
    // What the capture was started with, to open it again on a new connection.
    uint32_t Freq = 0, Chans = 0;
    RECORDPROC Proc = nullptr;
    void *User = nullptr;
    // No connection: one attempt a second is under way.
    bool Reconnecting = false;
    HRECORD CaptureHandle = 0;
    HRECORD LastHandle = 0;
    TFrameSource Frames;
    TSpectrumAnalyser Analyser;
    std::function<void(const TRecordDeviceEvent &)> Notify;
};

// Never destroyed: the server connection's thread must not be joined from
// static destruction, after the application object has gone.
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

void Reconnect();

// From the capture thread to the user-interface thread's handler.
void Post(const TRecordDeviceEvent &event)
{
    static std::atomic<bool> changePending{false};
    if (event.Kind == TRecordDeviceEvent::Changed && changePending.exchange(true))
        return;
    if (QCoreApplication *application = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            application,
            [event] {
                if (event.Kind == TRecordDeviceEvent::Changed)
                    changePending = false;
                if (event.Kind == TRecordDeviceEvent::ServerLost)
                    AwaitSoundServer();
                if (Library().Notify)
                    Library().Notify(event);
            },
            Qt::QueuedConnection);
}

TCapture::TEvents CaptureEvents()
{
    return {
        [](const std::string &source, const std::string &reason) {
            Post({TRecordDeviceEvent::Lost, QString::fromStdString(source), QString::fromStdString(reason)});
        },
        [](const std::string &source) { Post({TRecordDeviceEvent::Resumed, QString::fromStdString(source), {}}); },
    };
}

// The connection, made again once the server has gone; nullptr while none answers.
TPulseServer *Server()
{
    TLibrary &library = Library();
    if (library.Server && library.Server->Ready())
        return library.Server.get();
    library.Server = TPulseServer::Connect(library.ServerError);
    if (!library.Server)
        return nullptr;
    library.ServerError.clear();
    TPulseServer::TLock lock(*library.Server);
    // A source's state changes whenever a stream starts or stops on it; only
    // sources coming and going change the list.
    library.Server->OnSourceEvent = [](pa_subscription_event_type_t type) {
        if (type != PA_SUBSCRIPTION_EVENT_CHANGE)
            Post({TRecordDeviceEvent::Changed, {}, {}});
    };
    library.Server->OnLost = [](const std::string &reason) {
        Post({TRecordDeviceEvent::ServerLost, {}, QString::fromStdString(reason)});
    };
    return library.Server.get();
}

// Once a second while there is no connection, until the server answers; then
// the capture that ran opens the same source again by its server name, under
// the same handle, and waits for it if the new server does not have it yet.
void Reconnect()
{
    TLibrary &library = Library();
    if (!Server()) {
        QTimer::singleShot(1000, QCoreApplication::instance(), Reconnect);
        return;
    }
    library.Reconnecting = false;
    QString source;
    if (library.Capture && library.Capture->Server() != library.Server) {
        source = QString::fromStdString(library.Capture->Source());
        library.Capture.reset();
        library.Capture = std::make_unique<TCapture>(library.Server, *library.RecordSource, library.Freq,
                                                     library.Chans, library.Proc, library.User,
                                                     library.CaptureHandle, CaptureEvents(), true);
    }
    if (library.Notify)
        library.Notify({TRecordDeviceEvent::ServerBack, source, {}});
    Post({TRecordDeviceEvent::Changed, {}, {}});
}

bool DeviceInfo(TPulseServer::TKind kind, uint32_t number, BASS_DEVICEINFO *info)
{
    TPulseServer *server = Server();
    std::string defaultName;
    const auto devices = server ? server->Devices(kind, &defaultName) : std::nullopt;
    if (!devices || number >= devices->size())
        return false;
    const TPulseServer::TSource &device = (*devices)[number];
    info->name = QString::fromStdString(device.Description);
    info->driver = QString::fromStdString(device.Name);
    info->flags = BASS_DEVICE_ENABLED | (device.Name == defaultName ? BASS_DEVICE_DEFAULT : 0);
    return true;
}

} // namespace

QString RecordDeviceCard(const QString &source)
{
    TPulseServer *server = FrameSourceInstalled() ? nullptr : Server();
    std::string defaultName;
    const auto devices = server ? server->Devices(TPulseServer::TKind::Sources, &defaultName) : std::nullopt;
    const std::string wanted = source.isEmpty() ? defaultName : source.toStdString();
    for (const TPulseServer::TSource &device : devices.value_or(std::vector<TPulseServer::TSource>{}))
        if (device.Name == wanted)
            return QString::fromStdString(device.Card);
    return {};
}

bool BASS_RecordGetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info)
{
    return DeviceInfo(TPulseServer::TKind::Sources, device, info);
}

bool BASS_GetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info)
{
    return DeviceInfo(TPulseServer::TKind::Sinks, device, info);
}

bool BASS_SetConfig(uint32_t option, uint32_t)
{
    return option == BASS_CONFIG_FLOATDSP;
}

bool BASS_RecordInit(int device)
{
    TLibrary &library = Library();
    if (library.RecordSource)
        return false;
    if (FrameSourceInstalled()) {
        library.RecordSource = "";
        return true;
    }
    if (device == -1) {
        if (!Server())
            return false;
        library.RecordSource = "";
        return true;
    }
    BASS_DEVICEINFO info;
    if (device < 0 || !BASS_RecordGetDeviceInfo(uint32_t(device), &info))
        return false;
    library.RecordSource = info.driver.toStdString();
    library.WaitForSource = false;
    return true;
}

bool RecordInitSource(const QString &source)
{
    TLibrary &library = Library();
    if (library.RecordSource || source.isEmpty())
        return false;
    library.RecordSource = source.toStdString();
    library.WaitForSource = true;
    return true;
}

HRECORD BASS_RecordStart(uint32_t freq, uint32_t chans, uint32_t, RECORDPROC proc, void *user)
{
    TLibrary &library = Library();
    if (!library.RecordSource || library.CaptureHandle != 0 || freq == 0 || chans == 0)
        return 0;
    if (FrameSourceInstalled())
        return library.CaptureHandle = NewHandle();
    if (!Server())
        return 0;
    const HRECORD handle = NewHandle();
    auto capture = std::make_unique<TCapture>(library.Server, *library.RecordSource, freq, chans, proc, user, handle,
                                              CaptureEvents(), library.WaitForSource);
    if (!capture->Opened())
        return 0;
    library.Capture = std::move(capture);
    library.Freq = freq;
    library.Chans = chans;
    library.Proc = proc;
    library.User = user;
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
    if (length != BASS_DATA_FFT1024 || handle == 0)
        return -1;
    auto *magnitudes = static_cast<float *>(buffer);
    // On the capture thread only the capture itself is looked at.
    if (TCapture *capture = TCapture::InCallback()) {
        if (handle != capture->Handle())
            return -1;
        capture->CallbackAnalyser().Magnitudes(capture->Ring(), magnitudes);
        return int32_t(TSpectrumAnalyser::Bins * sizeof(float));
    }
    TLibrary &library = Library();
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
    if (!library.RecordSource)
        return false;
    BASS_ChannelStop(library.CaptureHandle);
    library.RecordSource.reset();
    library.WaitForSource = false;
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

void SetRecordDeviceNotify(std::function<void(const TRecordDeviceEvent &event)> notify)
{
    Library().Notify = std::move(notify);
}

std::shared_ptr<TPulseServer> SoundServerConnection()
{
    return Server() ? Library().Server : nullptr;
}

QString SoundServerError()
{
    return Server() ? QString() : QString::fromStdString(Library().ServerError);
}

void AwaitSoundServer()
{
    TLibrary &library = Library();
    if (library.Reconnecting)
        return;
    library.Reconnecting = true;
    QTimer::singleShot(1000, QCoreApplication::instance(), Reconnect);
}

TRecordState RecordState(HRECORD handle, QString *source)
{
    TLibrary &library = Library();
    if (FrameSourceInstalled())
        return BASS_ChannelIsActive(handle) == BASS_ACTIVE_PLAYING ? rsRunning : rsStopped;
    const bool current = handle != 0 && handle == library.CaptureHandle && library.Capture;
    if (current && source)
        *source = QString::fromStdString(library.Capture->Source());
    // The capture's own connection: a new one may be made before it moves there.
    const std::shared_ptr<TPulseServer> &server = current ? library.Capture->Server() : library.Server;
    if (!server || !server->Ready())
        return rsNoServer;
    if (!current)
        return rsStopped;
    if (library.Capture->Waiting())
        return rsWaiting;
    if (!library.Capture->Active())
        return rsStopped;
    return std::chrono::steady_clock::now() - library.Capture->DataSince() >= RecordStallLimit ? rsStalled : rsRunning;
}
