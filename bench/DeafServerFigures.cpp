// Wall-clock figures with a "deaf" sound server: a socket at PULSE_SERVER that
// takes connections and never answers (made here, no fixture needed):
//  - in-process: the longest time each audio library call of the window's
//    thread took, with the library's connection made and unanswered, and the
//    window's start-up and a device change; Mute clicked until the window's
//    icon shows it;
//  - the built program (argument or KOTAR_PROGRAM, QT_QPA_PLATFORM=offscreen):
//    from its start to the end of its start-up (its last start-up trace line,
//    written just before the window shows), and from SIGTERM to its end.
#include "DeafServer.h"
#include "TestSupport.h"
#include "app/KOTARUnit.h"
#include "audio/bass.h"
#include "support/Application.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <signal.h>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Fail(const char *what)
{
    std::fprintf(stderr, "deaf_server_figures: %s\n", what);
    std::fflush(nullptr);
    std::_Exit(1);
}

// Fine-grained: the figures are read from when it returns.
bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    return PumpUntil(done, limit, std::chrono::microseconds(200));
}

std::map<std::string, double> Longest;
std::vector<double> MuteToIcon;

void Time(const std::string &what, const std::function<void()> &call)
{
    const auto start = Clock::now();
    call();
    Longest[what] = std::max(Longest[what], Ms(Clock::now() - start));
}

void LibraryFigures(int runs)
{
    for (int run = 0; run < runs; ++run) {
        TDeafServer deaf;
        Time("SoundServerState (starts the connection)", [] { SoundServerState(); });
        if (!WaitFor([&] { return deaf.Take(); }, std::chrono::seconds(5)))
            Fail("the library does not connect");
        BASS_DEVICEINFO info;
        Time("BASS_RecordGetDeviceInfo", [&] { BASS_RecordGetDeviceInfo(0, &info); });
        Time("BASS_GetDeviceInfo", [&] { BASS_GetDeviceInfo(0, &info); });
        Time("RecordDeviceCard", [] { RecordDeviceCard(QString()); });
        Time("SoundServerError", [] { SoundServerError(); });
        Time("BASS_SetConfig", [] { BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1); });
        Time("BASS_RecordInit", [] { BASS_RecordInit(-1); });
        HRECORD handle = 0;
        Time("BASS_RecordStart", [&] { handle = BASS_RecordStart(44100, 2, 0, nullptr, nullptr); });
        Time("BASS_ChannelIsActive", [&] { BASS_ChannelIsActive(handle); });
        float frame[513];
        Time("BASS_ChannelGetData", [&] { BASS_ChannelGetData(handle, frame, BASS_DATA_FFT1024); });
        Time("RecordState", [&] { RecordState(handle); });
        Time("BASS_ChannelStop", [&] { BASS_ChannelStop(handle); });
        Time("BASS_RecordFree", [] { BASS_RecordFree(); });
        Time("BASS_Free", [] { BASS_Free(); });
    }
    for (int run = 0; run < runs; ++run) {
        TDeafServer deaf;
        TemporaryWorkDir work;
        RecordedDialogs dialogs;
        WriteText(work.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-port\nDEVICE=0\n");
        std::unique_ptr<TFormPlayer> form;
        Time("window start-up (TFormPlayer)", [&] { form = std::make_unique<TFormPlayer>(QStringList()); });
        form->Terminate = [] {};
        if (!WaitFor([&] { return deaf.Take(); }, std::chrono::seconds(5)))
            Fail("the library does not connect");
        Time("device change (ComboSoundCardChange)", [&] { form->ComboSoundCardEdited(); });
        Time("render tick", [&] { form->TimerRenderTimer(); });
        // Mute on and off: the command goes to the keying core's thread and
        // the window shows its answer.
        for (int click = 0; click < 2; ++click) {
            const qint64 shown = QApplication::windowIcon().cacheKey();
            const auto start = Clock::now();
            form->LEDMuteButtonClick();
            if (!WaitFor([&] { return QApplication::windowIcon().cacheKey() != shown; }, std::chrono::seconds(5)))
                Fail("Mute does not change the icon");
            MuteToIcon.push_back(Ms(Clock::now() - start));
        }
        Time("window close", [&] {
            form->close();
            form.reset();
        });
        BASS_Free();
    }
    std::printf("Deaf server: longest time of each call on the window's thread, %d runs\n", runs);
    for (const auto &[what, ms] : Longest)
        std::printf("  %-42s %8.2f ms\n", what.c_str(), ms);
    std::sort(MuteToIcon.begin(), MuteToIcon.end());
    std::printf("Mute clicked until the window's icon shows it, %zu clicks: min %.2f, median %.2f, max %.2f ms\n",
                MuteToIcon.size(), MuteToIcon.front(), MuteToIcon[MuteToIcon.size() / 2], MuteToIcon.back());
}

void ProgramFigures(const QString &program, int runs)
{
    std::printf("\nThe program with a deaf server (offscreen): start to end of start-up, SIGTERM to end\n");
    std::printf("%-5s %24s %20s\n", "run", "start-up done ms", "SIGTERM to end ms");
    for (int run = 1; run <= runs; ++run) {
        TDeafServer deaf;
        QTemporaryDir work;
        WriteText(work.filePath("KOTARPlus.INI"), "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-port\n");
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("PULSE_SERVER", qEnvironmentVariable("PULSE_SERVER"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(work.path());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const auto start = Clock::now();
        process.start(program, {});
        if (!process.waitForStarted())
            Fail("the program does not start");
        if (!WaitFor(
                [&] {
                    deaf.Take();
                    return TraceMessages(work.filePath("KOTARPlus.Log")).contains("CreateForm: Device(-1) configured");
                },
                std::chrono::seconds(30)))
            Fail("the program's start-up did not end");
        const auto started = Clock::now();
        kill(pid_t(process.processId()), SIGTERM);
        const auto asked = Clock::now();
        if (!process.waitForFinished(30000))
            Fail("the program did not end");
        std::printf("%-5d %24.0f %20.0f\n", run, Ms(started - start), Ms(Clock::now() - asked));
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    const QString program =
        QFileInfo(argc > 1 ? QString::fromLocal8Bit(argv[1]) : qEnvironmentVariable("KOTAR_PROGRAM")).absoluteFilePath();
    LibraryFigures(10);
    if (argc > 1 || qEnvironmentVariableIsSet("KOTAR_PROGRAM"))
        ProgramFigures(program, 5);
    return 0;
}
