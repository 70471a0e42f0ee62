#pragma once

// SIGINT, SIGTERM and SIGHUP end the program as closing its main window does,
// releasing PTT first: a killed session must not leave a transmitter keyed.
// Installed before the window is created, so that they act during its
// start-up too.
void InstallShutdownSignals();

// A write to a pipe, FIFO or socket whose reader has gone fails with EPIPE and
// is reported like any other write error, instead of ending the program with
// PTT in whatever state it was. Called first thing in main.
void IgnoreBrokenPipes();
