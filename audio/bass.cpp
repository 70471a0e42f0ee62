#include "audio/bass.h"
#include "support/QueuedCall.h"

#include "audio/Capture.h"

#include <QCoreApplication>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace {

// Counts the library's connections: events of one that BASS_Free ended are
// dropped on arrival.
std::atomic<unsigned> Generation{0};

void Deliver(const TRecordDeviceEvent &event, unsigned generation);

// From the library's threads to the set-up thread's handler. A change of the
// list waiting to be told is told once.
void Post(const TRecordDeviceEvent &event)
{
    static std::atomic<bool> changePending{false};
    if (event.Kind == TRecordDeviceEvent::Changed && changePending.exchange(true))
        return;
    QCoreApplication *application = QCoreApplication::instance();
    if (!application) {
        changePending = false;
        return;
    }
    QueuedCall::Queue(application, [event, generation = Generation.load()] {
        if (event.Kind == TRecordDeviceEvent::Changed)
            changePending = false;
        Deliver(event, generation);
    });
}

QString Text(const std::string &text) { return QString::fromStdString(text); }

// Tells the set-up thread what the server's loop sees; one for each connection's life.
class TWatch final : public TPulseServer::TClient {
public:
    void ServerReady() override;
    void ServerFailed(const std::string &reason, bool wasReady) override
    {
        if (wasReady)
            Post({TRecordDeviceEvent::ServerLost, {}, Text(reason)});
        else if (!FFailed && !FWasReady)
            Post({TRecordDeviceEvent::ServerAbsent, {}, Text(reason)});
        FFailed = true;
    }
    void DevicesRead(bool changed) override
    {
        if (changed)
            Post({TRecordDeviceEvent::Changed, {}, {}});
    }

private:
    bool FFailed = false;
    bool FWasReady = false;
};

struct TLibrary {
    // What other threads read, guarded by Lock: the connection, the running
    // capture's channel and the frame source. Lock is taken last: nobody
    // takes the server's loop lock while holding it.
    mutable std::mutex Lock;
    std::shared_ptr<TPulseServer> Server;
    std::shared_ptr<TChannel> Channel;
    std::shared_ptr<const TFrameSource> Frames;

    // The set-up thread's own.
    std::unique_ptr<TWatch> Watch;
    std::unique_ptr<TCapture> Capture;
    // The initialised source's server name; empty for the default source.
    std::optional<std::string> RecordSource;
    // The source was named whether present or not: a capture waits for it.
    bool WaitForSource = false;
    HRECORD CaptureHandle = 0;
    HRECORD LastHandle = 0;
    std::function<void(const TRecordDeviceEvent &)> Notify;
    // ServerAbsent was told for this absence.
    bool AbsenceTold = false;
    // A capture could not start for want of a connection.
    bool MissedServer = false;
    // Trace lines that came while no handler was there.
    std::vector<TRecordDeviceEvent> PendingNotes;
};

// Never destroyed: a posted event may arrive after static destruction began.
TLibrary &Library()
{
    static TLibrary *library = new TLibrary;
    return *library;
}

void TWatch::ServerReady()
{
    if (FFailed) {
        std::shared_ptr<TChannel> channel;
        {
            std::lock_guard lock(Library().Lock);
            channel = Library().Channel;
        }
        Post({TRecordDeviceEvent::ServerBack, channel ? Text(channel->Source()) : QString(), {}});
    } else {
        Post({TRecordDeviceEvent::ServerReady, {}, {}});
    }
    FFailed = false;
    FWasReady = true;
}

void Deliver(const TRecordDeviceEvent &event, unsigned generation)
{
    TLibrary &library = Library();
    if (generation != Generation)
        return;
    switch (event.Kind) {
    case TRecordDeviceEvent::ServerAbsent:
        if (std::exchange(library.AbsenceTold, true))
            return;
        break;
    case TRecordDeviceEvent::ServerReady:
        library.AbsenceTold = false;
        // Only a set-up that ran too early has anything to do.
        if (!std::exchange(library.MissedServer, false))
            return;
        break;
    case TRecordDeviceEvent::ServerBack:
        library.AbsenceTold = false;
        library.MissedServer = false;
        break;
    case TRecordDeviceEvent::Note:
        if (!library.Notify)
            library.PendingNotes.push_back(event);
        break;
    default: break;
    }
    if (library.Notify)
        library.Notify(event);
}

HRECORD NewHandle()
{
    TLibrary &library = Library();
    return library.LastHandle = library.LastHandle == UINT32_MAX ? 1 : library.LastHandle + 1;
}

