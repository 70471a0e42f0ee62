#include "ptt/DaemonProbe.h"
#include "support/QueuedCall.h"

#include "ptt/RigctldConnection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

TDaemonProbe::TDaemonProbe(const QString &address, std::function<void()> answered, QObject *parent)
    : QObject(parent), FAnswered(std::move(answered)), FStopEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    FWorker = std::jthread([this, address](std::stop_token stop) {
        TRigctldConnection connection(address, FStopEvent);
        while (!stop.stop_requested()) {
            try {
                connection.Open();
                QueuedCall::Queue(this, [this] { FAnswered(); });
                return;
            } catch (const ERigctldError &) {
            }
            pollfd stopped{FStopEvent, POLLIN, 0};
            poll(&stopped, 1, 1000);
        }
    });
}

TDaemonProbe::~TDaemonProbe()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(FStopEvent, &one, sizeof one);
    FWorker.request_stop();
    FWorker.join();
    close(FStopEvent);
}
