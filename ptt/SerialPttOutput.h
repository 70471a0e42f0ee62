#pragma once
#include "ptt/PttOutput.h"

#include <QPointer>

class TComPort;

// PTT on a serial port's DTR and RTS lines, as the port's PTT lines name
// them, in the order named.
class TSerialPttOutput : public TPttOutput {
public:
    explicit TSerialPttOutput(TComPort *port);

    QString Name() const override;
    // On a port that is not open nothing is switched: a closed device holds
    // no line raised (the kernel drops both when the last descriptor closes).
    void Switch(bool on) override;
    bool MayBeKeyed() const override;
    bool Gone() const override;
    TComPort *Port() const { return FPort; }

private:
    QPointer<TComPort> FPort;
    bool FMayBeKeyed = false;
};