// The set-up thread's view: the connection, started when there is none.
const std::shared_ptr<TPulseServer> &Server()
{
    TLibrary &library = Library();
    if (library.Server)
        return library.Server;
    auto watch = std::make_unique<TWatch>();
    auto server = TPulseServer::Start(watch.get(), [](const std::string &line) {
        Post({TRecordDeviceEvent::Note, {}, Text(line)});
    });
    if (server) {
        library.Watch = std::move(watch);
        std::lock_guard lock(library.Lock);
        library.Server = std::move(server);
    }
    return library.Server;
}

bool Connected()
{
    const std::shared_ptr<TPulseServer> &server = Server();
    if (server && server->Ready())
        return true;
    Library().MissedServer = true;
    return false;
}

std::shared_ptr<const TFrameSource> FrameSource()
{
    std::lock_guard lock(Library().Lock);
    return Library().Frames;
}

// The devices as the cache has them; none without a connection.
std::shared_ptr<const TPulseServer::TDevices> Devices()
{
    const std::shared_ptr<TPulseServer> &server = Server();
    return server ? server->Devices() : std::make_shared<const TPulseServer::TDevices>();
}

bool DeviceInfo(bool sources, uint32_t number, BASS_DEVICEINFO *info)
{
    const auto devices = Devices();
    const auto &list = sources ? devices->Sources : devices->Sinks;
    if (number >= list.size())
        return false;
    const TPulseServer::TDevice &device = list[number];
    const std::string &defaultName = sources ? devices->DefaultSource : devices->DefaultSink;
    info->name = Text(device.Description);
    info->driver = Text(device.Name);
    info->flags = BASS_DEVICE_ENABLED | (device.Name == defaultName ? BASS_DEVICE_DEFAULT : 0);
    return true;
}

TCapture::TEvents CaptureEvents()
{
    return {
        [](const std::string &source, const std::string &reason) {
            Post({TRecordDeviceEvent::Lost, Text(source), Text(reason)});
        },
        [](const std::string &source) { Post({TRecordDeviceEvent::Resumed, Text(source), {}}); },
    };
}

// One for each thread that asks: it is not shared, and it is made once.
TSpectrumAnalyser &Analyser()
{
    thread_local TSpectrumAnalyser analyser;
    return analyser;
}

} // namespace

QString RecordDeviceCard(const QString &source)
{
    if (FrameSource())
        return {};
    const auto devices = Devices();
    const std::string wanted = source.isEmpty() ? devices->DefaultSource : source.toStdString();
    for (const TPulseServer::TDevice &device : devices->Sources)
        if (device.Name == wanted)
            return Text(device.Card);
    return {};
}

bool BASS_RecordGetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info) { return DeviceInfo(true, device, info); }

bool BASS_GetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info) { return DeviceInfo(false, device, info); }

bool BASS_SetConfig(uint32_t option, uint32_t) { return option == BASS_CONFIG_FLOATDSP; }

