#pragma once
#include <QString>
#include <sys/types.h>

// A rigctld daemon with the dummy rig (model 1) on a free loopback port, for
// tests and benchmarks. Stopped by its process id when the object goes.
class TRigctldDaemon {
public:
    // keying: start with "-P RIG", without which the dummy refuses "T".
    explicit TRigctldDaemon(bool keying = true);
    ~TRigctldDaemon();
    TRigctldDaemon(const TRigctldDaemon &) = delete;
    TRigctldDaemon &operator=(const TRigctldDaemon &) = delete;

    quint16 Port() const { return FPort; }
    QString Address() const { return "127.0.0.1:" + QString::number(FPort); }
    pid_t Pid() const { return FPid; }

    // Starts again on the same port after Stop or Kill.
    void Restart();
    void Stop();          // SIGTERM, SIGKILL if it lingers; reaped
    void Kill();          // SIGKILL; reaped
    void Pause();         // SIGSTOP: connections are accepted, nothing answers
    void Resume();        // SIGCONT

    // "0" or "1" as rigctl reads the PTT from outside; empty on failure.
    QString PttState() const;

private:
    bool StartOn(quint16 port);
    void Reap(int signal, int graceMs);

    bool FKeying;
    quint16 FPort = 0;
    pid_t FPid = -1;
    int FProbe = -1; // the readiness probe's connection, held while it runs
};
