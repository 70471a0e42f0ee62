#include "app/ShutdownSignals.h"

#include "app/KOTARUnit.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int SignalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop does the rest.
void OnSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = write(SignalPipe[1], &byte, 1);
}


// The main window, also while its start-up still runs (a message box of
// start-up runs the event loop); none before it is created.
TFormPlayer *MainWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *form = dynamic_cast<TFormPlayer *>(widget))
            return form;
    return nullptr;
}
} // namespace

void InstallShutdownSignals()
{
    if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char byte;
        while (read(SignalPipe[0], &byte, 1) == 1) {
        }
        if (TFormPlayer *form = MainWindow())
            form->ShutdownBySignal();
        else
            std::_Exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }
