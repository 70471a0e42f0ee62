#include "audio/PulseServer.h"

#include "audio/RealTime.h"

#include <algorithm>
#include <unistd.h>

namespace {

timeval After(std::chrono::milliseconds delay)
{
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), pa_usec_t(delay.count()) * PA_USEC_PER_MSEC);
    return when;
}

std::string CardOf(const pa_proplist *properties)
{
    for (const char *key : {"sysfs.path", "alsa.card"})
        if (const char *value = properties ? pa_proplist_gets(properties, key) : nullptr)
            return value;
    return {};
}

template <class Info> TPulseServer::TDevice DeviceOf(const Info &info)
{
    const char *master = info.proplist ? pa_proplist_gets(info.proplist, PA_PROP_DEVICE_MASTER_DEVICE) : nullptr;
    return {info.name, info.description ? info.description : info.name, CardOf(info.proplist), master ? master : "",
            {}, info.owner_module};
}

} // namespace

std::shared_ptr<TPulseServer> TPulseServer::Start(TClient *client, std::function<void(const std::string &)> note)
{
    std::shared_ptr<TPulseServer> server(new TPulseServer);
    server->FLoop = pa_threaded_mainloop_new();
    if (!server->FLoop)
        return nullptr;
    pa_threaded_mainloop_set_name(server->FLoop, "kotar-capture");
    server->FNote = std::move(note);
    server->FClients.push_back(client);
    // The loop thread's first tasks, queued while no other thread can look.
    pa_mainloop_api *api = server->Api();
    pa_mainloop_api_once(api, [](pa_mainloop_api *, void *user) { static_cast<TPulseServer *>(user)->AskForRealTime(); },
                         server.get());
    pa_mainloop_api_once(api, [](pa_mainloop_api *, void *user) { static_cast<TPulseServer *>(user)->Connect(); },
                         server.get());
    if (pa_threaded_mainloop_start(server->FLoop) < 0)
        return nullptr;
    server->FRunning = true;
    return server;
}

TPulseServer::~TPulseServer()
{
    Stop();
    if (!FLoop)
        return;
    for (pa_time_event *timer : {FAnswerTimer, FRetryTimer})
        if (timer)
            Api()->time_free(timer);
    if (FContext) {
        pa_context_set_state_callback(FContext, nullptr, nullptr);
        pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
        // Ends any stream still left, abandoned ones included.
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)))
            pa_context_disconnect(FContext);
        pa_context_unref(FContext);
    }
    pa_threaded_mainloop_free(FLoop);
}

void TPulseServer::Stop()
{
    if (FRunning) {
        Drain();
        pa_threaded_mainloop_stop(FLoop);
        FRunning = false;
    }
    if (FRealTimeKit.joinable())
        FRealTimeKit.join();
    FReady = false;
}

void TPulseServer::Drain()
{
    TLock lock(*this);
    if (!FContext || pa_context_get_state(FContext) != PA_CONTEXT_READY)
        return;
    struct TWait {
        pa_threaded_mainloop *Loop;
        bool Done = false;
        static void End(void *user)
        {
            auto *wait = static_cast<TWait *>(user);
            wait->Done = true;
            pa_threaded_mainloop_signal(wait->Loop, 0);
        }
    } wait{FLoop};
    // Nothing on its way: no operation.
    pa_operation *drain = pa_context_drain(FContext, [](pa_context *, void *user) { TWait::End(user); }, &wait);
    if (!drain)
        return;
    const timeval deadline = After(DrainLimit);
    pa_time_event *limit = Api()->time_new(
        Api(), &deadline, [](pa_mainloop_api *, pa_time_event *, const timeval *, void *user) { TWait::End(user); },
        &wait);
    while (!wait.Done)
        pa_threaded_mainloop_wait(FLoop);
    Api()->time_free(limit);
    pa_operation_cancel(drain);
    pa_operation_unref(drain);
}

std::string TPulseServer::Error() const
{
    std::lock_guard lock(FCacheLock);
    return FError;
}

