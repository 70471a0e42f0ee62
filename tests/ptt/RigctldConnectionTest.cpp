// The transport against a scripted peer, for what a real daemon does only by
// chance of timing.
#include "ScriptedRigctld.h"

#include "ptt/RigctldConnection.h"

#include <arpa/inet.h>
#include <mutex>
#include <poll.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
// A loopback listener whose connections follow a script: each entry answers
// that many commands with "RPRT 0" and then closes on the next one unanswered
// (or stays open, for -1).
class TScriptedPeer {
public:
    explicit TScriptedPeer(std::vector<int> answersPerConnection) : FScript(std::move(answersPerConnection))
    {
        FListener = ListenOnLoopback(FPort);
        FThread = std::thread([this] { Run(); });
    }
    ~TScriptedPeer()
    {
        shutdown(FListener, SHUT_RDWR);
        close(FListener);
        FThread.join();
    }
    QString Address() const { return "127.0.0.1:" + QString::number(FPort); }
    int Connections() const { return FConnections; }

private:
    void Run()
    {
        std::vector<int> open;
        for (int answers : FScript) {
            const int connection = accept(FListener, nullptr, nullptr);
            if (connection < 0)
                break;
            ++FConnections;
            char c;
            for (int n = 0; answers < 0 || n <= answers; ++n) {
                while (read(connection, &c, 1) == 1 && c != '\n') {
                }
                if (n == answers)
                    break;
                const char reply[] = "RPRT 0\n";
                if (write(connection, reply, sizeof reply - 1) < 0)
                    break;
            }
            if (answers < 0)
                open.push_back(connection);
            else
                close(connection);
        }
        for (int connection : open)
            close(connection);
    }

    std::vector<int> FScript;
    int FListener = -1;
    quint16 FPort = 0;
    std::atomic<int> FConnections = 0;
    std::thread FThread;
};
// A daemon that is stuck with its first command until the second arrives,
// then answers both, as a stalled rigctld that comes back does.
class TStalledPeer {
public:
    TStalledPeer()
    {
        FListener = ListenOnLoopback(FPort);
        FThread = std::thread([this] { Run(); });
    }
    ~TStalledPeer()
    {
        shutdown(FListener, SHUT_RDWR);
        close(FListener);
        FThread.join();
    }
    QString Address() const { return "127.0.0.1:" + QString::number(FPort); }
    // Commands in the order they arrived, each with the number of the
    // connection that brought it.
    QStringList Received() const
    {
        std::lock_guard lock(FMutex);
        return FReceived;
    }

private:
    QString ReadLine(int connection)
    {
        QString line;
        char c;
        while (read(connection, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    void Record(int number, const QString &command)
    {
        std::lock_guard lock(FMutex);
        FReceived << QString::number(number) + ' ' + command;
    }
    void Run()
    {
        const int first = accept(FListener, nullptr, nullptr);
        if (first < 0)
            return;
        Record(1, ReadLine(first));
        // Whatever comes next, on this connection or a new one, is answered
        // only after the stuck command.
        pollfd entries[2] = {{first, POLLIN, 0}, {FListener, POLLIN, 0}};
        if (poll(entries, 2, 5000) <= 0) {
            close(first);
            return;
        }
        if (entries[0].revents & POLLIN) {
            Record(1, ReadLine(first));
            const char replies[] = "RPRT 0\nRPRT 0\n";
            [[maybe_unused]] const ssize_t written = write(first, replies, sizeof replies - 1);
        } else if (const int second = accept(FListener, nullptr, nullptr); second >= 0) {
            Record(2, ReadLine(second));
            close(second);
        }
        char c;
        while (read(first, &c, 1) == 1) {
        }
        close(first);
    }

    int FListener = -1;
    quint16 FPort = 0;
    mutable std::mutex FMutex;
    QStringList FReceived;
    std::thread FThread;
};
} // namespace

TEST(RigctldConnection, LateAnswerKeepsTheConnectionSoCommandsStayInOrder)
{
    TStalledPeer peer;
    TRigctldConnection connection(peer.Address());
    EXPECT_THROW(connection.Exchange("T 1"), ERigctldError);
    EXPECT_EQ(connection.Exchange("T 0"), QStringList({"RPRT 0"})) << "the late answer to T 1 is passed over";
    // On a second connection the stuck "T 1" could be carried out after
    // "T 0" and leave the transmitter keyed.
    EXPECT_EQ(peer.Received(), QStringList({"1 T 1", "1 T 0"}));
    connection.Close();
}

TEST(RigctldConnection, CommandDroppedUnansweredOnAReusedConnectionIsSentOnceMoreOnAFreshOne)
{
    // The first connection answers one command and drops the next, as a
    // daemon restarted between two exchanges does; the second stays.
    TScriptedPeer peer({1, 3});
    TRigctldConnection connection(peer.Address());
    EXPECT_EQ(connection.Exchange("T 1"), QStringList({"RPRT 0"}));
    EXPECT_EQ(connection.Exchange("T 1"), QStringList({"RPRT 0"}));
    EXPECT_EQ(peer.Connections(), 2);
    EXPECT_EQ(connection.Exchange("T 0"), QStringList({"RPRT 0"}));
}

TEST(RigctldConnection, FreshConnectionDroppedUnansweredRaises)
{
    // A second connection would answer: only a retry could reach it.
    TScriptedPeer peer({0, 1});
    TRigctldConnection connection(peer.Address());
    EXPECT_THROW(connection.Exchange("T 1"), ERigctldError) << "no retry when the connection was new";
    EXPECT_EQ(peer.Connections(), 1);
}
