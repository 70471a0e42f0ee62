#include "app/KOTARUnit.h"

#include "ptt/CPort.h"
#include "support/HexStr.h"
#include "support/StandardError.h"
#include "support/TrackBar.h"

#include <QDir>
#include <algorithm>
#include <QGroupBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <climits>

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
QString PortName(const QString &text)
{
    static const QRegularExpression comName("^COM[0-9]+$", QRegularExpression::CaseInsensitiveOption);
    return comName.match(text).hasMatch() ? UpperText(text) : text;
}

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
    DeviceName = ConfigFile->ReadString(Section, "DEVICENAME", "");
    AttackByBlock = UpperText(ConfigFile->ReadString(Section, "ATTACK", "TICK")) == "BLOCK";
    SquelchTrack->SetPosition(NumericKey(*ConfigFile, "GAIN", 10));
    TrackDelay->SetPosition(NumericKey(*ConfigFile, "DELAY", 0));
    // Beyond a day the limit means nothing; below 0 there is none.
    TxTimeout = std::clamp(NumericKey(*ConfigFile, "TIMEOUT", 0), 0, 86400);
    RelayOutput = ConfigFile->ReadString(Section, "RELAY", "");
    RelayLead = std::clamp(NumericKey(*ConfigFile, "LEAD", 60), 0, 1000);
    const QString lines = ConfigFile->ReadString(Section, "PTTLINES", TPttLines::DefaultText());
    if (const auto parsed = TPttLines::Parse(lines)) {
        PttLines = *parsed;
    } else {
        PttLines = TPttLines();
        const QString why = "Unknown PTTLINES value (" + lines + "): " + PttLines.Text() + " in use";
        TraceLog.Write(1, why);
        WriteStandardError(why);
    }
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
    ConfigFile->WriteStrings(
        Section, {
                     {"COMPORT", PTTComPort ? PTTComPort->Port() : ComPortName},
                     {"BAUDRATE", BaudRateText(PTTComPort ? PTTComPort->BaudRate() : br4800)},
                     {"DEVICE", QString::number(CurrentDevice)},
                     optional("DEVICENAME", DeviceName, ""),
                     {"TRACE", TraceOn ? "YES" : "NOT"},
                     {"GAIN", QString::number(SquelchTrack->Position())},
                     {"DELAY", QString::number(TrackDelay->Position())},
                     optional("ATTACK", AttackByBlock ? "BLOCK" : "TICK", "TICK"),
                     optional("TIMEOUT", QString::number(TxTimeout), "0"),
                     optional("PTTLINES", (PTTComPort ? PTTComPort->PttLines() : PttLines).Text(), TPttLines().Text()),
                     {"PTT", ptt},
                     optional("RELAY", RelayOutput, ""),
                     optional("LEAD", QString::number(RelayLead), "60"),
                 });
}
