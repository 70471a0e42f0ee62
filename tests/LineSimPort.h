#pragma once
#include "Pty.h"

#include <QString>
#include <QStringList>

// The device that the preloaded linesim line driver simulates in this test
// process: LINESIM_DEVICE is a link that each TLineSimPort points at a fresh
// pseudo-terminal (one the driver has not seen, so both lines start as a
// driver leaves them), and LINESIM_LOG is the driver's log of line changes.
class TLineSimPort {
public:
    TLineSimPort();

    // The name the port object opens.
    const QString &Device() const { return FDevice; }
    // Changes logged since the last call, as "DTR 1", "RTS 0" and so on.
    QStringList Changes();
    // TIOCM_DTR | TIOCM_RTS as the driver holds them.
    int Lines() const;
    // Lowers DTR from outside, as a line that dropped by itself would.
    void DropDtr();
    // The device goes away while open, as an unplugged adapter does.
    void Unplug();
    // It comes back under the same name, as a fresh device.
    void Replug();

private:
    QString FDevice;
    TPty *FPty;
    QString FLog;
    qsizetype FSeen = 0;
};
