#include "audio/TxSink.h"

#include <cstdint>

namespace {
// One request through its two answers; freed by the last, or when the
// connection ends before an answer came.
struct TRequest {
    std::function<void(const std::string &why)> Failed;
    bool Found = false;

    // Hands the request to `operation`, which frees it if it is cancelled.
    static void Await(pa_operation *operation, TRequest *request, pa_context *context)
    {
        if (!operation) {
            request->Failed(pa_strerror(pa_context_errno(context)));
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
};

void Loaded(pa_context *context, uint32_t index, void *user)
{
    auto *request = static_cast<TRequest *>(user);
    if (index == PA_INVALID_INDEX)
        request->Failed(pa_strerror(pa_context_errno(context)));
    delete request;
}

void Looked(pa_context *context, const pa_sink_info *info, int eol, void *user)
{
    auto *request = static_cast<TRequest *>(user);
    if (!eol && info) {
        request->Found = true;
        return;
    }
    if (!eol)
        return;
    if (request->Found) {
        delete request;
        return;
    }
    const std::string arguments =
        std::string("sink_name=") + TxSink::Name + " sink_properties=device.description=\"KOTARPlus\\ TX\"";
    TRequest::Await(pa_context_load_module(context, "module-null-sink", arguments.c_str(), Loaded, request), request,
                    context);
}
} // namespace

void TxSink::Ensure(TPulseServer &server, std::function<void(const std::string &why)> failed)
{
    auto *request = new TRequest{std::move(failed)};
    TRequest::Await(pa_context_get_sink_info_by_name(server.Context(), Name, Looked, request), request,
                    server.Context());
}
