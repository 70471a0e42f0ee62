#pragma once
#include "app/Settings.h"
#include "audio/bass.h"
#include "ptt/LostPortWatch.h"
#include "support/Log.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <memory>

class TBlockAttack;
class TComPort;
class TCoreVox;
class TKeyingThread;
class TOmniRigX;
class TPttOutput;
class TRelay;
class TRemoteControl;
class TTxSink;

// The VOX without a window: the same configuration file, capture, keying, PTT
// outputs, relay and trace log as the window's program. What the window would
// show in a message box goes to the standard error and the trace, once per
// cause.
class TStation : public QObject {
public:
    // arguments: the command line without the program name and the options
    // the program entry took.
    explicit TStation(const QStringList &arguments, QObject *parent = nullptr);
    ~TStation() override;

    // Program end: PTT released, the capture stopped, the configuration written.
    void Shutdown();

private:
    void SetupPtt();
    // PTT's output as configured; throw EComPort and Exception.
    void OpenSerialOutput();
    void ConnectRig();
    // A device missing at start is waited for, and taken when it is there.
    void KeepPttWhileAbsent();
    bool TakeKeptPort();
    void TakeKeptRig();
    void TookKeptOutput();
    void SetupCapture();
    // Starts (or ends, without RELAY) the relay for a capture from `source`
    // (a server name; empty: the default source).
    void StartRelay(const QString &source);
    void DeviceEvent(const TRecordDeviceEvent &event);
    void OutputLost();
    void Report(const QString &text);
    void Trace(const QString &line) { FTraceLog.Write(1, line); }

    QString FConfigFileName;
    TLog FTraceLog;
    TSettings FSettings;
    QSet<QString> FReported;
    std::unique_ptr<TKeyingThread> FKeying;
    TComPort *FPort = nullptr;
    TOmniRigX *FRig = nullptr;
    std::shared_ptr<TPttOutput> FOutput;
    QPointer<TLostPortWatch> FPortWatch;
    QPointer<QObject> FKeptWatch;  // the device watch or the rig daemon probe
    bool FCaptureSetUp = false;
    HRECORD FCapture = 0;
    std::shared_ptr<TRelay> FRelay;
    std::unique_ptr<TTxSink> FTxSink;
    std::shared_ptr<TBlockAttack> FAttack;
    std::unique_ptr<TCoreVox> FVox;
    std::unique_ptr<TRemoteControl> FRemote;
    bool FShutDown = false;
};
