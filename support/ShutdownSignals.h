#pragma once

#include <functional>

// SIGINT, SIGTERM and SIGHUP end the program as its own close does, releasing
// PTT first: a killed session must not leave a transmitter keyed. shutdown
// runs on the main thread's event loop. Installed before start-up, so that
// they act during it too.
void InstallShutdownSignals(std::function<void()> shutdown);

// A write to a pipe, FIFO or socket whose reader has gone fails with EPIPE and
// is reported like any other write error, instead of ending the program with
// PTT in whatever state it was. Called first thing in main.
void IgnoreBrokenPipes();
