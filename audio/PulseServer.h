#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <pulse/pulseaudio.h>
#include <string>
#include <thread>
#include <vector>

// The library's link to the sound server (PulseAudio, or PipeWire's pulse
// server) through libpulse's asynchronous API. One threaded main loop runs for
// the link's life: it is the capture thread, runs every libpulse callback
// (holding the loop's lock meanwhile) and makes the connection, again once a
// second after it failed. Nothing here waits for the server: what it tells
// arrives in callbacks on the loop thread, and the device lists are kept in a
// cache that the loop thread refreshes whenever the server reports a change.
class TPulseServer {
public:
    // How long a connection attempt may take until the device lists are read.
    static constexpr std::chrono::milliseconds AnswerLimit{3000};
    // How long after a failure the connection is tried again.
    static constexpr std::chrono::milliseconds RetryPeriod{1000};
    // How long Stop waits for requests still on their way to be answered.
    static constexpr std::chrono::milliseconds DrainLimit{200};

    struct TDevice {
        std::string Name;        // the server's name, stable across restarts
        std::string Description; // what the desktop's sound settings show
        std::string Card;        // the sound card behind it: sysfs path or ALSA card number; may be empty
        // Where its sound comes from or goes to: the device a remap or filter
        // device is made over, as the server's properties name it (empty when
        // they do not); for a monitor, the sink it is the monitor of.
        std::string Master;
        std::string MonitorOf;
        uint32_t Module = PA_INVALID_INDEX; // the module that made it
        bool operator==(const TDevice &) const = default;
    };
    struct TModule {
        uint32_t Index = PA_INVALID_INDEX;
        std::string Name;
        std::string Argument;
        bool operator==(const TModule &) const = default;
    };
    // What the server last said of its devices and modules, in its order;
    // empty while no connection is made.
    struct TDevices {
        std::vector<TDevice> Sources; // monitors included
        std::vector<TDevice> Sinks;
        std::vector<TModule> Modules;
        std::string DefaultSource, DefaultSink;
        bool operator==(const TDevices &) const = default;
    };

    // Told on the loop thread, the lock held, in the order attached.
    class TClient {
    public:
        // A connection is made and its device lists are read.
        virtual void ServerReady() {}
        // The connection (or an attempt: `wasReady` false) failed; streams on
        // it are dead. It is tried again after RetryPeriod.
        virtual void ServerFailed(const std::string &reason, bool wasReady) = 0;
        // The device lists were read again; `changed` when they differ.
        virtual void DevicesRead(bool changed) = 0;
        // A stream came or changed (moved to another device, say): a way for
        // sound that the device lists do not show.
        virtual void StreamsChanged() {}

    protected:
        ~TClient() = default;
    };

    // Starts the loop thread, which connects; returns at once, nullptr when no
    // loop can be made. `client` is attached before the thread starts. `note`
    // receives one trace line on the scheduling the loop thread got, from the
    // loop thread or a helper thread.
    static std::shared_ptr<TPulseServer> Start(TClient *client, std::function<void(const std::string &)> note);
    // Stops the loop thread if it runs, then frees the connection and the loop.
    ~TPulseServer();
    TPulseServer(const TPulseServer &) = delete;
    TPulseServer &operator=(const TPulseServer &) = delete;

    // Stops the loop thread and joins it (not from that thread): afterwards no
    // callback runs, and streams and events may be freed from any thread.
    // Requests made before (a relay's output hushed at the program's end) are
    // answered first, or DrainLimit passes.
    void Stop();

    // Any thread.
    bool Ready() const { return FReady.load(std::memory_order_acquire); }
    // Why the last attempt failed; empty once a connection is made, and
    // before the first attempt has ended.
    std::string Error() const;
    std::shared_ptr<const TDevices> Devices() const;

    // With the lock held.
    void Attach(TClient *client);
    void Detach(TClient *client);
    pa_threaded_mainloop *Loop() const { return FLoop; }
    pa_mainloop_api *Api() const { return pa_threaded_mainloop_get_api(FLoop); }
    // The current connection's context; it is replaced when the connection is
    // made again, and may be one that failed.
    pa_context *Context() const { return FContext; }
    // Streams given up while the server had not yet answered their creation:
    // each is disconnected as soon as it is created, so it never records or plays.
    void Abandon(pa_stream *stream);

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
    // All on the loop thread.
    void Connect();
    void Fail(const std::string &reason);
    void Refresh();
    void ListAnswered();
    void Publish(TDevices devices);
    void AskForRealTime();
    void Drain();
    static void ContextState(pa_context *context, void *user);
    static void ServerEvent(pa_context *context, pa_subscription_event_type_t type, uint32_t index, void *user);
    static void AbandonedState(pa_stream *stream, void *user);

    pa_threaded_mainloop *FLoop = nullptr;
    pa_context *FContext = nullptr;
    std::vector<TClient *> FClients;
    std::function<void(const std::string &)> FNote;
    bool FRunning = false;
    // Fails an attempt that has not been answered in time; then starts the next.
    pa_time_event *FAnswerTimer = nullptr;
    pa_time_event *FRetryTimer = nullptr;
    enum class TPhase { Connecting, Ready, Failed } FPhase = TPhase::Connecting;
    // The lists being read: four answers, and whether a change came meanwhile.
    TDevices FReading;
    int FPending = 0;
    bool FReadAgain = false;
    // RealtimeKit is asked on a thread of its own: the system bus may be slow.
    std::thread FRealTimeKit;

    std::atomic<bool> FReady{false};
    mutable std::mutex FCacheLock;
    std::shared_ptr<const TDevices> FDevices = std::make_shared<TDevices>();
    std::string FError;
};
