#pragma once
#include "core/KeyingCore.h"
#include "support/QueuedCall.h"

#include <QMetaObject>
#include <QThread>
#include <chrono>
#include <memory>

// Runs the keying core on a thread of its own, where nothing the window waits
// for can delay a release; or, for tests that drive it step by step, on the
// caller's thread. Commands are posted and never waited for, except at Stop.
class TKeyingThread {
public:
    enum TMode { kmOwnThread, kmCallerThread };

    explicit TKeyingThread(TMode mode);
    // Stops the core if Stop has not.
    ~TKeyingThread();
    TKeyingThread(const TKeyingThread &) = delete;
    TKeyingThread &operator=(const TKeyingThread &) = delete;

    bool OwnThread() const { return FThread != nullptr; }
    // For connecting to its signals, and for stepping it on the caller's thread.
    TKeyingCore &Core() { return *FCore; }

    // Runs step(core) on the core's thread: queued there, at once on the
    // caller's. Never waits.
    template <class F> void Post(F &&step)
    {
        TKeyingCore *core = FCore.get();
        if (!FThread || FStopped) {
            if (!FStopped)
                step(*core);
            return;
        }
        QueuedCall::Queue(core, [core, step = std::forward<F>(step)]() mutable { step(*core); });
    }
    // Has slot run on receiver's thread for every emission of the core's
    // signal, with its arguments: queued from the core's own thread, at once
    // on the caller's.
    template <class Signal, class Slot> void Connect(Signal signal, QObject *receiver, Slot slot)
    {
        const bool own = OwnThread();
        QObject::connect(
            FCore.get(), signal, receiver,
            [receiver, slot, own](const auto &...arguments) {
                if (own)
                    QueuedCall::Queue(receiver, [slot, arguments...] { slot(arguments...); });
                else
                    slot(arguments...);
            },
            Qt::DirectConnection);
    }
    // Starts the core: PTT off, and on its own thread its own render tick.
    void Start();
    // Releases every output, the selected one too when asked (waiting up to
    // patience for releases in progress). Later posts do nothing.
    void Stop(std::chrono::milliseconds patience, bool selectedToo = true);

private:
    std::unique_ptr<TKeyingCore> FCore;
    std::unique_ptr<QThread> FThread;
    bool FStopped = false;
};
