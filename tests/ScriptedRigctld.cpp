#include "ScriptedRigctld.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

int ListenOnLoopback(quint16 &port)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(listener, 8) != 0) {
        close(listener);
        return -1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

TScriptedRigctld::TScriptedRigctld()
{
    FListener = ListenOnLoopback(FPort);
    FStopEvent = eventfd(0, EFD_CLOEXEC);
    if (FListener < 0 || FStopEvent < 0)
        throw std::runtime_error("the scripted rigctld could not listen");
    FThread = std::thread([this] { Run(); });
}

TScriptedRigctld::~TScriptedRigctld()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = write(FStopEvent, &one, sizeof one);
    FThread.join();
    for (const auto &entry : FConnections)
        close(entry.first);
    if (FListener >= 0)
        close(FListener);
    close(FStopEvent);
}

void TScriptedRigctld::Misbehave(TFault fault)
{
    std::lock_guard lock(FMutex);
    FBehaving = false;
    FFault = fault;
}

void TScriptedRigctld::Behave()
{
    std::lock_guard lock(FMutex);
    FBehaving = true;
}

bool TScriptedRigctld::Keyed() const
{
    std::lock_guard lock(FMutex);
    return FKeyed;
}

int TScriptedRigctld::Received(const QByteArray &command) const
{
    std::lock_guard lock(FMutex);
    const auto found = FCounts.find(command);
    return found == FCounts.end() ? 0 : found->second;
}

bool TScriptedRigctld::WaitForCommands(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, timeout, [&] { return FCommands >= count; });
}

bool TScriptedRigctld::WaitForKeyed(bool keyed, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, timeout, [&] { return FKeyed == keyed; });
}

void TScriptedRigctld::Send(TConnection &connection, const QByteArray &data, TClock::duration delay)
{
    if (connection.scheduled.empty() && delay == TClock::duration())
        connection.output += data;
    else
        connection.scheduled.emplace_back(
            std::max(TClock::now() + delay, connection.scheduled.empty() ? TClock::time_point()
                                                                          : connection.scheduled.back().first),
            data);
}

void TScriptedRigctld::Answer(TConnection &connection, const QByteArray &command)
{
    if (!FBehaving && FFault == fLateKeying && command == "T 1" && !FHeld) {
        FHeld = true;
        connection.stuck = true; // what follows waits behind it
        connection.closeAt = TClock::now() + LateKeyingClose;
        return;
    }
    if (command == "T 1")
        FKeyed = true;
    if (!FBehaving && FFault == fStuck)
        connection.stuck = true;
    if (connection.stuck)
        return;
    // The answer a daemon gives when all goes well; with it, the rig acts.
    const auto release = [&](const QByteArray &status) {
        if (command == "t" && !FBehaving && (FFault == fNoPttRead || FFault == fRefuseRead || FFault == fNoPttReadImpl))
            return QByteArray(FFault == fNoPttRead ? "RPRT -11\n" : FFault == fNoPttReadImpl ? "RPRT -4\n" : "RPRT -9\n");
        if (command == "t")
            return QByteArray(FKeyed ? "1\n" : "0\n");
        if (command == "T 0" && status == "RPRT 0\n") {
            if (FBehaving || FFault != fKeepKeyed)
                FKeyed = false;
            if (FHeld && !FHeldDone)
                FHeldRunsAt = TClock::now() + LateKeyingDelay;
        }
        return status;
    };
    if (FBehaving || FFault == fKeepKeyed || FFault == fLateKeying || FFault == fNoPttRead || FFault == fRefuseRead
        || FFault == fNoPttReadImpl) {
        Send(connection, release("RPRT 0\n"));
        return;
    }
    // Faults of "T 1" or "T 0" alone leave "t" as it is.
    if (command == "t"
        && (FFault == fSlow || FFault == fRefuseRelease || FFault == fStatusMin || FFault == fStatusHuge)) {
        Send(connection, release(""), FFault == fSlow ? std::chrono::milliseconds(1100) : TClock::duration());
        return;
    }
    switch (FFault) {
    case fGarbage:
        Send(connection, "PTT is maybe on\n");
        break;
    case fHugeLine:
        Send(connection, QByteArray(5 * 1024 * 1024, 'x') + '\n');
        break;
    case fNoNewline:
        Send(connection, "RPRT 0");
        break;
    case fCloseMidAnswer:
        Send(connection, "RPR");
        connection.closeAt = TClock::now();
        break;
    case fSlow:
        Send(connection, release("RPRT 0\n"), std::chrono::milliseconds(1100));
        break;
    case fSilent:
        connection.backlog.push_back(command);
        break;
    case fRefuseRelease:
        Send(connection, command == "T 0" ? "RPRT -9\n" : "RPRT 0\n");
        break;
    case fStatusMin:
        Send(connection, command == "T 1" ? "RPRT -2147483648\n" : release("RPRT 0\n"));
        break;
    case fStatusHuge:
        Send(connection, command == "T 1" ? "RPRT 99999999999\n" : release("RPRT 0\n"));
        break;
    case fStuck:
    case fFlood:
    case fDown:
    case fKeepKeyed:
    case fLateKeying:
    case fNoPttRead:
    case fNoPttReadImpl:
    case fRefuseRead:
        break;
    }
}

