#include "RigctldFixture.h"
#include "SpawnedProcess.h"

#include <QRandomGenerator>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

sockaddr_in Loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool PortFree(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool free = bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return free;
}

// A connection to the port, or -1.
int Connect(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return fd;
    close(fd);
    return -1;
}

} // namespace

TRigctldDaemon::TRigctldDaemon(bool keying) : FKeying(keying)
{
    // Several test programs run at once: pick ports at random and retry.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const quint16 port = quint16(QRandomGenerator::global()->bounded(20000, 40000));
        if (PortFree(port) && StartOn(port))
            return;
    }
    throw std::runtime_error("rigctld could not be started on a free port");
}

TRigctldDaemon::~TRigctldDaemon() { Stop(); }

bool TRigctldDaemon::StartOn(quint16 port)
{
    const std::string portText = std::to_string(port);
    std::vector<const char *> argv{"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", portText.c_str()};
    if (FKeying) {
        argv.push_back("-P");
        argv.push_back("RIG");
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&FPid, "rigctld", &actions, nullptr, const_cast<char *const *>(argv.data()),
                                     environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        FPid = -1;
        throw std::runtime_error("rigctld could not be run");
    }

    // Ready when it accepts a connection; a daemon that lost the port race exits.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        int status;
        if (waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            return false;
        }
        // The probe stays connected while the daemon lives: rigctld 4.5 can
        // close a connection it has just accepted when another one ends at
        // that moment (a double close of a reused descriptor).
        if ((FProbe = Connect(port)) >= 0) {
            FPort = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Reap(SIGKILL, 0);
    return false;
}

void TRigctldDaemon::Restart()
{
    // The old listening port may linger briefly after a kill.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!StartOn(FPort)) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("rigctld could not be restarted");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void TRigctldDaemon::Reap(int signal, int graceMs)
{
    if (FPid <= 0)
        return;
    kill(FPid, SIGCONT);
    kill(FPid, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    int status;
    while (waitpid(FPid, &status, WNOHANG) != FPid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(FPid, SIGKILL);
            waitpid(FPid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FPid = -1;
    if (FProbe >= 0)
        close(FProbe);
    FProbe = -1;
}

void TRigctldDaemon::Stop() { Reap(SIGTERM, 2000); }
void TRigctldDaemon::Kill() { Reap(SIGKILL, 2000); }
void TRigctldDaemon::Pause() { kill(FPid, SIGSTOP); }
void TRigctldDaemon::Resume() { kill(FPid, SIGCONT); }

QString TRigctldDaemon::PttState() const
{
    // rigctld 4.5 can close a connection it has just accepted when another
    // one ends at that moment (see StartOn): rigctl then waits for an answer
    // that never comes. Such a query is made once more; a daemon that does
    // not answer fails both.
    for (int attempt = 0; attempt < 2; ++attempt) {
        TSpawnedProcess rigctl;
        rigctl.start("rigctl", {"-m", "2", "-r", Address(), "t"});
        if (rigctl.waitForFinished(5000))
            return QString::fromLatin1(rigctl.readAllStandardOutput()).trimmed();
        rigctl.kill();
        rigctl.waitForFinished();
    }
    return QString();
}
