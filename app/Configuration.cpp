#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"
#include "ptt/PttAdvice.h"
#include "support/HexStr.h"
#include "support/StandardError.h"
#include "support/TrackBar.h"

#include <QDir>
#include <algorithm>
#include <QGroupBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <climits>
#include <cmath>
#include <optional>

namespace {
const QString Section = "SETTINGS";

// An integer from a key that passed the character filter; texts such as "1.5"
// or a lone "-" pass it but are no whole number and take the default. A whole
// number beyond 32 bits is limited like any other, so it stops at the limit.
int ToInt(const QString &text, int defaultValue)
{
    static const QRegularExpression wholeNumber(R"(^\s*([+-]?)[0-9]+\s*$)");
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (ok)
        return int(std::clamp<qlonglong>(value, INT_MIN, INT_MAX));
    const QRegularExpressionMatch match = wholeNumber.match(text);
    if (!match.hasMatch())
        return defaultValue;
    return match.captured(1) == "-" ? INT_MIN : INT_MAX;
}

int NumericKey(const TIniFile &file, const QString &key, int defaultValue)
{
    const QString text = file.ReadString(Section, key, QString::number(defaultValue));
    return IsNumeric(text) ? ToInt(text, defaultValue) : defaultValue;
}

// Windows port names (COMn) are case-insensitive and read upper-cased; device
// names here are case-sensitive and kept as written.
QString PortName(const QString &text) { return IsWindowsPortName(text) ? UpperText(text) : text; }

// The configuration knows five speeds; any other is stored as the one the PTT
// port opens with.
QString BaudRateText(TBaudRate rate)
{
    switch (rate) {
    case br1200:
    case br2400:
    case br9600:
    case br19200: return QString::number(BaudRateToInt(rate));
    default: return "4800";
    }
}

// The form the program writes an integer in.
bool IsWholeNumber(const QString &text)
{
    static const QRegularExpression wholeNumber("^-?[0-9]+$");
    return wholeNumber.match(text).hasMatch();
}

// TIMEOUT in whole seconds. A number of another form (2.5, +3) is a limit all
// the same, never a shorter one than written. Beyond a day the limit means
// nothing; below 0 there is none. None for what is no number.
std::optional<int> TimeoutSeconds(const QString &text)
{
    constexpr int MaxTimeout = 86400;
    if (text.isEmpty())
        return 0;
    if (IsWholeNumber(text))
        return std::clamp(ToInt(text, 0), 0, MaxTimeout);
    bool number = false;
    const double seconds = text.toDouble(&number);
    if (!number || !std::isfinite(seconds))
        return std::nullopt;
    return int(std::clamp(std::ceil(seconds), 0.0, double(MaxTimeout)));
}

// A setting's text as the file gives it while the setting is still what that
// text reads as; the program's own form once it changed.
QString AsWritten(const QString &written, bool unchanged, const QString &own)
{
    return unchanged && !written.isEmpty() ? written : own;
}

QString DefaultConfigFileName(QString dir)
{
    if (!dir.endsWith('/'))
        dir += '/';
    return dir + "KOTARPlus" + ".INI";
}
} // namespace

QString TFormPlayer::ConfigFileFromCommandLine() const
{
    QString name;
    if (!FArguments.isEmpty() && UpperText(FArguments[0]) == "-F")
        name = FArguments.value(1);
    if (name.isEmpty())
        return DefaultConfigFileName(WorkDir);
    return QDir::isAbsolutePath(name) ? name : WorkDir + name;
}

void TFormPlayer::ReadConfiguration()
{
    // Checking the configured mode records the choice; its handler does not run.
    FApplyingConfiguration = true;
    const QString ptt = UpperText(ConfigFile->ReadString(Section, "PTT", "SERIAL"));
    if (ptt == "SERIAL")
        PTT_Serial->setChecked(true);
    else if (ptt == "PRINTER")
        PTT_Printer->setChecked(true);
    else if (ptt == "NONE")
        PTT_None->setChecked(true);
    else if (ptt == "CAT") {
        PTT_OmniRig->setChecked(true);
        RigGroupBox->show();
    }
    FApplyingConfiguration = false;

    ComPortName = PortName(ConfigFile->ReadString(Section, "COMPORT", "COM1"));
    ConfigBaudRate = NumericKey(*ConfigFile, "BAUDRATE", 4800);
    TraceOn = TextToBool(ConfigFile->ReadString(Section, "TRACE", "YES"));
    TraceLog.Enable(TraceOn);
    CurrentDevice = ToInt(ConfigFile->ReadString(Section, "DEVICE", "-1"), -1);
    DeviceName = DeviceNameRead = ConfigFile->ReadString(Section, "DEVICENAME", "");
    ReadAttack();
    SquelchTrack->SetPosition(NumericKey(*ConfigFile, "GAIN", 10));
    TrackDelay->SetPosition(NumericKey(*ConfigFile, "DELAY", 0));
    ReadTimeout();
    RelayOutput = ConfigFile->ReadString(Section, "RELAY", "");
    RelayLead = std::clamp(NumericKey(*ConfigFile, "LEAD", 60), 0, 1000);
    const QString lines = ConfigFile->ReadString(Section, "PTTLINES", TPttLines::DefaultText());
    const auto parsed = TPttLines::Parse(lines);
    PttLines = parsed.value_or(TPttLines());
    if (!parsed) {
        ReportSetting("Unknown PTTLINES value (" + lines + "): " + PttLines.Text() + " in use");
    } else if (lines.contains("GPIO", Qt::CaseInsensitive) != IsCm108PortName(ComPortName)) {
        // The port keys the lines it has: a CM108 its GPIO3, a serial port DTR and RTS.
        ReportSetting("PTTLINES value (" + lines + ") names a line that port " + ComPortName + " does not have: "
                      + (IsCm108PortName(ComPortName) ? QString("GPIO3") : TPttLines().Text()) + " in use");
    }
}

