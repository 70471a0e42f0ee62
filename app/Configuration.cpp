#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "app/Settings.h"
#include "support/StandardError.h"
#include "support/TrackBar.h"

#include <QDir>
#include <QGroupBox>
#include <QRadioButton>

QString TFormPlayer::ConfigFileFromCommandLine() const { return ConfigFileFromArguments(FArguments, WorkDir); }

void TFormPlayer::ReadConfiguration()
{
    const TSettings settings = ReadSettings(*ConfigFile);
    FPttRead = settings.Ptt;
    // Checking the configured mode records the choice; its handler does not run.
    FApplyingConfiguration = true;
    if (settings.Ptt == "SERIAL")
        PTT_Serial->setChecked(true);
    else if (settings.Ptt == "PRINTER")
        PTT_Printer->setChecked(true);
    else if (settings.Ptt == "NONE")
        PTT_None->setChecked(true);
    else if (settings.Ptt == "CAT") {
        PTT_OmniRig->setChecked(true);
        RigGroupBox->show();
    }
    FApplyingConfiguration = false;

    ComPortName = settings.ComPort;
    ConfigBaudRate = settings.BaudRate;
    TraceOn = settings.TraceOn;
    TraceLog.Enable(TraceOn);
    CurrentDevice = settings.Device;
    DeviceName = DeviceNameRead = settings.DeviceName;
    AttackText = settings.AttackText;
    AttackByBlock = settings.AttackByBlock;
    SquelchTrack->SetPosition(settings.Gain);
    TrackDelay->SetPosition(settings.Delay);
    TxTimeoutText = settings.TxTimeoutText;
    TxTimeout = settings.TxTimeout;
    RelayOutput = settings.RelayOutput;
    RelayLeadText = settings.RelayLeadText;
    RelayLead = settings.RelayLead;
    PttLines = settings.PttLines;
    for (const QString &why : settings.Reports)
        ReportSetting(why);
}

void TFormPlayer::ReportSetting(const QString &why)
{
    TraceLog.Write(1, why);
    WriteStandardError(why);
}

TSettings TFormPlayer::CurrentSettings() const
{
    TSettings settings;
    settings.Ptt = "SERIAL";
    if (PTT_Printer->isChecked())
        settings.Ptt = "PRINTER";
    if (PTT_OmniRig->isChecked())
        settings.Ptt = "CAT";
    if (PTT_None->isChecked())
        settings.Ptt = "NONE";
    if (!FModeKept.isEmpty())
        settings.Ptt = FModeKept;
    settings.ComPort = PTTComPort ? PTTComPort->Port() : ComPortName;
    settings.BaudRate = ConfigBaudRate;
    settings.TraceOn = TraceOn;
    settings.Device = CurrentDevice;
    settings.DeviceName = DeviceName;
    settings.DeviceNameRead = DeviceNameRead;
    settings.Gain = SquelchTrack->Position();
    settings.Delay = TrackDelay->Position();
    settings.AttackByBlock = AttackByBlock;
    settings.AttackText = AttackText;
    settings.TxTimeout = TxTimeout;
    settings.TxTimeoutText = TxTimeoutText;
    settings.RelayOutput = RelayOutput;
    settings.RelayLead = RelayLead;
    settings.RelayLeadText = RelayLeadText;
    settings.PttLines = PTTComPort ? PTTComPort->PttLines() : PttLines;
    return settings;
}

void TFormPlayer::WriteParameterBlock()
{
    TSettings settings = CurrentSettings();
    // No mode checked, or the printer's: as the block names them.
    if (!PTT_Serial->isChecked())
        settings.Ptt = PTT_Printer->isChecked() ? "PRINTER" : "CAT";
    settings.ComPort = ComPortName;
    for (const QString &line : ParameterBlock(settings, ConfigFileName))
        TraceLog.Write(1, line);
}

void TFormPlayer::WriteINI()
{
    if (ConfigFileName.isEmpty())
        ConfigFileName = ConfigFileFromArguments({}, QDir::currentPath());
    ConfigFile = std::make_unique<TIniFile>(ConfigFileName);
    WriteSettings(*ConfigFile, CurrentSettings(), BaudRateToInt(PTTComPort ? PTTComPort->BaudRate() : br4800));
}
