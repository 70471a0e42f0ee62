// The transport against a scripted peer, for what a real daemon does only by
// chance of timing.
#include "ptt/RigctldConnection.h"

#include <arpa/inet.h>
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
        FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(FListener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        listen(FListener, 4);
        socklen_t length = sizeof address;
        getsockname(FListener, reinterpret_cast<sockaddr *>(&address), &length);
        FPort = ntohs(address.sin_port);
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
} // namespace

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
    TScriptedPeer peer({0, 0});
    TRigctldConnection connection(peer.Address());
    EXPECT_THROW(connection.Exchange("T 1"), ERigctldError) << "no retry when the connection was new";
}
