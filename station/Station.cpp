#include "station/Station.h"
#include "support/QueuedCall.h"

#include "audio/BlockAttack.h"
#include "audio/CaptureLevel.h"
#include "audio/Relay.h"
#include "audio/RelayLink.h"
#include "audio/TxSink.h"
#include "core/KeyingThread.h"
#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"
#include "ptt/Cm108PttOutput.h"
#include "ptt/OmniRig_TLB.h"
#include "ptt/PttPortSetup.h"
#include "ptt/SerialPttOutput.h"
#include "station/CoreVox.h"
#include "station/RemoteControl.h"
#include "support/ErrorReport.h"
#include "support/IniFile.h"
#include "support/StandardError.h"

#include <QDir>
#include <QPointer>

namespace {
constexpr int BinStep = 3;
constexpr std::chrono::milliseconds ReleasePatience{2000};

// Captured data reach the keying core only through the FFT request.
bool RecordCallback(HRECORD, const void *, uint32_t, void *) { return true; }
} // namespace

TStation::TStation(const QStringList &arguments, QObject *parent) : QObject(parent)
{
    ErrorReport::SetPresenter([this](const QString &text) { Report(text); });
    QString workDir = QDir::currentPath();
    if (!workDir.endsWith('/'))
        workDir += '/';
    FTraceLog.FileName = workDir + "KOTARPlus" + ".Log";
    FTraceLog.Level = 1;
    FTraceLog.Enable(true);
    FConfigFileName = ConfigFileFromArguments(arguments, workDir);
    const TIniFile file(FConfigFileName);
    FSettings = ReadSettings(file);
    FTraceLog.Enable(FSettings.TraceOn);
    if (file.State() == TIniFile::fsTooLarge)
        FSettings.Reports << "Configuration file too large (" + FConfigFileName + "): not read, defaults in use";
    for (const QString &why : FSettings.Reports) {
        Trace(why);
        WriteStandardError(why);
    }
    for (const QString &line : ParameterBlock(FSettings, FConfigFileName))
        Trace(line);

    FKeying = std::make_unique<TKeyingThread>(TKeyingThread::kmOwnThread);
    FKeying->Connect(&TKeyingCore::Report, this, [this](const QString &text) { Report(text); });
    FKeying->Connect(&TKeyingCore::Trace, this, [this](const QString &line) { Trace(line); });
    FKeying->Connect(&TKeyingCore::OutputLost, this, [this] { OutputLost(); });
    FKeying->Post([settings = TKeyingCore::TSettings{FSettings.Gain, FSettings.Delay, FSettings.TxTimeout}](
                      TKeyingCore &core) { core.Apply(settings); });
    SetupPtt();
    FVox = std::make_unique<TCoreVox>(*FKeying, [this] { return PttTargetText(FOutput); });
    FRemote = std::make_unique<TRemoteControl>(*FVox, QString(), [this](const QString &line) {
        Trace(line);
        WriteStandardError(line);
    });

    SetRecordDeviceNotify([this](const TRecordDeviceEvent &event) { DeviceEvent(event); });
    SetupCapture();
    FKeying->Start();
    Trace("Station running: PTT to " + PttTargetText(FOutput));
}

TStation::~TStation()
{
    Shutdown();
    SetRecordDeviceNotify({});
    ErrorReport::SetPresenter({});
}

void TStation::SetupPtt()
{
    FPort = CreatePttPort(this, FSettings.ComPort, FSettings.PttLines);
    if (FSettings.Ptt == "SERIAL") {
        try {
            OpenSerialOutput();
        } catch (const EComPort &failure) {
            const QString advice = PortFailureAdvice(failure, FSettings.ComPort);
            Trace("COM Port (" + FSettings.ComPort + ") creation failed");
            Report("Defined COM Port not available" + (advice.isEmpty() ? QString() : "\n" + advice));
            KeepPttWhileAbsent();
        }
        Trace("COM Port (" + FPort->Port() + ") created");
    } else if (FSettings.Ptt == "CAT") {
        try {
            ConnectRig();
        } catch (const Exception &failure) {
            Trace("OmniRig error while being created");
            Report("Error while loading OmniRig driver\n" + failure.Message());
            KeepPttWhileAbsent();
        }
    }
    FKeying->Post([output = FOutput](TKeyingCore &core) { core.SelectOutput(output); });
}

void TStation::OpenSerialOutput()
{
    if (IsCm108PortName(FSettings.ComPort)) {
        FOutput = OpenCm108Output(FSettings.ComPort, FSettings.PttLines, "/sys", RecordDeviceCard(FSettings.DeviceName));
    } else {
        FPort->OpenPort();
        FOutput = std::make_shared<TSerialPttOutput>(FPort);
    }
}

void TStation::ConnectRig()
{
    auto rig = std::make_unique<TOmniRigX>(this, FConfigFileName);
    rig->Connect();
    FOutput = rig->Rig1()->Output();
    FRig = rig.release();
}

void TStation::OutputLost()
{
    // The serial device PTT went to has gone: closed, and opened again when
    // its name comes back.
    if (!FPort || !FPort->DeviceGone())
        return;
    if (FPortWatch)
        FPortWatch->deleteLater();
    FPortWatch = new TLostPortWatch(FPort, [] { return true; }, FTraceLog, this);
}

