#include "SinkMonitor.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

double MonotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

int StartRecorder(const std::string &monitor, int channels, pid_t *pid, int latencyMs)
{
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string layout = "--channels=" + std::to_string(channels);
    const std::string latency = "--latency-msec=" + std::to_string(latencyMs);
    const char *argv[] = {"parec",         "-d", monitor.c_str(), "--raw", "--format=s16le", "--rate=44100",
                          layout.c_str(), latency.c_str(), nullptr};
    const int spawned = posix_spawnp(pid, "parec", &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        throw std::runtime_error("parec could not be run");
    }
    return fds[0];
}

TSinkMonitor::TSinkMonitor(const std::string &monitor, int latencyMs)
    : FRead(StartRecorder(monitor, 2, &FPid, latencyMs))
{
    FThread = std::thread([this] { Listen(); });
}

TSinkMonitor::~TSinkMonitor()
{
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
    FThread.join();
    close(FRead);
}

void TSinkMonitor::Arm()
{
    FFirst = 0;
    FLast = 0;
    FLoud = 0;
    FOnset = -1;
}

void TSinkMonitor::Listen()
{
    int16_t block[128];
    ssize_t got;
    while ((got = read(FRead, block, sizeof block)) > 0) {
        long loud = 0;
        for (ssize_t i = 0; i < got / 2; ++i) {
            loud += std::abs(block[i]) > 3277;
            if (FOnset < 0 && std::abs(block[i]) > 64)
                FOnset = std::abs(block[i]) / 32768.0;
        }
        if (loud > 0) {
            const double now = MonotonicSeconds();
            if (FFirst == 0)
                FFirst = now;
            FLast = now;
            FLoud += loud;
        }
    }
}
