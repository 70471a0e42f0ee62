#pragma once
#include "app/Settings.h"
#include "audio/bass.h"
#include "core/KeyingThread.h"
#include "ptt/KeyedOutputs.h"
#include "ptt/LostPortWatch.h"
#include "ptt/PttLines.h"
#include "support/IniFile.h"
#include "support/Log.h"

#include <QIcon>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <span>

class QComboBox;
class QMenu;
class QSystemTrayIcon;
class QGroupBox;
class QLabel;
class QRadioButton;
class TTimer;
class TTrackBar;
class TComPort;
class TPaintBox;
class TLed;
class TLEDButton;
class TSpectrum;
class TOmniRigX;
class TAboutDlg;
class EComPort;
class TSerialPttOutput;
class TBlockAttack;
class TRelay;
class TTxSink;
class TCm108PttOutput;
class TDeviceWatch;
class TCoreVox;
class TRemoteControl;

// The status line's text for the core's state and where PTT goes.
QString StatusText(const TKeyingState &state, const QString &target);

// The main window. It owns all application state; its operations are defined in
// the file of their subsystem (start-up and configuration in app/, capture set-up
// in audio/, PTT output in ptt/).
class TFormPlayer : public QWidget {
public:
    // arguments: the command line without the program name.
    explicit TFormPlayer(const QStringList &arguments, QWidget *parent = nullptr);
    ~TFormPlayer() override;

    // --- controls -------------------------------------------------------
    TPaintBox *PaintFrame = nullptr;
    QLabel *Label1 = nullptr;
    TTrackBar *SquelchTrack = nullptr;
    QLabel *Label2 = nullptr;
    TTrackBar *TrackDelay = nullptr;
    QLabel *Label3 = nullptr;
    QComboBox *ComboSoundCard = nullptr;
    QGroupBox *PTTMode = nullptr;
    QRadioButton *PTT_None = nullptr;
    QRadioButton *PTT_Serial = nullptr;
    QRadioButton *PTT_Printer = nullptr;
    QRadioButton *PTT_OmniRig = nullptr;
    QGroupBox *RigGroupBox = nullptr;
    QRadioButton *Rig1RadioButton = nullptr;
    QRadioButton *Rig2RadioButton = nullptr;
    TLed *VOXLed = nullptr;
    TLEDButton *LEDMuteButton = nullptr;
    TLEDButton *TuneButton = nullptr;
    // The strip at the bottom: PTT target, what the VOX does, the level.
    QLabel *StatusLine = nullptr;
    // Draws the spectrum; the keying core keeps its own time.
    TTimer *TimerRender = nullptr;
    TTimer *TimerBlink = nullptr;

    // --- application state ----------------------------------------------
    int CurrentDevice = -1;
    // DEVICENAME: the server's name of the source in use; it finds the source
    // again at start-up after others have come or gone.
    QString DeviceName;
    // DEVICENAME as read: written back only once the user has chosen another
    // device, so that a name this program cannot hold exactly stays as written.
    QString DeviceNameRead;
    // ATTACK=BLOCK: every captured block may key at once, not only the render tick.
    bool AttackByBlock = false;
    QString WorkDir;
    QString ConfigFileName;
    std::unique_ptr<TIniFile> ConfigFile;
    QString ComPortName;
    // The configured PTT lines (key PTTLINES).
    TPttLines PttLines;
    int ConfigBaudRate = 4800;
    bool TraceOn = true;
    // Transmit time-out in seconds; 0: none.
    int TxTimeout = 0;
    // TIMEOUT and ATTACK as the file gives them; written back unchanged while
    // the setting is what they read as.
    QString TxTimeoutText, AttackText;
    // RELAY: the server name of the output the captured sound is relayed to;
    // empty: no relay. LEAD: how many ms PTT leads the relayed sound.
    QString RelayOutput;
    int RelayLead = 60;
    QString RelayLeadText = "60";
    TLog TraceLog;
    TComPort *PTTComPort = nullptr;
    uint32_t CaptureChannel = 0;
    std::unique_ptr<TSpectrum> Spectrum;
    bool CaptureSetUp = false;
    TOmniRigX *OmniRigClient = nullptr; // owned by the window, as are earlier ones
    // The state icons; one whose resource cannot be loaded stays empty.
    QIcon IconIDLE, IconMUTE, IconOFF, IconON, IconTOUT;
    TAboutDlg *AboutDialog = nullptr; // owned by the window
    QMenu *TrayMenu = nullptr;
    QSystemTrayIcon *TrayIcon = nullptr;
    // The program's items of the window menu (the title-bar menu belongs to
    // the window manager here), opened by a right click on the background.
    QMenu *SystemMenu = nullptr;

