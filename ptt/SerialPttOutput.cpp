#include "ptt/SerialPttOutput.h"

#include "ptt/CPort.h"

#include <exception>

TSerialPttOutput::TSerialPttOutput(TComPort *port) : FPort(port) {}

QString TSerialPttOutput::Name() const { return FPort ? FPort->Port() : QString(); }

// A device that is gone holds no line up.
bool TSerialPttOutput::MayBeKeyed() const { return FMayBeKeyed && FPort && FPort->Connected() && !FPort->DeviceGone(); }

void TSerialPttOutput::Switch(bool on)
{
    if (!FPort || !FPort->Connected())
        return;
    if (on) {
        // Counted before the first line moves: DTR may be up when RTS fails.
        FMayBeKeyed = true;
        FPort->SetDTRLine(true);
        FPort->SetRTSLine(true);
        return;
    }
    // Both lines are lowered even when the first refuses.
    std::exception_ptr failure;
    for (auto setLine : {&TComPort::SetDTRLine, &TComPort::SetRTSLine}) {
        try {
            (FPort->*setLine)(false);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
    FMayBeKeyed = false;
}
