#include "ptt/RigctldConnection.h"

#include <QRegularExpression>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// dump_caps of the largest backends is some 10 kB; anything far beyond is not
// a rigctld reply.
constexpr qsizetype MaxReply = 256 * 1024;
constexpr qsizetype MaxCommand = 256;

qint64 NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int Remaining(qint64 deadline) { return int(std::max<qint64>(0, deadline - NowMs())); }

enum class TWait { Ready, Timeout, Stopped };

// Waits for events on the socket until the deadline or the stop event.
TWait Await(int socket, short events, qint64 deadline, int stopEvent)
{
    for (;;) {
        pollfd entries[2] = {{socket, events, 0}, {stopEvent, POLLIN, 0}};
        const int result = poll(entries, stopEvent >= 0 ? 2 : 1, Remaining(deadline));
        if (result > 0)
            return stopEvent >= 0 && entries[1].revents ? TWait::Stopped : TWait::Ready;
        if (result == 0)
            return TWait::Timeout;
        if (errno != EINTR)
            return TWait::Ready; // let the following call report the error
    }
}

bool IsReplyEnd(const QByteArray &line)
{
    static const QRegularExpression rprt("^RPRT -?\\d+$");
    return rprt.match(QString::fromLatin1(line)).hasMatch();
}

// A line of text a command answers before its status: no control characters
// but tabs.
bool IsDataLine(const QByteArray &line)
{
    return std::none_of(line.begin(), line.end(), [](char c) { return (c >= 0 && c < 0x20 && c != '\t') || c == 0x7f; });
}

} // namespace

QString TRigAddress::ToString() const
{
    const QString host = Host.contains(':') ? '[' + Host + ']' : Host;
    return host + ':' + QString::number(Port);
}

std::optional<TRigAddress> TRigAddress::Parse(const QString &text)
{
    static const QRegularExpression form("^(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9.-]+)):([0-9]{1,5})$");
    static const QRegularExpression hostName(
        "^(?=.{1,253}$)[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$");
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const uint port = match.captured(3).toUInt();
    if (port == 0 || port > 65535)
        return std::nullopt;
    TRigAddress address;
    address.Port = quint16(port);
    if (!match.captured(1).isEmpty()) {
        in6_addr ip;
        if (inet_pton(AF_INET6, match.captured(1).toLatin1().constData(), &ip) != 1)
            return std::nullopt;
        address.Host = match.captured(1);
    } else {
        address.Host = match.captured(2);
        if (!hostName.match(address.Host).hasMatch())
            return std::nullopt;
    }
    return address;
}

TRigctldConnection::TRigctldConnection(const QString &address, int stopEvent)
    : FAddressText(address), FAddress(TRigAddress::Parse(address)), FStopEvent(stopEvent)
{
}

TRigctldConnection::~TRigctldConnection() { Close(); }

void TRigctldConnection::Close()
{
    if (FInFlight == "T 1"
        || std::any_of(FPendingReplies.begin(), FPendingReplies.end(),
                       [](const TPending &pending) { return pending.command == "T 1"; }))
        FAbandonedKeying = true;
    FInFlight.clear();
    if (FSocket >= 0)
        ::close(FSocket);
    FSocket = -1;
    FPendingReplies.clear();
    FReceived.clear();
}

void TRigctldConnection::Fail(const QString &reason)
{
    Close();
    throw ERigctldError("Rig-control server " + FAddressText + ' ' + reason);
}

void TRigctldConnection::Open() { OpenBy(NowMs() + TimeoutMs); }

