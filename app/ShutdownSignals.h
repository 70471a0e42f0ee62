#pragma once

// SIGINT, SIGTERM and SIGHUP end the program as closing its main window does,
// releasing PTT first: a killed session must not leave a transmitter keyed.
// Installed before the window is created, so that they act during its
// start-up too.
void InstallShutdownSignals();