void TFormPlayer::ReportSetting(const QString &why)
{
    TraceLog.Write(1, why);
    WriteStandardError(why);
}

void TFormPlayer::ReadAttack()
{
    AttackText = ConfigFile->ReadString(Section, "ATTACK", "TICK");
    const QString attack = UpperText(AttackText);
    AttackByBlock = attack == "BLOCK";
    if (attack != "BLOCK" && attack != "TICK" && !attack.isEmpty())
        ReportSetting("Unknown ATTACK value (" + AttackText + "): TICK in use");
}

void TFormPlayer::ReadTimeout()
{
    TxTimeoutText = ConfigFile->ReadString(Section, "TIMEOUT", "0");
    const std::optional<int> seconds = TimeoutSeconds(TxTimeoutText);
    TxTimeout = seconds.value_or(0);
    if (TxTimeoutText.isEmpty() || IsWholeNumber(TxTimeoutText))
        return;
    if (seconds)
        ReportSetting("TIMEOUT value (" + TxTimeoutText + ") is not a plain whole number of seconds: "
                      + QString::number(TxTimeout) + " in use");
    else
        ReportSetting("Unknown TIMEOUT value (" + TxTimeoutText + "): no time-out in use");
}

void TFormPlayer::WriteParameterBlock()
{
    QString cat = "CAT=OMNIRIG";
    if (PTT_Serial->isChecked())
        cat = "CAT=SERIAL(" + ComPortName + ")";
    else if (PTT_Printer->isChecked())
        cat = "CAT=PRINTER";
    const QStringList lines = {
        "--------------Parameters ----------------",
        "Configuration File " + ConfigFileName,
        "LOGGING=" + BoolToText(TraceOn),
        "PORTNRO=" + ComPortName,
        "BAUD=" + QString::number(ConfigBaudRate),
        "GAIN=" + QString::number(SquelchTrack->Position()),
        "DELAY=" + QString::number(TrackDelay->Position()),
        "DEVICE=" + QString::number(CurrentDevice),
        cat,
        QString(41, '-'),
    };
    for (const QString &line : lines)
        TraceLog.Write(1, line);
}

void TFormPlayer::WriteINI()
{
    if (ConfigFileName.isEmpty())
        ConfigFileName = DefaultConfigFileName(QDir::currentPath());
    ConfigFile = std::make_unique<TIniFile>(ConfigFileName);
    QString ptt = "SERIAL";
    if (PTT_Serial->isChecked())
        ptt = "SERIAL";
    if (PTT_Printer->isChecked())
        ptt = "PRINTER";
    if (PTT_OmniRig->isChecked())
        ptt = "CAT";
    if (PTT_None->isChecked())
        ptt = "NONE";
    // Keys beyond the original set: a file without one gains it only once it
    // differs from what its absence means.
    const auto optional = [](const QString &key, const QString &value, const QString &absent) {
        return TIniEntry{key, value, value == absent};
    };
    std::vector<TIniEntry> entries{
        {"COMPORT", PTTComPort ? PTTComPort->Port() : ComPortName},
        {"BAUDRATE", BaudRateText(PTTComPort ? PTTComPort->BaudRate() : br4800)},
        {"DEVICE", QString::number(CurrentDevice)},
        optional("DEVICENAME", DeviceName, ""),
        {"TRACE", TraceOn ? "YES" : "NOT"},
        {"GAIN", QString::number(SquelchTrack->Position())},
        {"DELAY", QString::number(TrackDelay->Position())},
        optional("ATTACK",
                 AsWritten(AttackText, (UpperText(AttackText) == "BLOCK") == AttackByBlock,
                           AttackByBlock ? "BLOCK" : "TICK"),
                 "TICK"),
        optional("TIMEOUT",
                 AsWritten(TxTimeoutText, TimeoutSeconds(TxTimeoutText).value_or(0) == TxTimeout,
                           QString::number(TxTimeout)),
                 "0"),
        optional("RELAY", RelayOutput, ""),
        optional("LEAD", QString::number(RelayLead), "60"),
        optional("PTTLINES", (PTTComPort ? PTTComPort->PttLines() : PttLines).Text(), TPttLines().Text()),
        {"PTT", ptt},
    };
    if (DeviceName == DeviceNameRead)
        std::erase_if(entries, [](const TIniEntry &entry) { return entry.Key == "DEVICENAME"; });
    ConfigFile->WriteStrings(Section, entries);
}
