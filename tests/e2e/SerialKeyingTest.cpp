// The built program keys a serial port's DTR and RTS from what it hears on the
// tests' sound server.
#include "ProgramRun.h"
#include "SpeechSquelch.h"
#include "TestSupport.h"

#include <QThread>
#include <gtest/gtest.h>

namespace {

QString SerialIni(const TProgramRun &run, int gain)
{
    return QString("[SETTINGS]\nPTT=SERIAL\nCOMPORT=%1\nGAIN=%2\nDELAY=500\nTRACE=YES\n").arg(run.PortPath()).arg(gain);
}

std::string Text(const std::vector<TLineChange> &changes)
{
    QStringList parts;
    for (const TLineChange &change : changes)
        parts << change.line + (change.on ? " 1" : " 0");
    return parts.join(", ").toStdString();
}

std::vector<TLineChange> After(const std::vector<TLineChange> &changes, double time)
{
    std::vector<TLineChange> later;
    for (const TLineChange &change : changes)
        if (change.time > time)
            later.push_back(change);
    return later;
}

} // namespace

TEST(SerialKeying, SilenceKeysNothingAndSpeechKeysBothLinesUntilTheHangAfterItEnds)
{
    TProgramRun run;
    run.WriteIni(SerialIni(run, SpeechSquelch));
    const QString speech = MakeSpeech(run.Dir(), "CQ CQ, this is a test of the voice operated transmit switch.");
    run.Start();
    ASSERT_TRUE(WaitFor([&] { return run.Lines().size() >= 2; }, 5000));
    EXPECT_EQ(Text(run.Lines()), "DTR 0, RTS 0") << "the port opens with both lines lowered";

    // Nothing to wait for here: the point is that nothing happens.
    QThread::sleep(3);
    EXPECT_EQ(Text(run.Lines()), "DTR 0, RTS 0") << "silence keyed the transmitter";

    const TPlayback playback = Play(speech);
    const bool released = WaitFor(
        [&] {
            const std::vector<TLineChange> lines = run.Lines();
            return lines.back().line == "RTS" && !lines.back().on && lines.back().time > playback.ended;
        },
        5000);
    const std::vector<TLineChange> changes = After(run.Lines(), playback.started);
    ASSERT_TRUE(released) << "not released after the speech ended: " << Text(changes);
    ASSERT_GE(changes.size(), 4u);
    // Both lines switch together, DTR first, in both directions.
    for (size_t i = 0; i + 1 < changes.size(); i += 2) {
        EXPECT_EQ(changes[i].line, "DTR") << Text(changes);
        EXPECT_EQ(changes[i + 1].line, "RTS") << Text(changes);
        EXPECT_EQ(changes[i].on, changes[i + 1].on) << Text(changes);
        EXPECT_EQ(changes[i].on, i % 4 == 0) << Text(changes);
    }
    // The hang is 600 ms after the last keying tick, which comes at the end of
    // the speech; paplay returns when the sink has played it.
    const double release = changes[changes.size() - 2].time - playback.ended;
    EXPECT_GT(release, 0.3);
    EXPECT_LT(release, 3.0);

    EXPECT_TRUE(run.Terminate());
}

TEST(SerialKeying, TerminationWhileKeyedLowersBothLinesAndWritesTheConfiguration)
{
    TProgramRun run;
    // Squelch 0 keys at every render tick while the capture runs.
    run.WriteIni(SerialIni(run, 0));
    run.Start();
    ASSERT_TRUE(WaitFor([&] { return Text(run.Lines()) == "DTR 0, RTS 0, DTR 1, RTS 1"; }, 10000))
        << Text(run.Lines());

    ASSERT_TRUE(run.Terminate());
    EXPECT_EQ(Text(run.Lines()), "DTR 0, RTS 0, DTR 1, RTS 1, DTR 0, RTS 0");
    EXPECT_EQ(ReadText(run.File("KOTARPlus.INI")).toStdString(),
              ("[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + run.PortPath()
               + "\nGAIN=0\nDELAY=500\nTRACE=YES\nBAUDRATE=4800\nDEVICE=-1\nDEVICENAME=\nATTACK=TICK\n")
                  .toStdString());
}
