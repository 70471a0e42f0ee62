#pragma once
#include "support/IniFile.h"
#include "support/Log.h"

#include <QIcon>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>

class QComboBox;
class QGroupBox;
class QLabel;
class QRadioButton;
class QPushButton;
class TTimer;
class TTrackBar;
class TComPort;

// The main window. It owns all application state; its operations are defined in
// the file of their subsystem (start-up and configuration in app/, capture set-up
// in audio/, PTT output in ptt/).
class TFormPlayer : public QWidget {
public:
    // arguments: the command line without the program name.
    explicit TFormPlayer(const QStringList &arguments, QWidget *parent = nullptr);
    ~TFormPlayer() override;

    // --- controls -------------------------------------------------------
    QWidget *PaintFrame = nullptr;
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
    QWidget *VOXLed = nullptr;
    QPushButton *LEDMuteButton = nullptr;
    QPushButton *TuneButton = nullptr;
    TTimer *TimerRender = nullptr;
    TTimer *TimerDelay = nullptr;
    TTimer *TimerBlink = nullptr;

    // --- application state ----------------------------------------------
    int CurrentDevice = -1;
    QString WorkDir;
    QString ConfigFileName;
    std::unique_ptr<TIniFile> ConfigFile;
    QString ComPortName;
    int ConfigBaudRate = 4800;
    bool TraceOn = true;
    TLog TraceLog;
    TComPort *PTTComPort = nullptr;
    uint32_t CaptureChannel = 0;
    bool CaptureSetUp = false;

    // Ends the process at once; tests replace it.
    std::function<void()> Terminate;

    // --- start-up and shutdown ------------------------------------------
    void FormCreate();
    void FormClose();
    void ExitClick();

    // --- configuration --------------------------------------------------
    // The configuration file named by the command line, joined to WorkDir
    // unless it is absolute.
    QString ConfigFileFromCommandLine() const;
    void ReadConfiguration();
    void WriteParameterBlock();
    void WriteINI();

    // --- operations that later subsystems provide ------------------------
    void CreateStateIcons();
    void CreateSpectrum();
    TComPort *SetupSerialPort(const QString &portName);
    void CreateOmniRigClient();
    void ModifySystemMenu();
    void BuildTrayMenu();
    void AddTrayIcon();
    void RemoveTrayIcon();
    void FillAboutDialog();
    void ShowIdleIcon();
    uint32_t SetupBASS(int device);
    QString GetRecordInfo(int device);
    void ComboSoundCardChange();
    // The user typed into the device box: no entry is selected any more.
    void ComboSoundCardEdited();
    void TxRig(bool on);
    void PTT_SerialClick();
    void PTT_OmniRigClick();
    void PTT_NoneClick();

    // Clears all four PTT mode buttons; exclusive buttons refuse to be
    // unchecked one by one.
    void ClearPTTMode();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateControls();

    QStringList FArguments;
};
