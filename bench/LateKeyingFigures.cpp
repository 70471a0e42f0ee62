// How long a rig stays in TX when a daemon carries out a keying command the
// link gave up on after the release was confirmed: a scripted peer holds the
// first "T 1", drops its connection and carries it out a given time after the
// later "T 0". The link's read-back finds it and releases again. Prints one
// line per trial and the longest time in TX.
#include "ScriptedRigctld.h"

#include "ptt/RigLink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Polls every millisecond; the time it became true, or none after 5 s.
std::optional<Clock::time_point> When(const std::function<bool()> &done)
{
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (done())
            return Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

} // namespace

int main()
{
    double longest = 0;
    int failed = 0;
    for (int delay = 50; delay < 1100; delay += 100) {
        TScriptedRigctld peer;
        peer.LateKeyingDelay = std::chrono::milliseconds(delay);
        TRigLink link(peer.Address());
        link.Switch(false);
        link.Settle(Clock::now() + std::chrono::seconds(2));
        peer.Misbehave(TScriptedRigctld::fLateKeying);
        link.Switch(true);
        const bool keyed = When([&] { return peer.Keyed(); }).has_value();
        link.Switch(false);
        const bool released = keyed && When([&] { return !peer.Keyed(); }).has_value();
        const auto late = released ? When([&] { return peer.Keyed(); }) : std::nullopt;
        const auto again = late ? When([&] { return !peer.Keyed(); }) : std::nullopt;
        if (!again) {
            ++failed;
            std::printf("late T 1 %4d ms after T 0: not released again\n", delay);
            continue;
        }
        const double tx = std::chrono::duration<double, std::milli>(*again - *late).count();
        longest = std::max(longest, tx);
        std::printf("late T 1 %4d ms after T 0: in TX for %6.1f ms\n", delay, tx);
    }
    std::printf("longest time in TX after a late T 1: %.1f ms (%d trials not released)\n", longest, failed);
    return failed == 0 ? 0 : 1;
}
