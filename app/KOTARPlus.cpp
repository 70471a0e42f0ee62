#include "app/CommandLine.h"
#include "app/KOTARUnit.h"
#include "app/ProgramEntry.h"

#include "support/Application.h"
#include "support/ShutdownSignals.h"

#include <memory>

int main(int argc, char *argv[])
{
    IgnoreBrokenPipes();
    // Answered before the application exists: no display is needed and no
    // file is made for --help, --version, a mistyped option or a question to
    // the running instance.
    QStringList given;
    for (int i = 1; i < argc; ++i)
        given += QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> status = AnswerCommandLine(ParseCommandLine(given)))
        return *status;

    TApplication app(argc, argv);
    // Lets the desktop match the windows with the menu entry and its icon.
    QGuiApplication::setDesktopFileName("io.github.kotarplus.kotarplus");
    Application::SetTitle("KOTAR Controller with SoundCard");
    InstallShutdownSignals([] {
        // The window, also while its start-up still runs (a message box of
        // start-up runs the event loop); none before it is created.
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *form = dynamic_cast<TFormPlayer *>(widget)) {
                form->ShutdownBySignal();
                return;
            }
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
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
