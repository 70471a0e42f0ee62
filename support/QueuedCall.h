#pragma once
#include <QMetaObject>
#include <QObject>
#include <future>
#include <mutex>
#include <utility>

// Runs a function on the receiver's thread once that thread's event loop gets
// to it, as QMetaObject::invokeMethod with Qt::QueuedConnection does, from any
// thread. Qt hands the call over under a futex that ThreadSanitizer cannot see,
// so it would take every use of the call's own memory on the receiving side
// for a race. Under ThreadSanitizer queueing also holds HandOver, and
// TApplication::notify takes it before every event: a lock it does see.
namespace QueuedCall {

std::mutex &HandOver();

template <class F> void Queue(QObject *receiver, F &&function)
{
#if defined(__SANITIZE_THREAD__)
    const std::lock_guard lock(HandOver());
#endif
    QMetaObject::invokeMethod(receiver, std::forward<F>(function), Qt::QueuedConnection);
}

// Runs a function on the receiver's (other) thread and waits until it has
// run. The wait is a promise, which ThreadSanitizer sees, rather than Qt's
// blocking connection, which it does not.
template <class F> void Wait(QObject *receiver, F &&function)
{
    std::promise<void> done;
    Queue(receiver, [&function, &done] {
        function();
        done.set_value();
    });
    done.get_future().wait();
}

} // namespace QueuedCall