    // Where sysfs is; tests point it at a tree of their own.
    QString SysfsRoot = "/sys";
    // The sound card being captured from, as its ALSA card number or sysfs
    // path; it pairs the port name "CM108" with that card's GPIO. Empty or
    // unset: the only CM108 device there is.
    std::function<QString()> CapturedSoundCard;

    // The keying engine: its state and decisions, on a thread of its own.
    // Tests that step it themselves have it run on the window's thread.
    static inline TKeyingThread::TMode KeyingMode = TKeyingThread::kmOwnThread;
    std::unique_ptr<TKeyingThread> Keying;
    // What the keying core showed last; the lamps, the delay bar's selection
    // and the icons follow it.
    TKeyingState KeyingState;

    // Ends the program: its event loops stop; tests replace it.
    std::function<void()> Terminate;

    // --- start-up and shutdown ------------------------------------------
    void FormCreate();
    void FormClose();
    void ExitClick();
    // A termination signal closes the window as the user would, with nobody
    // to answer a message box, and ends the process.
    void ShutdownBySignal();

    // --- configuration --------------------------------------------------
    // The configuration file named by the command line, joined to WorkDir
    // unless it is absolute.
    QString ConfigFileFromCommandLine() const;
    void ReadConfiguration();
    // The settings as the window has them now, for the file.
    TSettings CurrentSettings() const;
    // A setting the program cannot use as written: trace line and standard error.
    void ReportSetting(const QString &why);
    void WriteParameterBlock();
    void WriteINI();

    // --- keying engine: commands to the core, and its view -----------------
    void TimerRenderTimer();
    void TimerDelayTimer();
    void TimerBlinkTimer();
    void LEDMuteButtonClick();
    void TuneButtonClick();
    void TimerTimeoutTimer();
    // The core's state shown: lamps, delay bar, level, icons.
    void ShowKeyingState(const TKeyingState &state);
    // The sliders' tooltips: their values and what they mean now.
    QString SquelchTip();
    QString DelayTip();

    // --- state icons, tray and menus (app/) -------------------------------
    void CreateStateIcons();
    void ShowIdleIcon();
    // Application, window and tray icon become the given state icon, or ON
    // while a release is owed.
    void ChangeStateIcon(const QIcon &icon);
    // VOXLed lit or dark as the engine has it, lit while a release is owed.
    void SetVoxLed(bool on);
    void ModifySystemMenu();
    void BuildTrayMenu();
    void AddTrayIcon();
    void RemoveTrayIcon();
    // A mouse event on the tray icon; only the right button's press acts.
    void HandleTrayMessage(int reason);
    void HandleSystemCommand(int command);
    // The serial port setup dialog on PTTComPort, then the configuration.
    void CommSettingsButtonClick();
    // The rig-control settings; without a client, the dialog for the daemons' addresses.
    void DialogVisible();
    // The Options dialog for the settings beyond the window's controls.
    void OptionsClick();
    void FillAboutDialog();
    void AboutClick();
    // The window menu's About: the same action as the tray menu's.
    void About();

    // --- capture and spectrum (audio/) ------------------------------------
    // Opens `device`; at start-up (and with `configured`) the configured one:
    // the source DEVICENAME names wherever it is listed, else `device`.
    uint32_t SetupBASS(int device, bool configured = false);
    QString GetRecordInfo(int device);
    void ComboSoundCardChange();
    // The sound card being captured from (the configured one before capture
    // starts), as the server names it: sysfs path or ALSA card number.
    QString CaptureSoundCard();
    // The user typed into the device box: no entry is selected any more.
    void ComboSoundCardEdited();
    // What the sound server tells of its recording devices: the box follows
    // the list; the capture's source going and coming back is traced.
    void RecordDeviceChange(const TRecordDeviceEvent &event);
    // New entries for the box, each a device's name with its server name;
    // none selected, the edit text kept.
    // Lists the recording devices into the box, tracing each when asked;
    // returns their server names.
    QStringList ListRecordDevices(bool trace);
    void FillSoundCardBox(const QStringList &names, const QStringList &sources);
    // The record callback of the set-up and its user value, which the
    // capture holds while it may call back.
    RECORDPROC RecordProcedure(std::shared_ptr<void> *user);
    // No block has come from the capture for RecordStallLimit: it counts as
    // silence. The trace names the device when it stops and starts delivering.
    bool CaptureStalled();
    // What the capture is doing, for the window to show: its state and its
    // source's server name (the configured one while it is waited for).
    struct TCaptureStatus {
        TRecordState State;
        QString Device;
    };
    TCaptureStatus CaptureStatus() const;
    void CreateSpectrum();
    // With RELAY: the virtual output "KOTARPlus TX" for programs, loaded when
    // missing; before the recording devices are listed.
    void EnsureTxSink();
    // At the program's end, before PTT falls: the relay's output falls silent
    // at once.
    void HushRelay();
    // Starts (or ends, without RELAY) the relay for a capture from `source`
    // (a server name; empty: the default source); before the capture starts.
    void StartRelay(const QString &source);
    // Draws one FFT frame (513 values, 512 magnitudes) on PaintFrame.
    void DrawSpectrum(std::span<const float> frame);
    // Why nothing is captured, as one short line in the spectrum area in the
    // spectrum's colours; the empty text shows none. It stays until replaced,
    // cleared, or the render tick draws a frame of captured data. A state that
    // holds while the capture runs (no data arriving) is set again by the tick.
    void ShowCaptureState(const QString &text);

