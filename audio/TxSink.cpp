#include "audio/TxSink.h"

#include <cstdint>

namespace {
struct TAnswer {
    pa_threaded_mainloop *Loop;
    bool Done = false;
    bool Found = false;
    uint32_t Module = PA_INVALID_INDEX;

    void Finish()
    {
        Done = true;
        pa_threaded_mainloop_signal(Loop, 0);
    }
};

// Waits for the operation's answer; false when none came in time. The answer
// lives on the caller's stack: no late answer may reach it.
bool Await(TPulseServer &server, pa_operation *operation, TAnswer &answer)
{
    if (!operation)
        return false;
    const bool answered = server.Wait([&answer] { return answer.Done; });
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return answered;
}
} // namespace

std::string TxSink::Ensure(TPulseServer &server)
{
    TAnswer found{server.Loop()};
    pa_operation *lookup = pa_context_get_sink_info_by_name(
        server.Context(), Name,
        [](pa_context *, const pa_sink_info *info, int eol, void *user) {
            auto *answer = static_cast<TAnswer *>(user);
            if (!eol && info)
                answer->Found = true;
            else
                answer->Finish();
        },
        &found);
    if (!Await(server, lookup, found))
        return "no answer from the sound server";
    if (found.Found)
        return {};
    TAnswer loaded{server.Loop()};
    pa_operation *load = pa_context_load_module(
        server.Context(), "module-null-sink",
        (std::string("sink_name=") + Name + " sink_properties=device.description=\"KOTARPlus\\ TX\"").c_str(),
        [](pa_context *, uint32_t index, void *user) {
            auto *answer = static_cast<TAnswer *>(user);
            answer->Module = index;
            answer->Finish();
        },
        &loaded);
    if (!Await(server, load, loaded))
        return "no answer from the sound server";
    if (loaded.Module == PA_INVALID_INDEX)
        return pa_strerror(pa_context_errno(server.Context()));
    return {};
}