void TScriptedRigctld::Run()
{
    std::unique_lock lock(FMutex);
    for (;;) {
        const bool down = !FBehaving && FFault == fDown;
        if (down && FListener >= 0) {
            close(FListener);
            FListener = -1;
            for (const auto &entry : FConnections)
                close(entry.first);
            FConnections.clear();
        } else if (!down && FListener < 0) {
            FListener = ListenOnLoopback(FPort);
        }
        const auto now = TClock::now();
        if (FHeldRunsAt <= now) {
            FKeyed = true;
            FHeldDone = true;
            FHeldRunsAt = TClock::time_point::max();
            FChanged.notify_all();
        }
        for (auto &[fd, connection] : FConnections) {
            if (FBehaving) {
                for (const QByteArray &command : connection.backlog) {
                    if (command == "T 0")
                        FKeyed = false;
                    Send(connection, command == "t" ? QByteArray(FKeyed ? "1\n" : "0\n") : QByteArray("RPRT 0\n"));
                }
                connection.backlog.clear();
            } else if (FFault == fFlood && connection.output.size() < 65536) {
                connection.output += QByteArray("RPRT 0\n").repeated(1024);
            }
            while (!connection.scheduled.empty() && connection.scheduled.front().first <= now) {
                connection.output += connection.scheduled.front().second;
                connection.scheduled.erase(connection.scheduled.begin());
            }
        }

        std::vector<pollfd> entries{{FStopEvent, POLLIN, 0}, {FListener, POLLIN, 0}};
        for (const auto &[fd, connection] : FConnections)
            entries.push_back({fd, short(POLLIN | (connection.output.isEmpty() ? 0 : POLLOUT)), 0});
        lock.unlock();
        poll(entries.data(), entries.size(), 10);
        lock.lock();
        if (entries[0].revents)
            return;
        if (entries[1].revents && FListener >= 0) {
            const int fd = accept4(FListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0)
                FConnections[fd].stuck = !FBehaving && FFault == fStuck;
        }
        for (size_t i = 2; i < entries.size(); ++i) {
            const auto found = FConnections.find(entries[i].fd);
            if (found == FConnections.end())
                continue;
            TConnection &connection = found->second;
            bool gone = false;
            if (entries[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buffer[4096];
                const ssize_t count = recv(found->first, buffer, sizeof buffer, 0);
                gone = count == 0 || (count < 0 && errno != EAGAIN);
                if (count > 0)
                    connection.input.append(buffer, count);
                qsizetype end;
                while ((end = connection.input.indexOf('\n')) >= 0) {
                    const QByteArray command = connection.input.left(end);
                    connection.input.remove(0, end + 1);
                    ++FCommands;
                    ++FCounts[command];
                    FChanged.notify_all();
                    Answer(connection, command);
                }
            }
            if (!gone && !connection.output.isEmpty() && (entries[i].revents & POLLOUT)) {
                const ssize_t sent = send(found->first, connection.output.constData(),
                                          size_t(connection.output.size()), MSG_NOSIGNAL);
                if (sent > 0)
                    connection.output.remove(0, sent);
                gone = sent < 0 && errno != EAGAIN;
            }
            if (gone || (connection.closeAt <= TClock::now() && connection.output.isEmpty())) {
                close(found->first);
                FConnections.erase(found);
            }
        }
    }
}
