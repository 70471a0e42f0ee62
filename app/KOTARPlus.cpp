#include "app/CommandLine.h"
#include "app/ConfigFolder.h"
#include "app/KOTARUnit.h"
#include "app/ShutdownSignals.h"

#include "support/Application.h"
#include "support/Exception.h"
#include "support/StandardError.h"

#include "station/RemoteClient.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    IgnoreBrokenPipes();
    // Answered before the application exists: no display is needed and no
    // file is made for --help, --version, a mistyped option or a question to
    // the running instance.
    QStringList given;
    for (int i = 1; i < argc; ++i)
        given += QString::fromLocal8Bit(argv[i]);
    const TCommandLine line = ParseCommandLine(given);
    switch (line.Action) {
    case TCommandLine::caHelp:
        std::fputs(UsageText, stdout);
        return 0;
    case TCommandLine::caVersion:
        std::fputs(VersionText, stdout);
        return 0;
    case TCommandLine::caUsageError:
        std::fprintf(stderr, "kotarplus: %s\n%s", line.Error.toLocal8Bit().constData(), UsageText);
        return 2;
    case TCommandLine::caRemote: {
        // Fast enough for a desktop hotkey: a core application, no sound, no settings file.
        QCoreApplication client(argc, argv);
        return RunRemoteCommand(line.Remote, WriteStandardError);
    }
    case TCommandLine::caRun:
        break;
    }
    if (line.ConfigFolder) {
        try {
            EnterConfigFolder();
        } catch (const Exception &error) {
            WriteStandardError(error.Message());
            return 1;
        }
    }

    TApplication app(argc, argv);
    // Lets the desktop match the windows with the menu entry and its icon.
    QGuiApplication::setDesktopFileName("io.github.kotarplus.kotarplus");
    Application::SetTitle("KOTAR Controller with SoundCard");
    InstallShutdownSignals();
    // Qt has taken its own options (-platform, -display, -style ...) out of
    // the arguments; the window reads what is left.
    auto *form = new TFormPlayer(ParseCommandLine(QCoreApplication::arguments().mid(1)).Arguments);
    form->show();
    const int status = app.exec();
    // The window's close handler has done the shutdown work. Qt's own teardown
    // after a capture has run can crash, so the process ends here.
    std::fflush(nullptr);
    std::_Exit(status);
}
