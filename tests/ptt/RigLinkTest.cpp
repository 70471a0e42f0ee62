// The rig's PTT output against a scripted rigctld that misbehaves.
#include "ScriptedRigctld.h"
#include "TestSupport.h"

#include "ptt/KeyedOutputs.h"
#include "ptt/RigLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace std::chrono_literals;
using TFault = TScriptedRigctld::TFault;

namespace {
TPttOutput::TDeadline In(std::chrono::milliseconds timeout) { return std::chrono::steady_clock::now() + timeout; }

// The render timer's keying ticks, for a while.
void KeyFor(TPttOutput &output, std::chrono::milliseconds duration)
{
    const auto end = In(duration);
    while (std::chrono::steady_clock::now() < end) {
        output.Switch(true);
        std::this_thread::sleep_for(33ms);
    }
}
} // namespace

TEST(RigLink, EveryMisbehavingDaemonEndsWithTheRigReleasedOnceItBehavesAgain)
{
    struct TCase {
        TFault fault;
        // What the user is told; after "Rig-control server ADDRESS" when it
        // starts with a blank, else with that on the next line.
        const char *report;
        std::chrono::milliseconds lasts = 1200ms;
    };
    const std::vector<TCase> cases{
        {TScriptedRigctld::fGarbage, " sent a malformed reply"},
        {TScriptedRigctld::fHugeLine, " sent an overlong reply"},
        {TScriptedRigctld::fNoNewline, " did not answer within 1 second"},
        {TScriptedRigctld::fCloseMidAnswer, " closed the connection"},
        {TScriptedRigctld::fSlow, " did not answer within 1 second"},
        {TScriptedRigctld::fSilent, " did not answer within 1 second"},
        {TScriptedRigctld::fStuck, " did not answer within 1 second"},
        {TScriptedRigctld::fFlood, " "},
        {TScriptedRigctld::fRefuseRelease, "Command rejected by the rig"},
        {TScriptedRigctld::fRefuseRead, "Command rejected by the rig"},
        {TScriptedRigctld::fDown, " does not answer (Connection refused)", 4500ms},
        {TScriptedRigctld::fStatusMin, "OLE error 80000000"},
        {TScriptedRigctld::fStatusHuge, "Unknown error"},
    };
    RecordedDialogs dialogs;
    std::vector<std::unique_ptr<TScriptedRigctld>> peers;
    std::vector<std::unique_ptr<TRigLink>> links;
    for (size_t i = 0; i < cases.size(); ++i) {
        peers.push_back(std::make_unique<TScriptedRigctld>());
        links.push_back(std::make_unique<TRigLink>(peers[i]->Address()));
    }
    // The cases run side by side; their reports wait in the event queue.
    std::vector<std::thread> runs;
    for (size_t i = 0; i < cases.size(); ++i)
        runs.emplace_back([&, i] {
            KeyFor(*links[i], 300ms); // the first "T 1" is answered well
            peers[i]->Misbehave(cases[i].fault);
            KeyFor(*links[i], 900ms);
            links[i]->Switch(false);
            std::this_thread::sleep_for(cases[i].lasts);
            peers[i]->Behave();
            links[i]->Settle(In(20s));
        });
    for (std::thread &run : runs)
        run.join();
    QCoreApplication::sendPostedEvents();

    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "fault " << cases[i].fault);
        EXPECT_FALSE(links[i]->MayBeKeyed());
        EXPECT_FALSE(peers[i]->Keyed()) << "the rig was left keyed";
        const QString report = cases[i].report;
        const QString daemon = "Rig-control server " + peers[i]->Address();
        const QString expected = '|' + (report.startsWith(' ') ? daemon + report : report + ".\n" + daemon + '.');
        EXPECT_TRUE(std::any_of(dialogs.errors.begin(), dialogs.errors.end(),
                                [&](const QString &shown) { return shown.contains(expected); }))
            << expected.toStdString() << " not in:\n" << dialogs.errors.join('\n').toStdString();
    }
}

