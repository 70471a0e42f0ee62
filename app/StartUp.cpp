#include "app/KOTARUnit.h"

#include "support/Application.h"
#include "support/LEDButton.h"
#include "support/StandardError.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QDir>
#include <QGroupBox>
#include <QRadioButton>

void TFormPlayer::FormCreate()
{
    CaptureSetUp = false;
    CreateStateIcons();
    CurrentDevice = -1;
    RigGroupBox->hide();
    ClearPTTMode();
    TuneButton->SetLEDColor1(clGreen);
    TuneButton->SetLEDColor2(clLime);
    TuneButton->SetLEDOffColor1(clBlack);
    TuneButton->SetLEDOffColor2(clGreen);
    PTT_Printer->setEnabled(false);
    PTT_Printer->setToolTip("Parallel (printer) ports are not supported here: use a serial port, CM108 or OmniRig");

    WorkDir = QDir::currentPath();
    if (!WorkDir.endsWith('/'))
        WorkDir += '/';

    TraceLog.FileName = WorkDir + "KOTARPlus" + ".Log";
    TraceLog.Level = 1;
    TraceLog.Enable(true);

    ConfigFileName = ConfigFileFromCommandLine();
    ConfigFile = std::make_unique<TIniFile>(ConfigFileName);
    ReadConfiguration();
    if (ConfigFile->State() == TIniFile::fsTooLarge) {
        // Defaults are in use and the file will not be replaced: say why.
        const QString why = "Configuration file too large (" + ConfigFileName + "): not read, defaults in use";
        TraceLog.Write(1, why);
        WriteStandardError(why);
    }
    WriteParameterBlock();
    ApplyKeyingSettings();

    CreateSpectrum();
    // Only serial mode keys through this port: holding it open in another mode
    // would take a device that mode may need, and a failure would throw away
    // the configured mode.
    PTTComPort = SetupSerialPort(ComPortName, PTT_Serial->isChecked());
    CreateOmniRigClient();
    KeepModeWhileAbsent();
    WatchForHangUp();
    PublishRemoteControl();
    ModifySystemMenu();
    BuildTrayMenu();
    Application::SetTitle("KOTARPlus");
    QApplication::setWindowIcon(windowIcon());
    AddTrayIcon();
    FillAboutDialog();
    ShowIdleIcon();
    CaptureChannel = SetupBASS(CurrentDevice);
    TraceLog.Write(1, "CreateForm: Device(" + QString::number(CurrentDevice) + ") configured");
    UpdatePttOutput();
    // PTT off, and the core's own render tick.
    Keying->Start();
    TimerRender->SetInterval(33);
    TimerRender->SetEnabled(true);
}
