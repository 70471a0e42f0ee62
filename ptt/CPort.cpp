#include "ptt/CPort.h"

#include "ptt/Cm108Devices.h"

#include "ptt/ComThread.h"

#include <array>
#include <utility>

// --- enumerations and errors ---------------------------------------------

int BaudRateToInt(TBaudRate rate)
{
    static const int speeds[] = {0,     110,   300,   600,   1200,   2400,  4800,   9600,
                                 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return speeds[rate];
}

namespace {
// Device mask bit of each TComEvent, in the enumeration's order.
constexpr std::array<uint32_t, 10> EventBits = {
    EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_RING, EV_BREAK, EV_CTS, EV_DSR, EV_ERR, EV_RLSD, EV_RX80FULL,
};

const char *const ErrorMessages[24] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

QString PortErrorText(int code, int systemError)
{
    QString text = ComErrorMessage(code);
    if (systemError > 0)
        text += QString(" (Error: %1)").arg(systemError);
    return text;
}
} // namespace

uint32_t EventsToMask(TComEvents events)
{
    uint32_t mask = 0;
    for (size_t i = 0; i < EventBits.size(); ++i)
        if (events.Contains(TComEvent(i)))
            mask |= EventBits[i];
    return mask;
}

TComEvents MaskToEvents(uint32_t mask)
{
    TComEvents events;
    for (size_t i = 0; i < EventBits.size(); ++i)
        if (mask & EventBits[i])
            events.Include(TComEvent(i));
    return events;
}

QString ComErrorMessage(int code)
{
    return code >= 1 && code <= 24 ? QString(ErrorMessages[code - 1]) : QString();
}

EComPort::EComPort(int code, int systemError)
    : Exception(PortErrorText(code, systemError)), FCode(code), FSystemError(systemError > 0 ? systemError : -1)
{
}

EComPort::EComPort(const EComPort &failure, const QString &advice)
    : Exception(failure.Message() + '\n' + advice), FCode(failure.FCode), FSystemError(failure.FSystemError),
      FAdvice(advice)
{
}

// --- settings objects ------------------------------------------------------

TComParity::TComParity(const TComParity &other)
    : FComPort(nullptr), FBits(other.FBits), FCheck(other.FCheck), FReplace(other.FReplace),
      FReplaceChar(other.FReplaceChar)
{
}

TComParity &TComParity::operator=(const TComParity &other)
{
    FBits = other.FBits;
    FCheck = other.FCheck;
    FReplace = other.FReplace;
    FReplaceChar = other.FReplaceChar;
    if (FComPort)
        FComPort->ApplyDCB();
    return *this;
}

void TComParity::SetBits(TParityBits value)
{
    if (FComPort)
        FComPort->ChangeLine(FBits, value);
    else
        FBits = value;
}

void TComParity::SetCheck(bool value)
{
    if (FComPort)
        FComPort->ChangeLine(FCheck, value);
    else
        FCheck = value;
}

void TComParity::SetReplace(bool value)
{
    if (FComPort)
        FComPort->ChangeLine(FReplace, value);
    else
        FReplace = value;
}

void TComParity::SetReplaceChar(char value)
{
    if (FComPort)
        FComPort->ChangeLine(FReplaceChar, value);
    else
        FReplaceChar = value;
}

TComFlowControl::TComFlowControl(const TComFlowControl &other) : FComPort(nullptr)
{
    *this = other;
}

TComFlowControl &TComFlowControl::operator=(const TComFlowControl &other)
{
    FOutCTSFlow = other.FOutCTSFlow;
    FOutDSRFlow = other.FOutDSRFlow;
    FControlDTR = other.FControlDTR;
    FControlRTS = other.FControlRTS;
    FXonXoffOut = other.FXonXoffOut;
    FXonXoffIn = other.FXonXoffIn;
    FDSRSensitivity = other.FDSRSensitivity;
    FTxContinueOnXoff = other.FTxContinueOnXoff;
    FXonChar = other.FXonChar;
    FXoffChar = other.FXoffChar;
    Apply();
    return *this;
}

template <class T> void TComFlowControl::Change(T &field, T value)
{
    if (FComPort)
        FComPort->ChangeLine(field, value);
    else
        field = value;
}

void TComFlowControl::Apply()
{
    if (FComPort)
        FComPort->ApplyDCB();
}

void TComFlowControl::SetOutCTSFlow(bool value) { Change(FOutCTSFlow, value); }
void TComFlowControl::SetOutDSRFlow(bool value) { Change(FOutDSRFlow, value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl value) { Change(FControlDTR, value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl value) { Change(FControlRTS, value); }
void TComFlowControl::SetXonXoffOut(bool value) { Change(FXonXoffOut, value); }
void TComFlowControl::SetXonXoffIn(bool value) { Change(FXonXoffIn, value); }
void TComFlowControl::SetDSRSensitivity(bool value) { Change(FDSRSensitivity, value); }
void TComFlowControl::SetTxContinueOnXoff(bool value) { Change(FTxContinueOnXoff, value); }
void TComFlowControl::SetXonChar(char value) { Change(FXonChar, value); }
void TComFlowControl::SetXoffChar(char value) { Change(FXoffChar, value); }

TFlowControl TComFlowControl::FlowControl() const
{
    if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcHardware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut)
        return fcSoftware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value)
{
    if (value != fcCustom) {
        FControlRTS = rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = false;
        FXonXoffOut = false;
    }
    if (value == fcHardware) {
        FControlRTS = rtsHandshake;
        FOutCTSFlow = true;
    } else if (value == fcSoftware) {
        FXonXoffIn = true;
        FXonXoffOut = true;
    }
    Apply();
}

TComTimeouts::TComTimeouts(const TComTimeouts &other)
    : FComPort(nullptr), FReadInterval(other.FReadInterval), FReadTotalMultiplier(other.FReadTotalMultiplier),
      FReadTotalConstant(other.FReadTotalConstant), FWriteTotalMultiplier(other.FWriteTotalMultiplier),
      FWriteTotalConstant(other.FWriteTotalConstant)
{
}

TComTimeouts &TComTimeouts::operator=(const TComTimeouts &other)
{
    FReadInterval = other.FReadInterval;
    FReadTotalMultiplier = other.FReadTotalMultiplier;
    FReadTotalConstant = other.FReadTotalConstant;
    FWriteTotalMultiplier = other.FWriteTotalMultiplier;
    FWriteTotalConstant = other.FWriteTotalConstant;
    if (FComPort)
        FComPort->ApplyTimeouts();
    return *this;
}

void TComTimeouts::Change(int &field, int value)
{
    if (field == value)
        return;
    field = value;
    if (FComPort)
        FComPort->ApplyTimeouts();
}

void TComTimeouts::SetReadInterval(int value) { Change(FReadInterval, value); }
void TComTimeouts::SetReadTotalMultiplier(int value) { Change(FReadTotalMultiplier, value); }
void TComTimeouts::SetReadTotalConstant(int value) { Change(FReadTotalConstant, value); }
void TComTimeouts::SetWriteTotalMultiplier(int value) { Change(FWriteTotalMultiplier, value); }
void TComTimeouts::SetWriteTotalConstant(int value) { Change(FWriteTotalConstant, value); }

TComBuffer::TComBuffer(const TComBuffer &other)
    : FComPort(nullptr), FInputSize(other.FInputSize), FOutputSize(other.FOutputSize)
{
}

TComBuffer &TComBuffer::operator=(const TComBuffer &other)
{
    FInputSize = other.FInputSize;
    FOutputSize = other.FOutputSize;
    if (FComPort)
        FComPort->ApplyBufferSettings();
    return *this;
}

void TComBuffer::Change(int &field, int value)
{
    if (field == value)
        return;
    field = value > 0 && value % 2 == 1 ? value - 1 : value;
    if (FComPort)
        FComPort->ApplyBufferSettings();
}

void TComBuffer::SetInputSize(int value) { Change(FInputSize, value); }
void TComBuffer::SetOutputSize(int value) { Change(FOutputSize, value); }

// --- the port --------------------------------------------------------------

TCustomComPort::TCustomComPort(QObject *owner, std::unique_ptr<TComDevice> device)
    : QObject(owner), FDevice(device ? std::move(device) : std::make_unique<TComDevice>())
{
}

TCustomComPort::~TCustomComPort()
{
    try {
        ClosePort();
    } catch (const EComPort &) {
        // Going away regardless: the monitor and the device are released by
        // their owners below.
    }
}

template <class T> void TCustomComPort::ChangeLine(T &field, T value)
{
    if (field == value)
        return;
    field = value;
    ApplyDCB();
}

void TCustomComPort::SetConnected(bool value)
{
    if (value == FConnected)
        return;
    if (value)
        OpenPort();
    else
        ClosePort();
}

void TCustomComPort::SetPort(const QString &value)
{
    const auto lock = LockDevice();
    if (value == FPort)
        return;
    FPort = value;
    // A CM108 name is a sound card's GPIO, which the GPIO output opens.
    if (FConnected) {
        ClosePort();
        if (!IsCm108PortName(value))
            OpenPort();
    }
}

void TCustomComPort::SetPttLines(const TPttLines &value)
{
    const auto lock = LockDevice();
    if (value == FPttLines)
        return;
    FPttLines = value;
    FDevice->SetIdleLevels(value.IdleHigh(TPttPin::pkDTR), value.IdleHigh(TPttPin::pkRTS));
    ApplyDCB();
}

void TCustomComPort::SetBaudRate(TBaudRate value) { ChangeLine(FBaudRate, value); }
void TCustomComPort::SetCustomBaudRate(int value) { ChangeLine(FCustomBaudRate, value); }
void TCustomComPort::SetDataBits(TDataBits value) { ChangeLine(FDataBits, value); }
void TCustomComPort::SetStopBits(TStopBits value) { ChangeLine(FStopBits, value); }
void TCustomComPort::SetDiscardNull(bool value) { ChangeLine(FDiscardNull, value); }
void TCustomComPort::SetEventChar(char value) { ChangeLine(FEventChar, value); }

void TCustomComPort::SetSyncMethod(TSyncMethod value)
{
    if (FConnected)
        RaisePortError(14, 0);
    FSyncMethod = value;
}

void TCustomComPort::RaisePortError(int code, int systemError)
{
    throw EComPort(code, systemError);
}

void TCustomComPort::OpenPort()
{
    const auto lock = LockDevice();
    if (FConnected)
        return;
    if (const int error = FDevice->Open(FPort))
        RaisePortError(1, error);
    FConnected = true;
    try {
        ApplySettings();
    } catch (const EComPort &) {
        FDevice->Close();
        FConnected = false;
        throw;
    }
    if (!FEvents.Empty()) {
        auto monitor = std::make_unique<TComThread>(*this, FDevice->Handle(), EventsToMask(FEvents),
                                                    uint32_t(FBuffer.InputSize()) * 8 / 10);
        if (const int error = monitor->Start()) {
            FDevice->Close();
            FConnected = false;
            RaisePortError(1, error);
        }
        FMonitor = std::move(monitor);
    }
    if (OnCTSChange || OnDSRChange || OnRLSDChange) {
        const TComSignals lines = ReadModemSignals();
        if (OnCTSChange)
            OnCTSChange(lines.Contains(csCTS));
        if (OnDSRChange)
            OnDSRChange(lines.Contains(csDSR));
        if (OnRLSDChange)
            OnRLSDChange(lines.Contains(csRLSD));
    }
}

bool TCustomComPort::DeviceGone() const
{
    const auto lock = LockDevice();
    return FConnected && FDevice->HungUp();
}

void TCustomComPort::ClosePort()
{
    const auto lock = LockDevice();
    if (!FConnected)
        return;
    if (OnCTSChange)
        OnCTSChange(false);
    if (OnDSRChange)
        OnDSRChange(false);
    if (OnRLSDChange)
        OnRLSDChange(false);
    if (const int error = FDevice->PurgeComm(PURGE_TXABORT | PURGE_RXABORT))
        RaisePortError(5, error);
    FMonitor.reset();
    FDevice->Close();
    FConnected = false;
}

void TCustomComPort::ApplySettings()
{
    ApplyBufferSettings();
    ApplyDCB();
    ApplyTimeouts();
}

void TCustomComPort::ApplyBufferSettings()
{
    if (!CanApply())
        return;
    if (const int error = FDevice->SetupComm(uint32_t(FBuffer.InputSize()), uint32_t(FBuffer.OutputSize())))
        RaisePortError(9, error);
}

void TCustomComPort::ApplyDCB()
{
    const auto lock = LockDevice();
    if (!CanApply())
        return;
    if (const int error = FDevice->SetCommState(LineSettings()))
        RaisePortError(7, error);
}

void TCustomComPort::ApplyTimeouts()
{
    if (!CanApply())
        return;
    TCommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = uint32_t(FTimeouts.ReadInterval());
    timeouts.ReadTotalTimeoutMultiplier = uint32_t(FTimeouts.ReadTotalMultiplier());
    timeouts.ReadTotalTimeoutConstant = uint32_t(FTimeouts.ReadTotalConstant());
    timeouts.WriteTotalTimeoutMultiplier = uint32_t(FTimeouts.WriteTotalMultiplier());
    timeouts.WriteTotalTimeoutConstant = uint32_t(FTimeouts.WriteTotalConstant());
    if (const int error = FDevice->SetCommTimeouts(timeouts))
        RaisePortError(8, error);
}

TDCB TCustomComPort::LineSettings() const
{
    const TComFlowControl &flow = FFlowControl;
    TDCB dcb;
    dcb.BaudRate = uint32_t(FBaudRate == brCustom ? FCustomBaudRate : BaudRateToInt(FBaudRate));
    dcb.Flags = TDCB::fBinary;
    if (FParity.Check())
        dcb.Flags |= TDCB::fParity;
    if (flow.OutCTSFlow())
        dcb.Flags |= TDCB::fOutxCtsFlow;
    if (flow.OutDSRFlow())
        dcb.Flags |= TDCB::fOutxDsrFlow;
    dcb.Flags |= uint32_t(flow.ControlDTR()) << TDCB::DtrControlShift;
    if (flow.DSRSensitivity())
        dcb.Flags |= TDCB::fDsrSensitivity;
    if (flow.TxContinueOnXoff())
        dcb.Flags |= TDCB::fTXContinueOnXoff;
    if (flow.XonXoffOut())
        dcb.Flags |= TDCB::fOutX;
    if (flow.XonXoffIn())
        dcb.Flags |= TDCB::fInX;
    if (FParity.Check() && FParity.Replace())
        dcb.Flags |= TDCB::fErrorChar;
    if (FDiscardNull)
        dcb.Flags |= TDCB::fNull;
    dcb.Flags |= uint32_t(flow.ControlRTS()) << TDCB::RtsControlShift;
    dcb.XonLim = uint16_t(FBuffer.InputSize() / 4);
    dcb.XoffLim = dcb.XonLim;
    dcb.ByteSize = uint8_t(5 + FDataBits);
    dcb.Parity = uint8_t(FParity.Bits());
    dcb.StopBits = uint8_t(FStopBits);
    dcb.XonChar = flow.XonChar();
    dcb.XoffChar = flow.XoffChar();
    dcb.ErrorChar = FParity.ReplaceChar();
    dcb.EvtChar = FEventChar;
    return dcb;
}

void TCustomComPort::BeginSettingsUpdate() { ++FUpdateCount; }

void TCustomComPort::EndSettingsUpdate()
{
    if (FUpdateCount == 0)
        return;
    if (--FUpdateCount == 0)
        ApplySettings();
}

void TCustomComPort::SetDTRLine(bool on)
{
    if (const int error = FDevice->EscapeCommFunction(on ? SETDTR : CLRDTR))
        RaisePortError(12, error);
}

void TCustomComPort::SetRTSLine(bool on)
{
    if (const int error = FDevice->EscapeCommFunction(on ? SETRTS : CLRRTS))
        RaisePortError(12, error);
}

TComSignals TCustomComPort::ReadModemSignals()
{
    uint32_t status = 0;
    if (const int error = FDevice->GetCommModemStatus(status))
        RaisePortError(11, error);
    TComSignals lines;
    if (status & MS_CTS_ON)
        lines.Include(csCTS);
    if (status & MS_DSR_ON)
        lines.Include(csDSR);
    if (status & MS_RING_ON)
        lines.Include(csRing);
    if (status & MS_RLSD_ON)
        lines.Include(csRLSD);
    return lines;
}

void TCustomComPort::HandleEvents(TComEvents events)
{
    if (!FConnected)
        return;
    uint32_t errors = 0, waiting = 0;
    if (events.Contains(evError)) {
        if (const int error = FDevice->ClearCommError(errors, waiting))
            RaisePortError(10, error);
    }
    if (events.Contains(evRxChar)) {
        if (const int error = FDevice->ClearCommError(errors, waiting))
            RaisePortError(10, error);
        if (waiting > 0 && OnRxChar)
            OnRxChar(int(waiting));
    }
    const auto report = [this](TComSignal line, const std::function<void(bool)> &hook) {
        const bool on = ReadModemSignals().Contains(line);
        if (hook)
            hook(on);
    };
    if (events.Contains(evCTS))
        report(csCTS, OnCTSChange);
    if (events.Contains(evDSR))
        report(csDSR, OnDSRChange);
    if (events.Contains(evRLSD))
        report(csRLSD, OnRLSDChange);
}
