#include "SpawnedProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

TSpawnedProcess::~TSpawnedProcess()
{
    kill();
    waitForFinished(-1);
    if (FOutput >= 0)
        close(FOutput);
}

bool TSpawnedProcess::start(const QString &program, const QStringList &arguments)
{
    int output[2];
    if (FPid > 0 || pipe2(output, O_CLOEXEC) != 0)
        return false;
    // Only this end: the program's writes block as usual.
    fcntl(output[0], F_SETFL, O_NONBLOCK);
    std::vector<QByteArray> texts{program.toLocal8Bit()};
    for (const QString &argument : arguments)
        texts.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    const int failed = posix_spawnp(&FPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    // Debian 12's <sys/pidfd.h> lacks C linkage: the system call itself.
    FPidFd = failed ? -1 : int(syscall(SYS_pidfd_open, FPid, 0));
    if (FPidFd < 0) {
        close(output[0]);
        if (!failed) {
            ::kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        FPid = -1;
        return false;
    }
    if (FOutput >= 0)
        close(FOutput);
    FOutput = output[0];
    FOutputRead.clear();
    FExitCode = -1;
    return true;
}

void TSpawnedProcess::ReadOutput()
{
    char buffer[4096];
    ssize_t count;
    while (FOutput >= 0 && (count = read(FOutput, buffer, sizeof buffer)) != 0) {
        if (count < 0)
            return; // nothing more now
        FOutputRead.append(buffer, count);
    }
    // At its end: the program and whatever it started closed their copies.
    if (FOutput >= 0)
        close(FOutput);
    FOutput = -1;
}

bool TSpawnedProcess::waitForFinished(int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (FPid > 0) {
        pollfd entries[2] = {{FPidFd, POLLIN, 0}, {FOutput, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int ready = poll(entries, 2, timeoutMs < 0 ? -1 : int(std::max<qint64>(0, left)));
        ReadOutput();
        if (entries[0].revents) {
            int status = 0;
            waitpid(FPid, &status, 0);
            FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            close(FPidFd);
            FPidFd = -1;
            FPid = -1;
        } else if (ready == 0) {
            return false;
        }
    }
    return true;
}

void TSpawnedProcess::kill()
{
    if (FPid > 0)
        ::kill(FPid, SIGKILL);
}

QByteArray TSpawnedProcess::readAllStandardOutput()
{
    ReadOutput();
    return std::exchange(FOutputRead, QByteArray());
}

int TSpawnedProcess::execute(const QString &program, const QStringList &arguments, int timeoutMs)
{
    TSpawnedProcess process;
    if (!process.start(program, arguments) || !process.waitForFinished(timeoutMs))
        return -1;
    return process.exitCode();
}
