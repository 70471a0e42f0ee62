#include "app/CommandLine.h"
#include "app/ConfigFolder.h"
#include "app/KOTARUnit.h"
#include "app/ShutdownSignals.h"

#include "support/Application.h"
#include "support/Exception.h"
#include "support/StandardError.h"

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    IgnoreBrokenPipes();
    // Answered before the application exists: no display is needed and no
    // file is made for --help, --version or a mistyped option.
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
    case TCommandLine::caUnknownOption:
        std::fprintf(stderr, "kotarplus: unknown option %s\n%s", line.Unknown.toLocal8Bit().constData(), UsageText);
        return 2;
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
    // The sound server is connected in the background meanwhile, so that the
    // window's set-up usually finds its devices listed.
    SoundServerState();
    // Qt has taken its own options (-platform, -display, -style ...) out of
    // the arguments; the window reads what is left.
    auto form = std::make_unique<TFormPlayer>(ParseCommandLine(QCoreApplication::arguments().mid(1)).Arguments);
    form->show();
    const int status = app.exec();
    // The window's close handler has done the shutdown work; the window goes
    // (and the audio library's thread with it) before the application does.
    form.reset();
    return status;
}
