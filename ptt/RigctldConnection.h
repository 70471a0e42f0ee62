#pragma once
#include "support/Exception.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>

// A rigctld daemon's TCP address, "host:port" or "[IPv6]:port".
struct TRigAddress {
    QString Host;
    quint16 Port = 0;

    QString ToString() const;
    // Accepts an IPv4 or bracketed IPv6 literal or a DNS host name, and a port
    // 1..65535; anything else (blanks, control characters, other separators) is
    // refused, so no text from a configuration file reaches a socket unchecked.
    static std::optional<TRigAddress> Parse(const QString &text);
};

// The transport failed: no daemon at the address, no answer within the
// timeout, or the connection was lost.
class ERigctldError : public Exception {
public:
    using Exception::Exception;
};

// One persistent connection to a rigctld daemon, used by one thread at a time.
// Every exchange is bounded by TimeoutMs from the call, connecting included.
// An exchange whose answer is late keeps the connection, so that commands are
// carried out in the order they were sent, until the daemon has been silent
// for GiveUpMs; any other failure drops it, and the next exchange connects
// again.
class TRigctldConnection {
public:
    static constexpr int TimeoutMs = 1000;
    static constexpr int GiveUpMs = 10000;

    // address: as read from the configuration; an unparsable one fails every
    // exchange without touching the network. stopEvent: a descriptor that,
    // once readable, ends every wait at once with ERigctldError (-1: none).
    explicit TRigctldConnection(const QString &address, int stopEvent = -1);
    ~TRigctldConnection();
    TRigctldConnection(const TRigctldConnection &) = delete;
    TRigctldConnection &operator=(const TRigctldConnection &) = delete;

    QString Address() const { return FAddressText; }
    bool Connected() const { return FSocket >= 0; }
    // Connects unless connected; raises ERigctldError.
    void Open();
    void Close();
    // Sends one command line of the default protocol (printable ASCII, no line
    // end) and returns the reply lines up to the closing "RPRT n" line, which is
    // the last element. withData: the command answers text lines before that
    // line; otherwise "RPRT n" must be the whole reply. Anything else (another
    // line, control characters, an overlong or unfinished reply, data nobody
    // asked for) raises ERigctldError and drops the connection.
    QStringList Exchange(const QByteArray &command, bool withData = false);
    // Sends a query answered by one line, its value, or "RPRT n" when it
    // fails ("t" answers "0" or "1"); returns that line.
    QString Read(const QByteArray &command);
    // Whether, since the last call, a connection was dropped while a keying
    // command ("T 1") sent on it was unanswered: the daemon may still carry it
    // out when it wakes.
    bool TakeAbandonedKeying();

private:
    // How a command's reply is framed.
    enum class TReply { Status, Data, Value };
    struct TPending {
        QByteArray command;
        TReply shape;
    };
    QStringList Send(const QByteArray &command, TReply shape);
    void OpenBy(qint64 deadline);
    bool Stale() const;
    QStringList Transact(const QByteArray &command, TReply shape, qint64 deadline);
    // Waits for events on the socket until the deadline; false on timeout.
    bool WaitFor(short events, qint64 deadline);
    [[noreturn]] void Fail(const QString &reason);

    QString FAddressText;
    std::optional<TRigAddress> FAddress;
    int FSocket = -1;
    // The last exchange failed because the daemon dropped the connection
    // before any reply.
    bool FDroppedUnanswered = false;
    int FStopEvent;
    // The commands of timed-out exchanges, still queued on the connection;
    // the command of the exchange under way; whether a keying command was
    // left unanswered on a dropped connection; what has arrived of replies
    // not yet taken; since when the daemon has sent nothing while replies are
    // owed.
    std::deque<TPending> FPendingReplies;
    QByteArray FInFlight;
    bool FAbandonedKeying = false;
    QByteArray FReceived;
    qint64 FSilentSince = 0;
};
