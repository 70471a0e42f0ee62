// PTT release when the sound server dies while the transmitter is keyed and a
// deaf server takes its place (a socket at the same path that takes
// connections and never answers), for the built programs (run by
// bench/server-figures.sh with a private server of scripts/pulse-fixture.sh):
// from the SIGKILL to DTR lowered in linesim's log, both on CLOCK_MONOTONIC.
// The hang is 2.1 s (DELAY=2000).
//
//   server_death_figures PULSE_FIXTURE_SCRIPT DIR LINESIM PROGRAM...
#include "DeafServer.h"
#include "ProgramRun.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

constexpr int Runs = 6;
constexpr double Hang = 2.1;

bool Keyed(const TProgramRun &run)
{
    const std::vector<TLineChange> lines = run.Lines();
    return !lines.empty() && lines.back().on;
}

// Seconds from the server's SIGKILL to DTR lowered.
double KillToRelease(const QString &program, const QString &script, const QString &dir, const QString &tone)
{
    TProgramRun run;
    run.Program = program;
    run.WriteIni(QString("[SETTINGS]\nPTT=SERIAL\nCOMPORT=%1\nGAIN=5\nDELAY=2000\nTRACE=YES\n").arg(run.PortPath()));
    QProcess player;
    player.start("paplay", {"-d", "kotar_sink", tone});
    run.Start();
    if (!WaitFor([&] { return Keyed(run); }, 10000))
        throw std::runtime_error("the tone does not key");
    WaitFor([] { return false; }, 500);
    QFile pidFile(dir + "/pulse.pid");
    if (!pidFile.open(QIODevice::ReadOnly))
        throw std::runtime_error("no server");
    const pid_t server = pid_t(pidFile.readAll().trimmed().toInt());
    const double killed = MonotonicNow();
    kill(server, SIGKILL);
    double released = 0;
    bool connected = false;
    {
        TDeafServer deaf(dir + "/runtime/native");
        WaitFor(
            [&] {
                connected = deaf.Take();
                for (const TLineChange &change : run.Lines())
                    if (change.line == "DTR" && !change.on && change.time > killed)
                        released = change.time;
                return released > 0;
            },
            15000);
        // A while longer: the program's attempts to reach the deaf server.
        WaitFor([&] { return (connected = deaf.Take()); }, 3000);
        player.kill();
        player.waitForFinished();
        run.Terminate();
    }
    QFile::remove(dir + "/pulse.pid");
    if (QProcess::execute(script, {"start", dir}) != 0)
        throw std::runtime_error("the server did not start again");
    if (released == 0)
        throw std::runtime_error("PTT not released within 15 s");
    if (!connected)
        std::fprintf(stderr, "note: the program did not reach the deaf server\n");
    return released - killed;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s PULSE_FIXTURE_SCRIPT DIR LINESIM PROGRAM...\n", argv[0]);
        return 2;
    }
    const QString script = argv[1], dir = argv[2];
    qputenv("KOTAR_LINESIM", argv[3]);
    QTemporaryDir sounds;
    const QString tone = sounds.filePath("tone.wav");
    if (QProcess::execute("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "60", "sine",
                                  "1000", "gain", "-6"})
        != 0)
        return 1;
    std::printf("| server SIGKILLed while keyed, a deaf server in its place; DELAY=2000 (hang %.1f s) | runs | min | "
                "median | max |\n|---|---|---|---|---|\n",
                Hang);
    for (int i = 4; i < argc; ++i) {
        const QString program = argv[i];
        std::vector<double> times;
        for (int r = 0; r < Runs; ++r) {
            times.push_back(KillToRelease(program, script, dir, tone));
            std::fprintf(stderr, "%s run %d: %.3f s\n", qPrintable(QFileInfo(program).fileName()), r + 1, times.back());
        }
        std::sort(times.begin(), times.end());
        std::printf("| %s: kill to DTR lowered | %d | %.3f s | %.3f s | %.3f s |\n",
                    qPrintable(QFileInfo(program).fileName()), Runs, times.front(),
                    (times[(Runs - 1) / 2] + times[Runs / 2]) / 2, times.back());
        std::fflush(stdout);
    }
    return 0;
}
