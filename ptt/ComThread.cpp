#include "ptt/ComThread.h"

#include "ptt/CPort.h"
#include "support/ErrorReport.h"
#include "support/QueuedCall.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Modem lines and error counters have no wake-up of their own that a stop can
// interrupt, so they are looked at this often. They feed only the hooks and
// the clearing of line errors, which need no haste; a shorter look would wake
// the thread many times a second for as long as PTT's port is open.
constexpr int PollInterval = 250; // ms
} // namespace

struct TComThread::TSync {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Stopping = false;
    uint64_t Posted = 0;
    uint64_t Handled = 0;
};

TComThread::TComThread(TCustomComPort &port, int handle, uint32_t mask, uint32_t rx80Level)
    : FPort(port), FHandle(handle), FMask(mask), FRx80Level(rx80Level), FSync(std::make_shared<TSync>())
{
}

TComThread::~TComThread()
{
    Stop();
    if (FStopEvent >= 0)
        ::close(FStopEvent);
}

int TComThread::Start()
{
    FStopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FStopEvent < 0)
        return errno;
    // The state at the time the port starts watching; what is there already
    // is no event, what comes after it is.
    Changes();
    try {
        FThread = std::thread([this] { Execute(); });
    } catch (const std::system_error &error) {
        return error.code().value();
    }
    return 0;
}

void TComThread::Stop()
{
    if (!FThread.joinable())
        return;
    {
        std::lock_guard lock(FSync->Lock);
        FSync->Stopping = true;
    }
    FSync->Changed.notify_all();
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FStopEvent, &one, sizeof one);
    FThread.join();
}

void TComThread::Execute()
{
    pollfd fds[2] = {{FHandle, short(FInQueue > 0 ? 0 : POLLIN), 0}, {FStopEvent, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, PollInterval) < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        // A hung-up device stays readable for ever; from then on only the
        // periodic look finds anything.
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            fds[0].fd = -1;
        const uint32_t mask = Changes() & FMask;
        // Input the program leaves unread would wake poll at once, again and
        // again; while some waits, growth is found by the periodic look.
        fds[0].events = FInQueue > 0 ? 0 : POLLIN;
        if (mask && !Deliver(mask))
            break;
    }
    tcflush(FHandle, TCIOFLUSH);
}

uint32_t TComThread::Changes()
{
    uint32_t mask = 0;
    int count = 0;
    if (ioctl(FHandle, FIONREAD, &count) == 0) {
        const uint32_t waiting = uint32_t(count);
        if (waiting > FInQueue)
            mask |= EV_RXCHAR;
        if (FRx80Level > 0 && waiting >= FRx80Level && FInQueue < FRx80Level)
            mask |= EV_RX80FULL;
        FInQueue = waiting;
    }
    if (ioctl(FHandle, TIOCOUTQ, &count) == 0) {
        if (FOutQueue > 0 && count == 0)
            mask |= EV_TXEMPTY;
        FOutQueue = uint32_t(count);
    }
    // Devices without modem lines or counters (ENOTTY) simply show no change.
    int lines = 0;
    if (ioctl(FHandle, TIOCMGET, &lines) == 0) {
        if (FLinesKnown) {
            const int changed = lines ^ FLines;
            if (changed & TIOCM_CTS)
                mask |= EV_CTS;
            if (changed & TIOCM_DSR)
                mask |= EV_DSR;
            if (changed & TIOCM_CD)
                mask |= EV_RLSD;
            if (changed & lines & TIOCM_RI)
                mask |= EV_RING;
        }
        FLines = lines;
        FLinesKnown = true;
    }
    const TLineCounters counters = TComDevice::ReadCounters(FHandle);
    if (counters.Known) {
        const int errors = counters.Frame + counters.Overrun + counters.Parity + counters.BufferOverrun;
        if (FCountersKnown) {
            if (counters.Break != FBreaks)
                mask |= EV_BREAK;
            if (errors != FErrors)
                mask |= EV_ERR;
        }
        FBreaks = counters.Break;
        FErrors = errors;
        FCountersKnown = true;
    }
    return mask;
}

bool TComThread::Deliver(uint32_t mask)
{
    std::unique_lock lock(FSync->Lock);
    if (FSync->Stopping)
        return false;
    const uint64_t number = ++FSync->Posted;
    lock.unlock();

    TCustomComPort *port = &FPort;
    const TComEvents events = MaskToEvents(mask);
    QueuedCall::Queue(port, [sync = FSync, port, events, number] {
        {
            std::lock_guard guard(sync->Lock);
            if (sync->Stopping)
                return;
        }
        ErrorReport::Guarded([&] { port->HandleEvents(events); });
        {
            std::lock_guard guard(sync->Lock);
            sync->Handled = number;
        }
        sync->Changed.notify_all();
    });

    lock.lock();
    FSync->Changed.wait(lock, [&] { return FSync->Stopping || FSync->Handled >= number; });
    return !FSync->Stopping;
}
