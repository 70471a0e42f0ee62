#pragma once
#include <string>
#include <sys/types.h>

// Real-time scheduling for the capture thread, where the system grants it: a
// busy desktop then cannot hold up the capture's blocks. Each call gives the
// one trace line that says what the thread got.
namespace RealTime {

// Low: above every normal thread, below the sound server's own.
constexpr int Priority = 5;

// On the thread itself: SCHED_RR at Priority within RLIMIT_RTPRIO (or with the
// capability). The line when it worked; otherwise empty, and `why` says why not.
std::string Raise(std::string &why);
// From any thread: asks RealtimeKit on the system bus for the thread `tid` of
// this process; `refused` is why Raise failed. Waits for the bus, at most 2 s.
std::string ViaRealtimeKit(pid_t tid, const std::string &refused);

} // namespace RealTime