TEST(RigLink, KeyingTicksReachTheDaemonAtMostOnceASecond)
{
    TScriptedRigctld peer;
    TRigLink link(peer.Address());
    KeyFor(link, 3000ms);
    link.Switch(false);
    link.Settle(In(5s));
    EXPECT_LE(peer.Received("T 1"), 4);
    EXPECT_GE(peer.Received("T 1"), 2) << "an unchanged state is still repeated";
    EXPECT_EQ(peer.Received("T 0"), 1);
    EXPECT_FALSE(peer.Keyed());
}

// A rig whose PTT cannot be read back: the daemon's "RPRT 0" to "T 0" is the
// release, not a release owed for ever.
TEST(RigLink, AReleaseOfARigWhosePttCannotBeReadHoldsOnTheDaemonsWord)
{
    for (const auto fault : {TScriptedRigctld::fNoPttRead, TScriptedRigctld::fNoPttReadImpl}) {
        SCOPED_TRACE(testing::Message() << "fault " << fault);
        TScriptedRigctld peer;
        peer.Misbehave(fault);
        TRigLink link(peer.Address());
        KeyFor(link, 300ms);
        link.Switch(false);
        link.Settle(In(3s));
        EXPECT_FALSE(link.MayBeKeyed());
        EXPECT_EQ(peer.Received("T 0"), 1);
        EXPECT_FALSE(peer.Keyed());
    }
}

TEST(RigLink, SwitchNeverWaitsForAStalledDaemonAndTheNewestStateWins)
{
    TScriptedRigctld peer;
    peer.Misbehave(TScriptedRigctld::fSilent);
    TRigLink link(peer.Address());
    link.Switch(true);
    ASSERT_TRUE(peer.WaitForCommands(1, 5s));
    // The worker waits for the answer to "T 1" now. Had any of these calls
    // waited for the network, the daemon would have read more by their end.
    for (int tick = 0; tick < 10; ++tick) {
        link.Switch(false);
        link.Switch(true);
    }
    link.Switch(false);
    EXPECT_EQ(peer.Received("T 0"), 0);
    EXPECT_TRUE(link.MayBeKeyed());

    peer.Behave();
    link.Settle(In(5s));
    EXPECT_FALSE(link.MayBeKeyed());
    EXPECT_EQ(peer.Received("T 1"), 1);
    EXPECT_EQ(peer.Received("T 0"), 1) << "states superseded before they were sent are not sent";
    EXPECT_FALSE(peer.Keyed());

    // Going away in the middle of an exchange does not wait for its timeout.
    peer.Misbehave(TScriptedRigctld::fSilent);
    auto stalled = std::make_unique<TRigLink>(peer.Address());
    stalled->Switch(true);
    ASSERT_TRUE(peer.WaitForCommands(4, 5s)); // after "T 1", "T 0" and its read-back
    QElapsedTimer clock;
    clock.start();
    stalled.reset();
    EXPECT_LT(clock.elapsed(), 500);
}

// A "T 1" that timed out stays queued on its connection. When that connection
// is given up, the daemon may still carry it out after the confirmed release:
// the rig is read back for it, also once the window has turned to another
// output and only the keyed outputs hold the link.
TEST(RigLink, AKeyingLeftOnAGivenUpConnectionIsWatchedForAfterTheRelease)
{
    RecordedDialogs dialogs;
    TScriptedRigctld peer;
    peer.LateKeyingClose = 1500ms; // given up after the "T 1" timed out
    peer.Misbehave(TScriptedRigctld::fLateKeying);
    TKeyedOutputs outputs;
    auto link = std::make_shared<TRigLink>(peer.Address());
    outputs.Key(link);
    ASSERT_TRUE(peer.WaitForCommands(1, 5s));
    outputs.ReleaseAll();
    link->Settle(In(10s));
    ASSERT_FALSE(link->MayBeKeyed());
    link.reset();
    outputs.ReleaseAllBut({}); // a change of mode
    ASSERT_TRUE(peer.WaitForKeyed(true, 3s)) << "the daemon carries the held command out";
    EXPECT_TRUE(peer.WaitForKeyed(false, 3s)) << "found by reading the rig back, and released";
    QCoreApplication::sendPostedEvents();
}
