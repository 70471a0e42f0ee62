#include "audio/TxSink.h"

#include "audio/SoundGraph.h"

#include <algorithm>
#include <utility>

struct TTxSink::TState {
    TEvents Events;
    bool Busy = false;
    bool ClashTold = false;
};

namespace {
// One request through its answers; freed by the last, or when the connection
// ends before an answer came. Its sink may be asked for again then.
struct TRequest {
    std::shared_ptr<TTxSink::TState> State;
    TPulseServer *Server;
    uint32_t Module = PA_INVALID_INDEX;
    bool Found = false;
    ~TRequest() { State->Busy = false; }

    // Hands the request to `operation`, which frees it if it is cancelled.
    static void Await(pa_operation *operation, TRequest *request)
    {
        if (!operation) {
            request->State->Events.Note(std::string("Relay: sink ") + TTxSink::Name + " not loaded ("
                                        + pa_strerror(pa_context_errno(request->Server->Context())) + ")");
            delete request;
            return;
        }
        pa_operation_set_state_callback(
            operation,
            [](pa_operation *operation, void *user) {
                if (pa_operation_get_state(operation) == PA_OPERATION_CANCELLED)
                    delete static_cast<TRequest *>(user);
            },
            request);
        pa_operation_unref(operation);
    }

    void Clash(const std::string &what)
    {
        if (!std::exchange(State->ClashTold, true))
            State->Events.Fault(std::string("Sink ") + TTxSink::Name + " (KOTARPlus TX) not loaded: " + what);
    }
};

void Loaded(pa_context *context, uint32_t index, void *user)
{
    auto *request = static_cast<TRequest *>(user);
    if (index == PA_INVALID_INDEX)
        request->State->Events.Note(std::string("Relay: sink ") + TTxSink::Name + " not loaded ("
                                    + pa_strerror(pa_context_errno(context)) + ")");
    delete request;
}

void Load(pa_context *context, TRequest *request)
{
    const std::string arguments = std::string("sink_name=") + TTxSink::Name + " rate=" + std::to_string(TTxSink::Rate)
                                  + " sink_properties=device.description=\"KOTARPlus\\ TX\"";
    TRequest::Await(pa_context_load_module(context, "module-null-sink", arguments.c_str(), Loaded, request), request);
}

// A by-name answer: an entry for a device of that name, then its end (which
// says no such device when there is none). True once it has ended.
bool Ended(TRequest *request, const void *info, int eol)
{
    if (info)
        request->Found = true;
    return !info && eol;
}

void SourceNamed(pa_context *context, const pa_source_info *info, int eol, void *user)
{
    auto *request = static_cast<TRequest *>(user);
    if (!Ended(request, info, eol))
        return;
    if (!request->Found) {
        Load(context, request);
        return;
    }
    request->Clash("a source of that name is there; programs find no sink of that name to play into");
    delete request;
}

void SinkNamed(pa_context *context, const pa_sink_info *info, int eol, void *user)
{
    auto *request = static_cast<TRequest *>(user);
    if (!Ended(request, info, eol))
        return;
    // A sink of that name made otherwise (the server's own configuration) serves.
    if (request->Found) {
        delete request;
        return;
    }
    TRequest::Await(pa_context_get_source_info_by_name(context, TTxSink::Name, SourceNamed, request), request);
}

void Listed(pa_context *context, const pa_module_info *info, int eol, void *user)
{
    auto *request = static_cast<TRequest *>(user);
    if (!eol && info) {
        if (info->name && std::string(info->name) == "module-null-sink" && info->argument
            && SoundGraph::ModuleArgument(info->argument, "sink_name") == TTxSink::Name)
            request->Module = info->index;
        return;
    }
    if (!eol)
        return;
    // A list cut short: the connection is failing.
    if (eol < 0) {
        delete request;
        return;
    }
    // The lists this program keeps may still show a source that has just
    // gone: the name is asked for afresh.
    if (request->Module == PA_INVALID_INDEX) {
        TRequest::Await(pa_context_get_sink_info_by_name(context, TTxSink::Name, SinkNamed, request), request);
        return;
    }
    // Made already (at login, or by an earlier run), maybe under a changed name.
    const auto devices = request->Server->Devices();
    const auto made = std::ranges::find(devices->Sinks, request->Module, &TPulseServer::TDevice::Module);
    if (made != devices->Sinks.end() && made->Name != TTxSink::Name)
        request->Clash("the name was taken, the sink was made as " + made->Name);
    delete request;
}
} // namespace

TTxSink::TTxSink(TEvents events) : FState(std::make_shared<TState>(TState{std::move(events)})) {}

void TTxSink::Ensure(TPulseServer &server)
{
    if (FState->Busy)
        return;
    FState->Busy = true;
    auto *request = new TRequest{FState, &server};
    TRequest::Await(pa_context_get_module_info_list(server.Context(), Listed, request), request);
}
