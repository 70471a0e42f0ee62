#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <pulse/pulseaudio.h>
#include <string>
#include <vector>

// One connection to the sound server (PulseAudio, or PipeWire's pulse server)
// through libpulse's asynchronous API. Its threaded main loop is the capture
// thread: it runs every libpulse callback, holding the loop's lock meanwhile.
// Every wait for the server has a time limit, so a stalled server never hangs
// the caller.
class TPulseServer {
public:
    // How long any one answer of the server is waited for.
    static constexpr std::chrono::milliseconds AnswerLimit{3000};

    struct TSource {
        std::string Name;        // the server's name, stable across restarts
        std::string Description; // what the desktop's sound settings show
        std::string Card;        // the sound card behind it: sysfs path or ALSA card number; may be empty
    };

    // A connected server, or nullptr with the reason in `error`.
    static std::shared_ptr<TPulseServer> Connect(std::string &error);
    ~TPulseServer();
    TPulseServer(const TPulseServer &) = delete;
    TPulseServer &operator=(const TPulseServer &) = delete;

    // False once the server has gone.
    bool Ready();
    enum class TKind { Sources, Sinks };
    // The sources (monitors included) or the sinks in the server's order, and
    // the default one's name; nothing when the server gives no answer in time.
    std::optional<std::vector<TSource>> Devices(TKind kind, std::string *defaultName = nullptr);

    // Called on the loop thread for each new, changed or removed source.
    // Set while holding the lock.
    std::function<void(pa_subscription_event_type_t type)> OnSourceEvent;
    // Called on the loop thread when a source appears; set by the capture.
    std::function<void()> OnSourceAdded;
    // Called once on the loop thread when the connection fails, with the reason.
    std::function<void(const std::string &reason)> OnLost;

    pa_threaded_mainloop *Loop() const { return FLoop; }
    pa_context *Context() const { return FContext; }

    // Waits, the lock held, until `done` holds or `limit` passes; true when done.
    bool Wait(const std::function<bool()> &done, std::chrono::milliseconds limit = AnswerLimit);

    // Streams given up while the server had not yet answered their creation:
    // each is disconnected as soon as it is created, so it never records. Held
    // with the lock.
    void Abandon(pa_stream *stream);
    bool AbandonedPending() const { return FAbandoned > 0; }

    // The loop's lock for the scope of one object.
    class TLock {
    public:
        explicit TLock(const TPulseServer &server) : FLoop(server.FLoop) { pa_threaded_mainloop_lock(FLoop); }
        ~TLock() { pa_threaded_mainloop_unlock(FLoop); }
        TLock(const TLock &) = delete;
        TLock &operator=(const TLock &) = delete;

    private:
        pa_threaded_mainloop *FLoop;
    };

private:
    TPulseServer() = default;
    static void ContextState(pa_context *context, void *user);
    static void SourceEvent(pa_context *context, pa_subscription_event_type_t type, uint32_t index, void *user);
    static void AbandonedState(pa_stream *stream, void *user);

    pa_threaded_mainloop *FLoop = nullptr;
    pa_context *FContext = nullptr;
    int FAbandoned = 0;
};
