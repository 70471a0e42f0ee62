#pragma once
#include "ptt/PttLines.h"
#include "ptt/PttOutput.h"

#include <QPointer>
#include <optional>

class TComPort;

// PTT on a serial port's DTR and RTS lines, as the port's PTT lines name
// them, in the order named. A release puts each line at the port's rest level.
class TSerialPttOutput : public TPttOutput {
public:
    // lines: keyed instead of the port's own (a test of a choice not yet made
    // the port's).
    explicit TSerialPttOutput(TComPort *port, std::optional<TPttLines> lines = std::nullopt);

    QString Name() const override;
    // On a port that is not open nothing is switched: a closed device holds
    // no line raised (the kernel drops both when the last descriptor closes).
    void Switch(bool on) override;
    bool MayBeKeyed() const override;
    bool Gone() const override;
    TComPort *Port() const { return FPort; }

private:
    QPointer<TComPort> FPort;
    std::optional<TPttLines> FLines;
    bool FMayBeKeyed = false;
};