void TStation::StartRelay(const QString &source)
{
    const std::shared_ptr<TPulseServer> server =
        FSettings.RelayOutput.isEmpty() ? nullptr : SoundServerConnection();
    if (!server) {
        FRelay.reset();
        FKeying->Post([](TKeyingCore &core) { core.SetRelay({}); });
        return;
    }
    // The relay and the sink tell from the server's thread; the station's thread writes it.
    // The server's thread is joined before the station goes.
    const auto post = [this](const std::string &text, bool report) {
        QueuedCall::Queue(this, [this, line = QString::fromStdString(text), report] {
            report ? Report(line) : Trace(line);
        });
    };
    const auto fault = [post](const std::string &text) { post(text, true); };
    const auto note = [post](const std::string &text) { post(text, false); };
    if (!FTxSink)
        FTxSink = std::make_unique<TTxSink>(TTxSink::TEvents{fault, note});
    {
        TPulseServer::TLock lock(*server);
        FTxSink->Ensure(*server);
    }
    if (!FRelay || FRelay->Server() != server)
        FRelay = std::make_shared<TRelay>(server, TRelay::TEvents{fault, note});
    Trace("Relay to (" + FSettings.RelayOutput + ") LEAD(" + QString::number(FSettings.RelayLead) + " ms)");
    FRelay->Start(FSettings.RelayOutput.toStdString(), FSettings.RelayLead, source.toStdString());
    FKeying->Post([relay = FRelay](TKeyingCore &core) {
        core.SetRelay(RelayLink(relay));
    });
}

void TStation::SetupCapture()
{
    if (FCaptureSetUp) {
        BASS_ChannelStop(FCapture);
        BASS_Stop();
        BASS_RecordFree();
    }
    FCaptureSetUp = true;
    BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
    // A named source is waited for if it is not there yet.
    if (!FSettings.DeviceName.isEmpty())
        RecordInitSource(FSettings.DeviceName);
    else
        BASS_RecordInit(FSettings.Device);
    // The relay's loop check needs the recorded source's name, as the window
    // gives it: a numbered device's, or none for the default source.
    BASS_DEVICEINFO info;
    const bool numbered = FSettings.DeviceName.isEmpty() && FSettings.Device >= 0
                          && BASS_RecordGetDeviceInfo(uint32_t(FSettings.Device), &info);
    StartRelay(numbered ? info.driver : FSettings.DeviceName);
    RECORDPROC procedure = RecordCallback;
    std::shared_ptr<void> user;
    // A relay keys at the first loud block, whatever ATTACK says.
    if (FSettings.AttackByBlock || FRelay) {
        if (!FAttack)
            FAttack = std::make_shared<TBlockAttack>(FKeying->Core(), BinStep, FSettings.Gain);
        FAttack->SetRelay(FRelay);
        procedure = TBlockAttack::Proc;
        user = FAttack;
    } else if (FAttack) {
        FAttack->SetRelay({}); // the relay is gone with its server
    }
    // Measured at the render tick only: blocks of 20 ms wake the capture
    // thread a quarter as often as the 5 ms ones keying from blocks needs.
    const uint32_t period = procedure == RecordCallback ? 20 : 0;
    FCapture = BASS_RecordStart(44100, 2, period << 16, procedure, user);
    const QString device = FSettings.DeviceName.isEmpty() ? QString::number(FSettings.Device) : FSettings.DeviceName;
    Trace("BASSSetup: Device(" + device + ") " + (FCapture ? "initialized" : "not opened: nothing is captured"));
    FKeying->Post([source = CaptureLevelSource(FCapture, BinStep)](TKeyingCore &core) { core.SetLevelSource(source); });
}

void TStation::DeviceEvent(const TRecordDeviceEvent &event)
{
    switch (event.Kind) {
    case TRecordDeviceEvent::Changed: break;
    case TRecordDeviceEvent::Lost:
        Trace("SoundDevice(" + event.Source + ") gone (" + event.Reason + "): capture stopped");
        break;
    case TRecordDeviceEvent::Resumed: Trace("SoundDevice(" + event.Source + ") back: capture resumed"); break;
    case TRecordDeviceEvent::ServerLost:
        Trace("Sound server connection lost (" + event.Reason + "): reconnecting every second");
        break;
    case TRecordDeviceEvent::ServerAbsent: {
        const QString what = "sound server (" + event.Reason + "): nothing is recorded";
        Trace("No " + what);
        WriteStandardError("no " + what);
        break;
    }
    case TRecordDeviceEvent::Note: Trace(event.Reason); break;
    case TRecordDeviceEvent::ServerReady:
        // The first connection, made after the capture could not start.
        SetupCapture();
        break;
    case TRecordDeviceEvent::ServerBack:
        Trace("Sound server connection back"
              + (event.Source.isEmpty() ? QString() : ": capture opened again on SoundDevice(" + event.Source + ")"));
        // Nothing was captured (a start without a server), or a relay that
        // plays on the connection it was made on: the capture starts afresh.
        if (!FCapture || FRelay)
            SetupCapture();
        break;
    }
}

void TStation::Report(const QString &text)
{
    if (FReported.contains(text))
        return;
    FReported.insert(text);
    for (const QString &line : text.split('\n'))
        Trace(line);
    WriteStandardError(text);
}

void TStation::Shutdown()
{
    if (FShutDown)
        return;
    FShutDown = true;
    // Relayed sound still queued at the output is dropped as PTT falls.
    if (FRelay)
        FRelay->Hush();
    FKeying->Stop(ReleasePatience);
    BASS_Free();
    FCapture = 0;
    // The station changes no setting of its own: the file is read again, so
    // that what the window's program saved to it meanwhile is kept.
    ErrorReport::Guarded([this] {
        TIniFile file(FConfigFileName);
        const TSettings now = ReadSettings(file);
        WriteSettings(file, now, now.BaudRate);
    });
}
