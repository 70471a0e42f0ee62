// kotarplusd without a display, on the tests' sound server, PTT on a
// pseudo-terminal, driven from the command line over a private session bus.
#include "PrivateBus.h"
#include "ProgramRun.h"
#include "SpeechSquelch.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {
bool Keyed(const TProgramRun &run)
{
    const std::vector<TLineChange> lines = run.Lines();
    return !lines.empty() && lines.back().on;
}

struct Station : ::testing::Test {
    // Speech played in the background; its end is waited for by the caller.
    void Speak()
    {
        player.start("paplay", {"-d", "kotar_sink", speech});
        ASSERT_TRUE(player.waitForStarted());
    }
    bool SpeechEnded() { return player.waitForFinished(30000); }
    std::pair<int, QString> Ask(const QStringList &arguments, const QString &program = qEnvironmentVariable("KOTARPLUSD"))
    {
        return bus.Client(arguments, true, program);
    }

    TPrivateBus bus;
    TProgramRun run;
    QProcess player;
    const QString speech = MakeSpeech(run.Dir(), "CQ CQ, this is a test of the voice operated switch.");
};
} // namespace

TEST_F(Station, KeysFromSpeechAndObeysTheCommandLine)
{
    run.Program = qEnvironmentVariable("KOTARPLUSD");
    run.Bus = bus.address;
    run.WriteIni(QString("[SETTINGS]\nPTT=SERIAL\nCOMPORT=%1\nGAIN=%2\nDELAY=300\n").arg(run.PortLink()).arg(SpeechSquelch));
    run.Unplug(); // plugged in after the start (at boot, say): taken when it appears
    run.Start();
    EXPECT_EQ(Ask({"--status"}).second.section('\n', 2), "ptt: none\n");
    run.Replug();
    const QString target = "ptt: " + run.PortLink() + " DTR+RTS\n";
    EXPECT_TRUE(WaitFor([&] { return Ask({"--status"}).second.section('\n', 2) == target; }, 10000));

    Speak();
    ASSERT_TRUE(WaitFor([&] { return Keyed(run); }, 10000)) << "speech did not key";
    EXPECT_TRUE(Ask({"--status"}).second.startsWith("state: keyed\n"));
    ASSERT_TRUE(SpeechEnded());
    EXPECT_TRUE(WaitFor([&] { return !Keyed(run); }, 5000)) << "not released after the speech";

    EXPECT_EQ(Ask({"--mute", "on"}).first, 0);
    const size_t changes = run.Lines().size();
    Speak();
    ASSERT_TRUE(SpeechEnded());
    EXPECT_EQ(run.Lines().size(), changes) << "muted, and keyed";
    EXPECT_TRUE(Ask({"--status"}).second.startsWith("state: muted\n"));

    EXPECT_EQ(Ask({"--mute", "off"}).first, 0);
    Speak();
    ASSERT_TRUE(WaitFor([&] { return Keyed(run); }, 10000)) << "unmuted, and not keyed";
    // The window's program saves the same file meanwhile.
    run.WriteIni(QString("[SETTINGS]\nPTT=SERIAL\nCOMPORT=%1\nGAIN=7\nDELAY=300\nBAUDRATE=9600\n").arg(run.PortPath()));
    ASSERT_TRUE(run.Terminate());
    EXPECT_FALSE(Keyed(run)) << "SIGTERM left the lines up";
    const QString ini = ReadText(run.File("KOTARPlus.INI"));
    EXPECT_TRUE(ini.contains("PTT=SERIAL\n") && ini.contains("GAIN=7\n") && ini.contains("BAUDRATE=9600\n")) << ini.toStdString();
    player.kill();
    player.waitForFinished();

    const auto [status, said] = Ask({"--status"});
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(said.startsWith("kotarplusd: no instance is running")) << said.toStdString();
    EXPECT_TRUE(Ask({"--help"}).second.startsWith("Usage: kotarplusd [--config-folder]")) << "its own name";
}

// The window's program answers the same way.
TEST_F(Station, TheWindowsProgramIsDrivenTheSameWay)
{
    run.Bus = bus.address;
    run.WriteIni("[SETTINGS]\nPTT=NONE\nGAIN=10\n");
    run.Start();
    EXPECT_EQ(Ask({"--mute", "on"}, run.Program).first, 0);
    EXPECT_EQ(Ask({"--status"}, run.Program).second.section('\n', 0, 0), "state: muted");
    EXPECT_TRUE(run.Terminate());
}
