#pragma once
#include "ptt/ComDevice.h"
#include "ptt/PttLines.h"
#include "support/Exception.h"

#include <QObject>
#include <QString>
#include <functional>
#include <initializer_list>
#include <atomic>
#include <memory>
#include <mutex>

enum TBaudRate {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000,
};
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
enum TComSignal { csCTS, csDSR, csRing, csRLSD };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

// The speed of a rate in bits per second; brCustom has none (0).
int BaudRateToInt(TBaudRate rate);

// A set of the members of an enumeration numbered from 0.
template <class E> class TSet {
public:
    TSet() = default;
    TSet(std::initializer_list<E> members)
    {
        for (E member : members)
            Include(member);
    }
    bool Contains(E member) const { return FBits & Bit(member); }
    void Include(E member) { FBits |= Bit(member); }
    void Exclude(E member) { FBits &= ~Bit(member); }
    bool Empty() const { return FBits == 0; }
    bool operator==(const TSet &) const = default;

private:
    static uint32_t Bit(E member) { return 1u << unsigned(member); }
    uint32_t FBits = 0;
};
using TComEvents = TSet<TComEvent>;
using TComSignals = TSet<TComSignal>;

// The device mask bits of a set of line events, and back.
uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);

// A port failure: one of the numbered port errors, with the system error
// number that came with it (-1 when none did).
class EComPort : public Exception {
public:
    EComPort(int code, int systemError);
    // The same failure, the advice on a line of its own after its message.
    EComPort(const EComPort &failure, const QString &advice);
    int Code() const { return FCode; }
    int SystemError() const { return FSystemError; }
    // What the system says and what the user can do; empty when not given.
    const QString &Advice() const { return FAdvice; }

private:
    int FCode;
    int FSystemError;
    QString FAdvice;
};

// The fixed message of a port error code (1 to 24).
QString ComErrorMessage(int code);

class TCustomComPort;

// The settings objects belong to a port and re-apply their group on it when a
// field changes. A copy belongs to no port; assigning one to a port's object
// copies every field and applies the group once.
class TComParity {
public:
    explicit TComParity(TCustomComPort *port = nullptr) : FComPort(port) {}
    TComParity(const TComParity &other);
    TComParity &operator=(const TComParity &other);

    TParityBits Bits() const { return FBits; }
    void SetBits(TParityBits value);
    bool Check() const { return FCheck; }
    void SetCheck(bool value);
    bool Replace() const { return FReplace; }
    void SetReplace(bool value);
    char ReplaceChar() const { return FReplaceChar; }
    void SetReplaceChar(char value);

private:
    TCustomComPort *FComPort;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort *port = nullptr) : FComPort(port) {}
    TComFlowControl(const TComFlowControl &other);
    TComFlowControl &operator=(const TComFlowControl &other);

    bool OutCTSFlow() const { return FOutCTSFlow; }
    void SetOutCTSFlow(bool value);
    bool OutDSRFlow() const { return FOutDSRFlow; }
    void SetOutDSRFlow(bool value);
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    void SetControlDTR(TDTRFlowControl value);
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    void SetControlRTS(TRTSFlowControl value);
    bool XonXoffOut() const { return FXonXoffOut; }
    void SetXonXoffOut(bool value);
    bool XonXoffIn() const { return FXonXoffIn; }
    void SetXonXoffIn(bool value);
    bool DSRSensitivity() const { return FDSRSensitivity; }
    void SetDSRSensitivity(bool value);
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    void SetTxContinueOnXoff(bool value);
    char XonChar() const { return FXonChar; }
    void SetXonChar(char value);
    char XoffChar() const { return FXoffChar; }
    void SetXoffChar(char value);

    // Derived from the RTS control, CTS flow and Xon/Xoff flags; not stored.
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl value);

private:
    template <class T> void Change(T &field, T value);
    void Apply();

    TCustomComPort *FComPort;
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char FXonChar = 17;
    char FXoffChar = 19;
};

class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort *port = nullptr) : FComPort(port) {}
    TComTimeouts(const TComTimeouts &other);
    TComTimeouts &operator=(const TComTimeouts &other);

    int ReadInterval() const { return FReadInterval; }
    void SetReadInterval(int value);
    int ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    void SetReadTotalMultiplier(int value);
    int ReadTotalConstant() const { return FReadTotalConstant; }
    void SetReadTotalConstant(int value);
    int WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    void SetWriteTotalMultiplier(int value);
    int WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetWriteTotalConstant(int value);

private:
    void Change(int &field, int value);

    TCustomComPort *FComPort;
    int FReadInterval = -1;
    int FReadTotalMultiplier = 0;
    int FReadTotalConstant = 0;
    int FWriteTotalMultiplier = 100;
    int FWriteTotalConstant = 1000;
};

class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort *port = nullptr) : FComPort(port) {}
    TComBuffer(const TComBuffer &other);
    TComBuffer &operator=(const TComBuffer &other);

    // A positive odd size is stored one less.
    int InputSize() const { return FInputSize; }
    void SetInputSize(int value);
    int OutputSize() const { return FOutputSize; }
    void SetOutputSize(int value);