std::shared_ptr<const TPulseServer::TDevices> TPulseServer::Devices() const
{
    std::lock_guard lock(FCacheLock);
    return FDevices;
}

void TPulseServer::Attach(TClient *client) { FClients.push_back(client); }

void TPulseServer::Detach(TClient *client) { std::erase(FClients, client); }

void TPulseServer::AskForRealTime()
{
    std::string why;
    if (const std::string line = RealTime::Raise(why); !line.empty()) {
        FNote(line);
        return;
    }
    FRealTimeKit = std::thread([note = FNote, tid = gettid(), why] { note(RealTime::ViaRealtimeKit(tid, why)); });
}

void TPulseServer::Connect()
{
    if (FContext) {
        pa_context_set_state_callback(FContext, nullptr, nullptr);
        pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
        pa_context_unref(FContext);
        FContext = nullptr;
    }
    FPhase = TPhase::Connecting;
    FPending = 0;
    FReadAgain = false;
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "KOTARPlus");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "kotarplus");
    FContext = pa_context_new_with_proplist(Api(), "KOTARPlus", properties);
    pa_proplist_free(properties);
    if (!FContext) {
        Fail("no context");
        return;
    }
    pa_context_set_state_callback(FContext, ContextState, this);
    pa_context_set_subscribe_callback(FContext, ServerEvent, this);
    const timeval deadline = After(AnswerLimit);
    FAnswerTimer = Api()->time_new(
        Api(), &deadline,
        [](pa_mainloop_api *api, pa_time_event *timer, const timeval *, void *user) {
            auto *server = static_cast<TPulseServer *>(user);
            api->time_free(timer);
            server->FAnswerTimer = nullptr;
            server->Fail("no answer");
        },
        this);
    // A client that finds no server must say so, not start one of its own.
    if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        Fail(pa_strerror(pa_context_errno(FContext)));
}

void TPulseServer::Fail(const std::string &reason)
{
    if (FPhase == TPhase::Failed)
        return;
    const bool wasReady = FPhase == TPhase::Ready;
    FPhase = TPhase::Failed;
    FReady = false;
    FPending = 0;
    {
        std::lock_guard lock(FCacheLock);
        FError = reason;
    }
    if (FAnswerTimer) {
        Api()->time_free(FAnswerTimer);
        FAnswerTimer = nullptr;
    }
    // The clients let go of their streams while the context can still end them.
    for (TClient *client : std::vector(FClients))
        client->ServerFailed(reason, wasReady);
    if (FContext) {
        pa_context_set_state_callback(FContext, nullptr, nullptr);
        pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(FContext)))
            pa_context_disconnect(FContext);
    }
    Publish({});
    const timeval retry = After(RetryPeriod);
    FRetryTimer = Api()->time_new(
        Api(), &retry,
        [](pa_mainloop_api *api, pa_time_event *timer, const timeval *, void *user) {
            auto *server = static_cast<TPulseServer *>(user);
            api->time_free(timer);
            server->FRetryTimer = nullptr;
            server->Connect();
        },
        this);
}

void TPulseServer::ContextState(pa_context *context, void *user)
{
    auto *server = static_cast<TPulseServer *>(user);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK
                                                 | PA_SUBSCRIPTION_MASK_MODULE | PA_SUBSCRIPTION_MASK_SERVER
                                                 | PA_SUBSCRIPTION_MASK_SINK_INPUT
                                                 | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT);
        if (pa_operation *subscribe = pa_context_subscribe(context, mask, nullptr, nullptr))
            pa_operation_unref(subscribe);
        server->Refresh();
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: server->Fail(pa_strerror(pa_context_errno(context))); break;
    default: break;
    }
}

void TPulseServer::ServerEvent(pa_context *, pa_subscription_event_type_t type, uint32_t, void *user)
{
    switch (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
    case PA_SUBSCRIPTION_EVENT_SOURCE:
    case PA_SUBSCRIPTION_EVENT_SINK:
    case PA_SUBSCRIPTION_EVENT_MODULE:
    case PA_SUBSCRIPTION_EVENT_SERVER: static_cast<TPulseServer *>(user)->Refresh(); break;
    case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
    case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
        if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_REMOVE)
            for (TClient *client : std::vector(static_cast<TPulseServer *>(user)->FClients))
                client->StreamsChanged();
        break;
    default: break;
    }
}

