#include "ptt/SerialPttOutput.h"

#include "ptt/CPort.h"
#include "ptt/PttAdvice.h"

#include <exception>
#include <vector>

TSerialPttOutput::TSerialPttOutput(TComPort *port, std::optional<TPttLines> lines) : FPort(port), FLines(std::move(lines))
{
}

QString TSerialPttOutput::Name() const { return FPort ? FPort->Port() : QString(); }

// A device that is gone holds no line up.
bool TSerialPttOutput::MayBeKeyed() const { return FMayBeKeyed && FPort && FPort->Connected() && !FPort->DeviceGone(); }

bool TSerialPttOutput::Gone() const { return FPort && FPort->DeviceGone(); }

void TSerialPttOutput::Switch(bool on)
{
    if (!FPort)
        return;
    const auto lock = FPort->LockDevice();
    if (!FPort->Connected())
        return;
    const auto setLine = [this](const TPttPin &pin, bool on) {
        // At rest as the port has it, also when other lines were keyed.
        const bool level = on ? pin.Level(true) : FPort->PttLines().IdleHigh(pin.Kind);
        try {
            pin.Kind == TPttPin::pkDTR ? FPort->SetDTRLine(level) : FPort->SetRTSLine(level);
        } catch (const EComPort &failure) {
            throw EComPort(failure, PttFailureAdvice(failure.SystemError(), FPort->Port(), TComDevice::DevicePath(FPort->Port()), true));
        }
    };
    const std::vector<TPttPin> pins = FLines.value_or(FPort->PttLines()).SerialPins();
    if (on) {
        // A line that could not be set did not move: a release is owed from
        // the first line that did, also when the next one fails.
        for (const TPttPin &pin : pins) {
            setLine(pin, true);
            FMayBeKeyed = true;
        }
        return;
    }
    // Every line is released even when the first refuses.
    std::exception_ptr failure;
    for (const TPttPin &pin : pins) {
        try {
            setLine(pin, false);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
    FMayBeKeyed = false;
}
