#include "app/CommandLine.h"
#include "app/ProgramEntry.h"
#include "station/Station.h"
#include "support/ShutdownSignals.h"

#include <QCoreApplication>

// The station without a window: the same VOX as kotarplus, for machines with
// no display, run by hand or as a user service.
int main(int argc, char *argv[])
{
    IgnoreBrokenPipes();
    QStringList given;
    for (int i = 1; i < argc; ++i)
        given += QString::fromLocal8Bit(argv[i]);
    const TCommandLine line = ParseCommandLine(given);
    if (const std::optional<int> status = AnswerCommandLine(line))
        return *status;

    // Qt's own event dispatcher rather than GLib's: less work in each of the
    // keying thread's 30 wakeups a second, and nothing here needs GLib's loop.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    TStation *station = nullptr;
    // Delivered through the event loop, which runs once the station has started.
    InstallShutdownSignals([&station] {
        if (station)
            station->Shutdown();
        QCoreApplication::exit(0);
    });
    TStation running(line.Arguments);
    station = &running;
    const int status = app.exec();
    station = nullptr;
    return status;
}
