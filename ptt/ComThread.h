#pragma once
#include <cstdint>
#include <memory>
#include <thread>

class TCustomComPort;

// The line monitor of an open port: a thread that watches the device for line
// events and hands each set of them to the port on the user-interface thread,
// waiting until it has been handled.
class TComThread {
public:
    // mask: the EV_* bits to watch; rx80Level: the input count that makes
    // the buffer 80 % full.
    TComThread(TCustomComPort &port, int handle, uint32_t mask, uint32_t rx80Level);
    // Stops the thread and waits for it.
    ~TComThread();
    TComThread(const TComThread &) = delete;
    TComThread &operator=(const TComThread &) = delete;

    // Starts the thread; 0 or the errno of the failure.
    int Start();
    // Ends the thread and waits for it. A delivery still queued for the
    // user-interface thread is dropped, so the wait never depends on it.
    void Stop();

private:
    struct TSync;
    void Execute();
    uint32_t Changes();
    bool Deliver(uint32_t mask);

    TCustomComPort &FPort;
    const int FHandle;
    const uint32_t FMask;
    const uint32_t FRx80Level;
    int FStopEvent = -1;
    std::shared_ptr<TSync> FSync;
    std::thread FThread;

    // What the last look at the device found (monitor thread only).
    uint32_t FInQueue = 0;
    uint32_t FOutQueue = 0;
    bool FLinesKnown = false;
    int FLines = 0;
    bool FCountersKnown = false;
    int FBreaks = 0;
    int FErrors = 0;
};
