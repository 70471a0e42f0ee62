#pragma once
#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>

// When sound really passes the test sink (or the one whose monitor is named):
// a parec on the sink's monitor with a 1 ms latency, read on a thread of its
// own. Times are CLOCK_MONOTONIC seconds. So short a buffer overruns now and
// then on a busy machine (PipeWire drops a graph cycle): counts of frames to
// compare take a monitor with a longer latency.
class TSinkMonitor {
public:
    explicit TSinkMonitor(const std::string &monitor = "kotar_sink.monitor", int latencyMs = 1);
    ~TSinkMonitor();
    TSinkMonitor(const TSinkMonitor &) = delete;
    TSinkMonitor &operator=(const TSinkMonitor &) = delete;

    // Forgets what was heard so far.
    void Arm();
    // The first and the last sample above -20 dBFS since Arm; 0 when none.
    double First() const { return FFirst; }
    double Last() const { return FLast; }
    // How many sample frames above -20 dBFS since Arm: exact where times
    // carry the reader's scheduling, given a latency that does not overrun.
    long LoudFrames() const { return FLoud / 2; }
    // The size of the first sample over -54 dBFS since Arm (-1: none yet): a
    // sound cut in mid-wave starts with a step.
    double Onset() const { return FOnset; }

private:
    void Listen();

    pid_t FPid = 0;
    int FRead = -1;
    std::thread FThread;
    std::atomic<double> FFirst{0}, FLast{0};
    std::atomic<long> FLoud{0};
    std::atomic<double> FOnset{-1};
};

double MonotonicSeconds();
// Starts parec on `monitor` (16-bit, 44100 Hz, `latencyMs`) writing raw
// samples to the returned descriptor; its process id goes to *pid. Raises
// std::runtime_error when it cannot be run.
int StartRecorder(const std::string &monitor, int channels, pid_t *pid, int latencyMs = 1);