    // --- PTT outputs (ptt/) -------------------------------------------------
    void TxRig(bool on);
    void TimerReleaseTimer();
    // Program end: every output that may be keyed is released, and releases
    // in progress are given up to patience to get through.
    static constexpr std::chrono::milliseconds ReleasePatience{2000};
    void PTT_SerialClick();
    void PTT_OmniRigClick();
    void PTT_NoneClick();
    void SetRig1();
    void SetRig2();
    // Creates a PTT port object owned by the window; opens it unless told not
    // to. A CM108 port name opens the sound card's GPIO instead; the port
    // object then only holds the settings.
    TComPort *SetupSerialPort(const QString &portName, bool open = true);
    // Start-up step: OmniRigClient from SetupOmniRig when OmniRig mode is set.
    void CreateOmniRigClient();
    TOmniRigX *SetupOmniRig();

    // Clears all four PTT mode buttons; exclusive buttons refuse to be
    // unchecked one by one.
    void ClearPTTMode();

private:
    // Where PTT goes in the selected mode; none for a mode without output.
    std::shared_ptr<TPttOutput> SelectedOutput();
    // Hands the selected output to the keying core, which releases the one left.
    void UpdatePttOutput();
    // Whether a release is owed: the lamp and the icons show ON over the
    // engine's own state while it is.
    void ShowReleaseOwed(bool owed);
    // The measured level of the capture, for the keying core.
    void UpdateLevelSource(HRECORD handle);
    void CreateKeying();
    // The squelch, delay and time-out go to the keying core as one value, on
    // every change of any of them.
    void ApplyKeyingSettings();
    // A device missing at start-up: the configured mode is kept for the file
    // and taken up again once the device is there.
    void KeepModeWhileAbsent();
    bool TakeKeptPort();
    void TakeKeptRig();
    void RestoreKeptMode(QRadioButton *mode);
    void DropKeptMode();
    // Notices a serial port that hangs up while idle.
    void WatchForHangUp();
    // PTT as the file gave it, and the mode kept while its device is missing.
    QString FPttRead, FModeKept;
    QObject *FKeptWatch = nullptr; // owned by the window
    void CreateStatusLine();
    // The running VOX on the session bus.
    void PublishRemoteControl();
    std::unique_ptr<TCoreVox> FVox;
    std::unique_ptr<TRemoteControl> FRemote;
    // The output PTT goes to, as handed to the core last.
    std::shared_ptr<TPttOutput> FPttTarget;
    // The serial device PTT went to has gone: it is closed and watched.
    void SerialDeviceLost();
    QPointer<TLostPortWatch> FLostPortWatch; // owned by the window
    std::shared_ptr<TSerialPttOutput> FSerialOutput;
    // The GPIO output of the current port when its name is a CM108 one and it
    // opened; none otherwise.
    std::shared_ptr<TCm108PttOutput> FCm108Output;
    void ReportPortFailure(const EComPort &failure);
    // A new port object for ComPortName in place of the current one.
    void ReopenPttPort();
    // The state the engine shows; what is shown differs while a release is
    // owed.
    QIcon FStateIcon;
    bool FVoxLedOn = false;
    bool FReleaseOwed = false;

protected:
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void CreateControls();
    void ConnectHandlers();
    bool FApplyingConfiguration = false;
    QString FCaptureState;
    std::shared_ptr<TBlockAttack> FBlockAttack;
    bool FCaptureStalled = false;
    std::shared_ptr<TRelay> FRelay;
    // Made at the first EnsureTxSink: a name clash is reported once per run.
    std::shared_ptr<TTxSink> FTxSink;

    QStringList FArguments;
};