void TRigctldConnection::OpenBy(qint64 deadline)
{
    if (FSocket >= 0)
        return;
    if (!FAddress)
        throw ERigctldError("Invalid rig-control server address \"" + FAddressText + '"');

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const int lookup = getaddrinfo(FAddress->Host.toLatin1().constData(),
                                   QByteArray::number(FAddress->Port).constData(), &hints, &found);
    if (lookup != 0)
        Fail(QString("not found (") + gai_strerror(lookup) + ')');

    int lastError = ETIMEDOUT;
    for (addrinfo *candidate = found; candidate && FSocket < 0 && Remaining(deadline) > 0;
         candidate = candidate->ai_next) {
        const int fd = ::socket(candidate->ai_family, candidate->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                candidate->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int result = ::connect(fd, candidate->ai_addr, candidate->ai_addrlen);
        if (result < 0 && errno == EINPROGRESS) {
            const TWait wait = Await(fd, POLLOUT, deadline, FStopEvent);
            if (wait != TWait::Ready) {
                ::close(fd);
                lastError = wait == TWait::Stopped ? ECANCELED : ETIMEDOUT;
                break;
            }
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            errno = error;
            result = error == 0 ? 0 : -1;
        }
        if (result < 0) {
            lastError = errno;
            ::close(fd);
            continue;
        }
        // Commands are single small writes answered at once: no batching wanted.
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        FSocket = fd;
    }
    freeaddrinfo(found);
    if (FSocket < 0)
        Fail(QString("does not answer (") + std::strerror(lastError) + ')'
             + (lastError == ECONNREFUSED ? "; start rigctld there or correct the address in OmniRig Settings" : ""));
}

bool TRigctldConnection::Stale() const
{
    // Between exchanges nothing may arrive but the late answers of exchanges
    // that timed out; anything else readable is a closed or reset connection,
    // or stray data that would be taken for the next reply.
    pollfd entry{FSocket, POLLIN, 0};
    if (poll(&entry, 1, 0) == 0)
        return false;
    if (FPendingReplies.empty())
        return true;
    char byte;
    return ::recv(FSocket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

bool TRigctldConnection::TakeAbandonedKeying() { return std::exchange(FAbandonedKeying, false); }

QStringList TRigctldConnection::Exchange(const QByteArray &command, bool withData)
{
    return Send(command, withData ? TReply::Data : TReply::Status);
}

QString TRigctldConnection::Read(const QByteArray &command) { return Send(command, TReply::Value).constLast(); }

QStringList TRigctldConnection::Send(const QByteArray &command, TReply shape)
{
    if (command.isEmpty() || command.size() > MaxCommand
        || std::any_of(command.begin(), command.end(), [](char c) { return c < 0x20 || c > 0x7e; }))
        throw ERigctldError("Refusing to send an invalid rig-control command");

    const qint64 deadline = NowMs() + TimeoutMs;
    if (FSocket >= 0 && Stale())
        Close();
    const bool reused = FSocket >= 0;
    OpenBy(deadline);
    try {
        return Transact(command, shape, deadline);
    } catch (const ERigctldError &) {
        // A daemon restarted just before this exchange may drop the old
        // connection only as the command arrives. Every command sent here can
        // be repeated, so it goes once more on a fresh connection.
        if (!reused || !FDroppedUnanswered)
            throw;
        OpenBy(deadline);
        return Transact(command, shape, deadline);
    }
}

bool TRigctldConnection::WaitFor(short events, qint64 deadline)
{
    const TWait wait = Await(FSocket, events, deadline, FStopEvent);
    if (wait == TWait::Stopped)
        Fail("was left unanswered");
    return wait == TWait::Ready;
}

QStringList TRigctldConnection::Transact(const QByteArray &command, TReply shape, qint64 deadline)
{
    const QByteArray line = command + '\n';
    FDroppedUnanswered = false;
    FInFlight = command;
    if (FPendingReplies.empty())
        FSilentSince = NowMs();
    qsizetype sent = 0;
    while (sent < line.size()) {
        const ssize_t written = ::send(FSocket, line.constData() + sent, size_t(line.size() - sent), MSG_NOSIGNAL);
        if (written > 0) {
            sent += written;
        } else if (written < 0 && errno == EAGAIN) {
            if (!WaitFor(POLLOUT, deadline))
                Fail("did not take the command within 1 second");
        } else if (written < 0 && errno != EINTR) {
            FDroppedUnanswered = errno == EPIPE || errno == ECONNRESET;
            Fail(QString("lost the connection (") + std::strerror(errno) + ')');
        }
    }

    QStringList lines;
    qsizetype replySize = 0;
    for (;;) {
        qsizetype end;
        while ((end = FReceived.indexOf('\n')) >= 0) {
            const QByteArray reply = FReceived.left(end);
            FReceived.remove(0, end + 1);
            // The oldest reply owed is a late one, if any, else this exchange's.
            const TReply owed = FPendingReplies.empty() ? shape : FPendingReplies.front().shape;
            const bool status = IsReplyEnd(reply);
            if (!status && (owed == TReply::Status || !IsDataLine(reply)))
                Fail("sent a malformed reply");
            // A value is the whole reply; data lines go on up to the status.
            if (!status && owed == TReply::Data) {
                lines << QString::fromUtf8(reply);
                continue;
            }
            if (!FPendingReplies.empty()) {
                // The late answer to an exchange that timed out.
                FPendingReplies.pop_front();
                lines.clear();
                replySize = 0;
                continue;
            }
            if (!FReceived.isEmpty())
                Fail("sent more than one reply");
            lines << QString::fromLatin1(reply);
            FInFlight.clear();
            return lines;
        }
        if (FReceived.size() > MaxReply || replySize > MaxReply)
            Fail("sent an overlong reply");
        if (!WaitFor(POLLIN, deadline)) {
            // The command stays queued on this connection, which is kept: the
            // daemon carries out one connection's commands in order, so a late
            // "T 1" can never overtake a later "T 0" sent after it. A daemon
            // that stays silent for long is given up on.
            if (NowMs() - FSilentSince >= GiveUpMs)
                Fail("did not answer within " + QString::number(GiveUpMs / 1000) + " seconds");
            FPendingReplies.push_back({command, shape});
            FInFlight.clear();
            throw ERigctldError("Rig-control server " + FAddressText + " did not answer within 1 second");
        }
        char buffer[16384];
        const ssize_t count = ::recv(FSocket, buffer, sizeof buffer, 0);
        if (count > 0) {
            FReceived.append(buffer, count);
            replySize += count;
            FSilentSince = NowMs();
        } else if (count == 0) {
            FDroppedUnanswered = FReceived.isEmpty() && lines.isEmpty();
            Fail("closed the connection");
        } else if (errno != EAGAIN && errno != EINTR) {
            FDroppedUnanswered = errno == ECONNRESET && FReceived.isEmpty() && lines.isEmpty();
            Fail(QString("lost the connection (") + std::strerror(errno) + ')');
        }
    }
}