bool BASS_RecordInit(int device)
{
    TLibrary &library = Library();
    if (library.RecordSource)
        return false;
    if (FrameSource()) {
        library.RecordSource = "";
        return true;
    }
    if (!Connected())
        return false;
    if (device == -1) {
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

HRECORD BASS_RecordStart(uint32_t freq, uint32_t chans, uint32_t flags, RECORDPROC proc, void *user)
{
    // The caller keeps `user` alive.
    return BASS_RecordStart(freq, chans, flags, proc, std::shared_ptr<void>(user, [](void *) {}));
}

HRECORD BASS_RecordStart(uint32_t freq, uint32_t chans, uint32_t flags, RECORDPROC proc, std::shared_ptr<void> user)
{
    TLibrary &library = Library();
    if (!library.RecordSource || library.CaptureHandle != 0 || !TCapture::FormatValid(freq, chans))
        return 0;
    if (FrameSource())
        return library.CaptureHandle = NewHandle();
    if (!Connected())
        return 0;
    const HRECORD handle = NewHandle();
    auto channel = std::make_shared<TChannel>(handle, *library.RecordSource);
    library.Capture = std::make_unique<TCapture>(library.Server, channel, freq, chans, proc, std::move(user),
                                                 CaptureEvents(), library.WaitForSource, flags >> 16);
    std::lock_guard lock(library.Lock);
    library.Channel = std::move(channel);
    return library.CaptureHandle = handle;
}

uint32_t BASS_ChannelIsActive(HRECORD handle)
{
    std::shared_ptr<const TFrameSource> frames;
    std::shared_ptr<TChannel> channel;
    {
        std::lock_guard lock(Library().Lock);
        frames = Library().Frames;
        channel = Library().Channel;
    }
    if (frames)
        return handle != 0 && (!frames->Active || frames->Active()) ? BASS_ACTIVE_PLAYING : BASS_ACTIVE_STOPPED;
    if (handle == 0 || !channel || channel->Handle != handle)
        return BASS_ACTIVE_STOPPED;
    const TChannel::TPhase phase = channel->Phase;
    return phase == TChannel::TPhase::Starting || phase == TChannel::TPhase::Running ? BASS_ACTIVE_PLAYING
                                                                                        : BASS_ACTIVE_STOPPED;
}

int32_t BASS_ChannelGetData(HRECORD handle, void *buffer, uint32_t length)
{
    if (length != BASS_DATA_FFT1024 || handle == 0)
        return -1;
    auto *magnitudes = static_cast<float *>(buffer);
    // On the capture thread only the capture itself is looked at.
    if (TCapture *capture = TCapture::InCallback()) {
        if (handle != capture->Channel().Handle)
            return -1;
        Analyser().Magnitudes(capture->Channel().Ring, magnitudes);
        return int32_t(TSpectrumAnalyser::Bins * sizeof(float));
    }
    std::shared_ptr<const TFrameSource> frames;
    std::shared_ptr<TChannel> channel;
    {
        std::lock_guard lock(Library().Lock);
        frames = Library().Frames;
        channel = Library().Channel;
    }
    if (frames) {
        frames->Frame(magnitudes);
    } else {
        if (!channel || channel->Handle != handle)
            return -1;
        Analyser().Magnitudes(channel->Ring, magnitudes);
    }
    return int32_t(TSpectrumAnalyser::Bins * sizeof(float));
}

bool BASS_ChannelStop(HRECORD handle)
{
    TLibrary &library = Library();
    if (handle == 0 || handle != library.CaptureHandle)
        return false;
    {
        std::lock_guard lock(library.Lock);
        library.Channel.reset();
    }
    // Outside the library's lock: the capture takes the loop's.
    library.Capture.reset();
    library.CaptureHandle = 0;
    return true;
}

bool BASS_Stop() { return false; }

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
    TLibrary &library = Library();
    BASS_RecordFree();
    std::shared_ptr<TPulseServer> server;
    {
        std::lock_guard lock(library.Lock);
        server = std::move(library.Server);
    }
    if (server) {
        {
            TPulseServer::TLock lock(*server);
            server->Detach(library.Watch.get());
        }
        // Joins the loop thread. What others still hold of the server (a
        // relay) is freed with them, no thread running.
        server->Stop();
    }
    library.Watch.reset();
    ++Generation;
    library.Notify = nullptr;
    library.AbsenceTold = false;
    library.MissedServer = false;
    library.PendingNotes.clear();
    return true;
}

void BASS_SetFrameSource(TFrameSource source)
{
    auto frames = source.Frame ? std::make_shared<const TFrameSource>(std::move(source)) : nullptr;
    std::lock_guard lock(Library().Lock);
    Library().Frames = std::move(frames);
}

void SetRecordDeviceNotify(std::function<void(const TRecordDeviceEvent &event)> notify)
{
    TLibrary &library = Library();
    library.Notify = std::move(notify);
    if (!library.Notify)
        return;
    // What came before the handler is told to it now.
    for (const TRecordDeviceEvent &note : std::exchange(library.PendingNotes, {}))
        library.Notify(note);
    if (!library.AbsenceTold && SoundServerState() == ssAbsent) {
        library.AbsenceTold = true;
        library.Notify({TRecordDeviceEvent::ServerAbsent, {}, SoundServerError()});
    }
}

std::shared_ptr<TPulseServer> SoundServerConnection()
{
    const std::shared_ptr<TPulseServer> &server = Server();
    return server && server->Ready() ? server : nullptr;
}

TSoundServerState SoundServerState()
{
    const std::shared_ptr<TPulseServer> &server = Server();
    if (server && server->Ready())
        return ssReady;
    return server && server->Error().empty() ? ssConnecting : ssAbsent;
}

QString SoundServerError()
{
    const std::shared_ptr<TPulseServer> &server = Server();
    return server ? Text(server->Error()) : QString("no main loop");
}

TRecordState RecordState(HRECORD handle, QString *source)
{
    std::shared_ptr<const TFrameSource> frames;
    std::shared_ptr<TChannel> channel;
    std::shared_ptr<TPulseServer> server;
    {
        std::lock_guard lock(Library().Lock);
        frames = Library().Frames;
        channel = Library().Channel;
        server = Library().Server;
    }
    if (frames)
        return BASS_ChannelIsActive(handle) == BASS_ACTIVE_PLAYING ? rsRunning : rsStopped;
    const bool current = handle != 0 && channel && channel->Handle == handle;
    if (current && source)
        *source = Text(channel->Source());
    if (!server || !server->Ready())
        return rsNoServer;
    if (!current)
        return rsStopped;
    switch (channel->Phase.load()) {
    case TChannel::TPhase::Waiting: return rsWaiting;
    case TChannel::TPhase::Ended: return rsStopped;
    default: return channel->Stalled ? rsStalled : rsRunning;
    }
}
