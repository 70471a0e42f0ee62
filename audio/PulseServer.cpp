#include "audio/PulseServer.h"

std::shared_ptr<TPulseServer> TPulseServer::Connect(std::string &error)
{
    std::shared_ptr<TPulseServer> server(new TPulseServer);
    server->FLoop = pa_threaded_mainloop_new();
    if (!server->FLoop) {
        error = "no main loop";
        return nullptr;
    }
    pa_threaded_mainloop_set_name(server->FLoop, "kotar-capture");
    pa_proplist *properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "KOTARPlus");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "kotarplus");
    server->FContext =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(server->FLoop), "KOTARPlus", properties);
    pa_proplist_free(properties);
    if (!server->FContext) {
        error = "no context";
        return nullptr;
    }
    pa_context_set_state_callback(server->FContext, ContextState, server.get());
    pa_context_set_subscribe_callback(server->FContext, SourceEvent, server.get());
    if (pa_threaded_mainloop_start(server->FLoop) < 0) {
        error = "no main loop thread";
        return nullptr;
    }
    bool ready = false;
    {
        TLock lock(*server);
        pa_context *context = server->FContext;
        // A client that finds no server must say so, not start one of its own.
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            server->Wait([context] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))
                                            || pa_context_get_state(context) == PA_CONTEXT_READY; });
            ready = pa_context_get_state(context) == PA_CONTEXT_READY;
        }
        if (ready)
            pa_operation_unref(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr));
        else
            error = pa_context_errno(context) ? pa_strerror(pa_context_errno(context)) : "no answer";
    }
    return ready ? server : nullptr;
}

TPulseServer::~TPulseServer()
{
    if (FLoop)
        pa_threaded_mainloop_stop(FLoop);
    if (FContext) {
        pa_context_set_state_callback(FContext, nullptr, nullptr);
        pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
        // Ends any stream still left, abandoned ones included.
        pa_context_disconnect(FContext);
        pa_context_unref(FContext);
    }
    if (FLoop)
        pa_threaded_mainloop_free(FLoop);
}

bool TPulseServer::Ready()
{
    TLock lock(*this);
    return pa_context_get_state(FContext) == PA_CONTEXT_READY;
}

namespace {
struct TDeviceQuery {
    pa_threaded_mainloop *Loop;
    TPulseServer::TKind Kind;
    std::vector<TPulseServer::TSource> Devices;
    std::string Default;
    int Pending = 2;

    void Done()
    {
        --Pending;
        pa_threaded_mainloop_signal(Loop, 0);
    }
    static std::string CardOf(const pa_proplist *properties)
    {
        for (const char *key : {"sysfs.path", "alsa.card"})
            if (const char *value = properties ? pa_proplist_gets(properties, key) : nullptr)
                return value;
        return {};
    }
    template <class Info> static void Add(pa_context *, const Info *info, int eol, void *user)
    {
        auto *query = static_cast<TDeviceQuery *>(user);
        if (eol)
            query->Done();
        else if (info)
            query->Devices.push_back(
                {info->name, info->description ? info->description : info->name, CardOf(info->proplist)});
    }
};
} // namespace

std::optional<std::vector<TPulseServer::TSource>> TPulseServer::Devices(TKind kind, std::string *defaultName)
{
    TDeviceQuery query{FLoop, kind, {}, {}};
    TLock lock(*this);
    if (pa_context_get_state(FContext) != PA_CONTEXT_READY)
        return std::nullopt;
    pa_operation *list = kind == TKind::Sources
                             ? pa_context_get_source_info_list(FContext, TDeviceQuery::Add<pa_source_info>, &query)
                             : pa_context_get_sink_info_list(FContext, TDeviceQuery::Add<pa_sink_info>, &query);
    pa_operation *server = pa_context_get_server_info(
        FContext,
        [](pa_context *, const pa_server_info *info, void *user) {
            auto *query = static_cast<TDeviceQuery *>(user);
            const char *name = !info ? nullptr
                               : query->Kind == TPulseServer::TKind::Sources ? info->default_source_name
                                                                             : info->default_sink_name;
            if (name)
                query->Default = name;
            query->Done();
        },
        &query);
    const bool answered = list && server && Wait([&query] { return query.Pending == 0; });
    // The query lives on this stack: no late answer may reach it.
    for (pa_operation *operation : {list, server})
        if (operation) {
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
        }
    if (!answered)
        return std::nullopt;
    if (defaultName)
        *defaultName = query.Default;
    return std::move(query.Devices);
}

bool TPulseServer::Wait(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    if (done())
        return true;
    struct TExpiry {
        pa_threaded_mainloop *Loop;
        bool Expired = false;
    } expiry{FLoop};
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(FLoop);
    timeval deadline{};
    pa_timeval_add(pa_gettimeofday(&deadline), pa_usec_t(limit.count()) * PA_USEC_PER_MSEC);
    pa_time_event *timer = api->time_new(
        api, &deadline,
        [](pa_mainloop_api *, pa_time_event *, const timeval *, void *user) {
            auto *expiry = static_cast<TExpiry *>(user);
            expiry->Expired = true;
            pa_threaded_mainloop_signal(expiry->Loop, 0);
        },
        &expiry);
    while (!done() && !expiry.Expired)
        pa_threaded_mainloop_wait(FLoop);
    api->time_free(timer);
    return done();
}

void TPulseServer::Abandon(pa_stream *stream)
{
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, AbandonedState, this);
    ++FAbandoned;
    AbandonedState(stream, this);
}

void TPulseServer::ContextState(pa_context *context, void *user)
{
    auto *server = static_cast<TPulseServer *>(user);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) && server->OnLost) {
        const auto lost = std::move(server->OnLost);
        server->OnLost = nullptr;
        lost(pa_strerror(pa_context_errno(context)));
    }
    pa_threaded_mainloop_signal(server->FLoop, 0);
}

void TPulseServer::SourceEvent(pa_context *, pa_subscription_event_type_t type, uint32_t, void *user)
{
    auto *server = static_cast<TPulseServer *>(user);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SOURCE)
        return;
    const auto kind = pa_subscription_event_type_t(type & PA_SUBSCRIPTION_EVENT_TYPE_MASK);
    if (server->OnSourceEvent)
        server->OnSourceEvent(kind);
    if (kind == PA_SUBSCRIPTION_EVENT_NEW && server->OnSourceAdded)
        server->OnSourceAdded();
}

void TPulseServer::AbandonedState(pa_stream *stream, void *user)
{
    auto *server = static_cast<TPulseServer *>(user);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        pa_stream_disconnect(stream);
        break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_unref(stream);
        --server->FAbandoned;
        pa_threaded_mainloop_signal(server->FLoop, 0);
        break;
    default: break;
    }
}
