#pragma once
#include "audio/bass.h"

#include <atomic>
#include <memory>

class TKeyingCore;
class TRelay;

// Keying from the capture's blocks (ATTACK=BLOCK, and always with a relay):
// the capture thread measures every block as the render tick would (the same
// level of the latest 1024 samples), and a block at or above the squelch has
// the keying core key at once instead of waiting up to one 33 ms tick. With a
// relay every block also feeds it.
class TBlockAttack {
public:
    // The core outlives every capture that calls this: its owner stops the
    // capture before the core goes.
    TBlockAttack(TKeyingCore &core, int binStep, int squelch);

    // Any thread.
    void SetSquelch(int position) { FSquelch = position; }
    void SetRelay(std::shared_ptr<TRelay> relay) { FRelay = std::move(relay); }

    // The record callback; its user value is this object.
    static bool Proc(HRECORD handle, const void *buffer, uint32_t length, void *user);

private:
    TKeyingCore &FCore;
    int FBinStep;
    std::atomic<int> FSquelch;
    // One keying call waits in the core's queue at most: blocks come every 5 ms.
    std::atomic<bool> FPending{false};
    std::atomic<std::shared_ptr<TRelay>> FRelay;
};
