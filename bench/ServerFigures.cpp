// Wall-clock figures at the sound server's edges, with a private server of
// scripts/pulse-fixture.sh (run by bench/server-figures.sh):
//  - PTT release after the server stalls (SIGSTOP) during a tone: from the
//    stop to the last keying (the stall limit and a tick) and from there to the
//    release (the hang);
//  - the time from the server's restart after a SIGKILL (the fixture script
//    started; the server's first answer to pactl) to the first block that the capture opened
//    before the kill receives again.
#include "TestSupport.h"
#include "app/KOTARUnit.h"
#include "audio/bass.h"
#include "support/Application.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <signal.h>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Fine-grained: the figures are read from when it returns.
bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    return PumpUntil(done, limit, std::chrono::microseconds(200));
}

pid_t ServerPid(const QString &dir)
{
    QFile file(dir + "/pulse.pid");
    return file.open(QIODevice::ReadOnly) ? pid_t(file.readAll().trimmed().toInt()) : 0;
}

void Fail(const char *what)
{
    std::fprintf(stderr, "server_figures: %s\n", what);
    std::fflush(nullptr);
    std::_Exit(1);
}

void StallFigures(const QString &dir, int runs)
{
    QTemporaryDir sounds;
    const QString tone = sounds.filePath("tone.wav");
    if (QProcess::execute("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "30", "sine",
                                  "1000", "gain", "-6"})
        != 0)
        Fail("sox failed");
    TemporaryWorkDir work;
    RecordedDialogs dialogs;
    WriteText(work.file("KOTARPlus.INI"),
              "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-port\nGAIN=5\nDELAY=500\nDEVICE=-1\n");
    AwaitSoundServerAnswer();
    TFormPlayer form{QStringList()};
    form.Terminate = [] {};
    // Written on the keying core's thread.
    std::atomic<bool> keyed = false;
    std::atomic<Clock::rep> lastKeyingAt = 0, releaseAt = 0;
    form.Keying->Post([&](TKeyingCore &core) {
        core.OnTxRig = [&](bool on) {
            keyed = on;
            (on ? lastKeyingAt : releaseAt) = Clock::now().time_since_epoch().count();
        };
    });
    const auto at = [](Clock::rep ticks) { return Clock::time_point(Clock::duration(ticks)); };
    std::printf("PTT release after a server stall (DELAY=500: the hang counts 6 ticks of 100 ms; stall limit %lld ms)\n",
                static_cast<long long>(RecordStallLimit.count()));
    std::printf("%-5s %22s %24s %20s\n", "run", "stop to last keying ms", "last keying to release ms",
                "stop to release ms");
    for (int run = 1; run <= runs; ++run) {
        QProcess player;
        player.start("paplay", {"-d", "kotar_sink", tone});
        if (!WaitFor([&] { return keyed.load(); }, std::chrono::seconds(10)))
            Fail("the tone does not key");
        WaitFor([] { return false; }, std::chrono::milliseconds(300));
        const pid_t server = ServerPid(dir);
        const auto stop = Clock::now();
        kill(server, SIGSTOP);
        const bool released = WaitFor([&] { return !keyed.load(); }, std::chrono::seconds(10));
        kill(server, SIGCONT);
        player.kill();
        player.waitForFinished();
        if (!released)
            Fail("PTT not released during the stall");
        const Clock::time_point lastKeying = at(lastKeyingAt), release = at(releaseAt);
        std::printf("%-5d %22.0f %24.0f %20.0f\n", run, Ms(lastKeying - stop), Ms(release - lastKeying),
                    Ms(release - stop));
        WaitFor([&] { return form.CaptureStatus().State == rsRunning && !keyed; }, std::chrono::seconds(5));
        WaitFor([] { return false; }, std::chrono::milliseconds(1000));
    }
    form.close();
}

void RestartFigures(const QString &script, const QString &dir, int runs)
{
    std::atomic<uint64_t> blocks{0};
    const RECORDPROC count = [](HRECORD, const void *, uint32_t, void *user) {
        ++*static_cast<std::atomic<uint64_t> *>(user);
        return true;
    };
    AwaitSoundServerAnswer();
    if (!BASS_RecordInit(-1))
        Fail("no server");
    const HRECORD handle = BASS_RecordStart(44100, 2, 0, count, &blocks);
    if (!handle)
        Fail("no capture");
    std::printf("\nServer killed and started again: the capture opened before receives blocks again\n");
    std::printf("%-5s %26s %26s %26s\n", "run", "start to answer ms", "start to first block ms",
                "script done ms");
    for (int run = 1; run <= runs; ++run) {
        if (!WaitFor([&] { return blocks > 100; }, std::chrono::seconds(5)))
            Fail("no blocks before the kill");
        kill(ServerPid(dir), SIGKILL);
        if (!WaitFor([&] { return RecordState(handle) == rsNoServer; }, std::chrono::seconds(5)))
            Fail("the loss is not seen");
        const uint64_t before = blocks;
        QProcess starter;
        const auto start = Clock::now();
        starter.start(script, {"start", dir});
        Clock::time_point answers{}, ready{};
        // pactl, again and again, finds when the new server first answers.
        QProcess probe;
        const bool back = WaitFor(
            [&] {
                if (answers == Clock::time_point{} && probe.state() == QProcess::NotRunning) {
                    if (probe.program() == "pactl" && probe.exitStatus() == QProcess::NormalExit
                        && probe.exitCode() == 0)
                        answers = Clock::now();
                    else
                        probe.start("pactl", {"info"});
                }
                if (ready == Clock::time_point{} && starter.state() == QProcess::NotRunning)
                    ready = Clock::now();
                return blocks > before;
            },
            std::chrono::seconds(30));
        const auto first = Clock::now();
        starter.waitForFinished();
        if (ready == Clock::time_point{})
            ready = Clock::now();
        if (answers == Clock::time_point{})
            answers = first;
        if (!back)
            Fail("no block after the restart");
        blocks = 0;
        std::printf("%-5d %26.0f %26.0f %26.0f\n", run, Ms(answers - start), Ms(first - start), Ms(ready - start));
    }
    BASS_Free();
}

} // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    if (argc != 3)
        Fail("usage: server_figures PULSE_FIXTURE_SCRIPT DIR");
    StallFigures(argv[2], 5);
    RestartFigures(argv[1], argv[2], 5);
    std::fflush(nullptr);
    std::_Exit(0);
}