// Reads the sources, the sinks, the modules and the default names; a change
// reported while they are being read has them read again once these answers
// are in.
void TPulseServer::Refresh()
{
    if (FPending > 0) {
        FReadAgain = true;
        return;
    }
    FReading = {};
    FReadAgain = false;
    FPending = 4;
    pa_operation *sources = pa_context_get_source_info_list(
        FContext,
        [](pa_context *, const pa_source_info *info, int eol, void *user) {
            auto *server = static_cast<TPulseServer *>(user);
            if (eol) {
                server->ListAnswered();
            } else if (info) {
                server->FReading.Sources.push_back(DeviceOf(*info));
                if (info->monitor_of_sink_name)
                    server->FReading.Sources.back().MonitorOf = info->monitor_of_sink_name;
            }
        },
        this);
    pa_operation *sinks = pa_context_get_sink_info_list(
        FContext,
        [](pa_context *, const pa_sink_info *info, int eol, void *user) {
            auto *server = static_cast<TPulseServer *>(user);
            if (eol)
                server->ListAnswered();
            else if (info)
                server->FReading.Sinks.push_back(DeviceOf(*info));
        },
        this);
    pa_operation *modules = pa_context_get_module_info_list(
        FContext,
        [](pa_context *, const pa_module_info *info, int eol, void *user) {
            auto *server = static_cast<TPulseServer *>(user);
            if (eol)
                server->ListAnswered();
            else if (info)
                server->FReading.Modules.push_back(
                    {info->index, info->name ? info->name : "", info->argument ? info->argument : ""});
        },
        this);
    pa_operation *defaults = pa_context_get_server_info(
        FContext,
        [](pa_context *, const pa_server_info *info, void *user) {
            auto *server = static_cast<TPulseServer *>(user);
            if (info && info->default_source_name)
                server->FReading.DefaultSource = info->default_source_name;
            if (info && info->default_sink_name)
                server->FReading.DefaultSink = info->default_sink_name;
            server->ListAnswered();
        },
        this);
    // Without all four the context is failing, which its state tells.
    if (!sources || !sinks || !modules || !defaults)
        FPending = 0;
    for (pa_operation *operation : {sources, sinks, modules, defaults})
        if (operation)
            pa_operation_unref(operation);
}

void TPulseServer::ListAnswered()
{
    if (FPending <= 0 || --FPending > 0)
        return;
    if (FPhase == TPhase::Connecting) {
        FPhase = TPhase::Ready;
        if (FAnswerTimer) {
            Api()->time_free(FAnswerTimer);
            FAnswerTimer = nullptr;
        }
        {
            std::lock_guard lock(FCacheLock);
            FDevices = std::make_shared<const TDevices>(std::move(FReading));
            FError.clear();
        }
        FReady = true;
        for (TClient *client : std::vector(FClients))
            client->ServerReady();
        for (TClient *client : std::vector(FClients))
            client->DevicesRead(true);
    } else {
        Publish(std::move(FReading));
    }
    if (FReadAgain)
        Refresh();
}

void TPulseServer::Publish(TDevices devices)
{
    bool changed;
    {
        std::lock_guard lock(FCacheLock);
        changed = !(*FDevices == devices);
        if (changed)
            FDevices = std::make_shared<const TDevices>(std::move(devices));
    }
    for (TClient *client : std::vector(FClients))
        client->DevicesRead(changed);
}

void TPulseServer::Abandon(pa_stream *stream)
{
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, AbandonedState, this);
    AbandonedState(stream, this);
}

void TPulseServer::AbandonedState(pa_stream *stream, void *)
{
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY: pa_stream_disconnect(stream); break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_unref(stream);
        break;
    default: break;
    }
}
