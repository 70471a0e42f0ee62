#pragma once

class TFormPlayer;

// SIGINT, SIGTERM and SIGHUP end the program as closing its window does,
// releasing PTT first: a killed session must not leave a transmitter keyed.
void InstallShutdownSignals(TFormPlayer *form);
