#include "app/KOTARUnit.h"
#include "app/ShutdownSignals.h"

#include "support/Application.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);
    Application::SetTitle("KOTAR Controller with SoundCard");
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    InstallShutdownSignals();
    auto *form = new TFormPlayer(arguments);
    form->show();
    const int status = app.exec();
    // The window's close handler has done the shutdown work. Qt's own teardown
    // after a capture has run can crash, so the process ends here.
    std::fflush(nullptr);
    std::_Exit(status);
}