private:
    void Change(int &field, int value);

    TCustomComPort *FComPort;
    int FInputSize = 1024;
    int FOutputSize = 1024;
};

class TComThread;
class TComSetupFrm;

// The serial port object. Everything runs on the user-interface thread; the
// line monitor hands its events over to that thread.
class TCustomComPort : public QObject {
public:
    // device: the device layer to use; the POSIX one when empty.
    explicit TCustomComPort(QObject *owner, std::unique_ptr<TComDevice> device = nullptr);
    ~TCustomComPort() override;

    bool Connected() const { return FConnected; }
    // Open, but the device behind it is gone.
    bool DeviceGone() const;
    void SetConnected(bool value);
    const QString &Port() const { return FPort; }
    // Held while the device is used from another thread than the window's.
    std::unique_lock<std::recursive_mutex> LockDevice() const { return std::unique_lock(FDeviceLock); }
    void SetPort(const QString &value);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate value);
    int CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(int value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits value);
    TComParity &Parity() { return FParity; }
    void SetParity(const TComParity &value) { FParity = value; }
    TComFlowControl &FlowControl() { return FFlowControl; }
    void SetFlowControl(const TComFlowControl &value) { FFlowControl = value; }
    TComTimeouts &Timeouts() { return FTimeouts; }
    void SetTimeouts(const TComTimeouts &value) { FTimeouts = value; }
    TComBuffer &Buffer() { return FBuffer; }
    void SetBuffer(const TComBuffer &value) { FBuffer = value; }
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool value);
    char EventChar() const { return FEventChar; }
    void SetEventChar(char value);
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents value) { FEvents = value; }
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod value);
    bool TriggersOnRxChar() const { return FTriggersOnRxChar; }
    void SetTriggersOnRxChar(bool value) { FTriggersOnRxChar = value; }
    // The lines that carry PTT and their polarity. The serial lines rest at
    // their idle levels from the moment the device opens, and return to them
    // whenever the line settings are applied.
    const TPttLines &PttLines() const { return FPttLines; }
    void SetPttLines(const TPttLines &value);

    // Hooks; the program assigns none. The signal hooks get the line states
    // after an open, off before a close, and each change the monitor sees.
    std::function<void(int count)> OnRxChar;
    std::function<void(bool on)> OnCTSChange;
    std::function<void(bool on)> OnDSRChange;
    std::function<void(bool on)> OnRLSDChange;

    virtual void OpenPort();
    virtual void ClosePort();
    // Buffers, line settings and timeouts, each only while open and outside
    // a batch.
    virtual void ApplySettings();
    void BeginSettingsUpdate();
    void EndSettingsUpdate();

    // The setup dialog for this port; OK writes all its choices in one batch,
    // anything else writes nothing. Errors while writing reach the caller.
    // prepare: adds to the dialog before it is shown (the window's Test PTT).
    void OpenSetupDialog(const std::function<void(TComSetupFrm &form)> &prepare = {});
    // Called with the filled dialog right before it is shown modally, so that
    // tests can make choices and close it without a user.
    std::function<void(TComSetupFrm &form)> OnSetupDialogShow;

    void SetDTRLine(bool on);
    void SetRTSLine(bool on);
    TComSignals ReadModemSignals();

    [[noreturn]] void RaisePortError(int code, int systemError);

    // The DCB record the current settings give.
    TDCB LineSettings() const;

private:
    friend class TComParity;
    friend class TComFlowControl;
    friend class TComTimeouts;
    friend class TComBuffer;
    friend class TComThread;

    bool CanApply() const { return FConnected && FUpdateCount == 0; }
    void ApplyBufferSettings();
    void ApplyDCB();
    void ApplyTimeouts();
    // One set of line events, on the user-interface thread.
    void HandleEvents(TComEvents events);
    template <class T> void ChangeLine(T &field, T value);

    std::unique_ptr<TComDevice> FDevice;
    std::atomic<bool> FConnected = false;
    // The device is opened, closed and set up on the window's thread and its
    // lines switched on the keying thread: one at a time.
    mutable std::recursive_mutex FDeviceLock;
    QString FPort = "COM1";
    TBaudRate FBaudRate = br9600;
    int FCustomBaudRate = 9600;
    TDataBits FDataBits = dbEight;
    TStopBits FStopBits = sbOneStopBit;
    TComParity FParity{this};
    TComFlowControl FFlowControl{this};
    TComTimeouts FTimeouts{this};
    TComBuffer FBuffer{this};
    bool FDiscardNull = false;
    char FEventChar = 0;
    TComEvents FEvents{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full};
    TSyncMethod FSyncMethod = smThreadSync;
    bool FTriggersOnRxChar = true;
    TPttLines FPttLines;
    int FUpdateCount = 0;
    // Declared last: stopped before the device goes.
    std::unique_ptr<TComThread> FMonitor;
};

class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};
