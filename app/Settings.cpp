#include "app/Settings.h"

#include "ptt/Cm108Devices.h"
#include "ptt/PttAdvice.h"
#include "support/Digits.h"
#include "support/HexStr.h"
#include "support/IniFile.h"

#include <QDir>
#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

namespace {
const QString Section = "SETTINGS";

// An integer from a key that passed the character filter; texts such as "1.5"
// or a lone "-" pass it but are no whole number and take the default. A whole
// number beyond 32 bits is limited like any other, so it stops at the limit.
// The sign of the whole number `text` is ('-', or '+' also when unsigned);
// none when it is not one. Loosely: blanks around it and a plus sign allowed.
std::optional<QChar> WholeNumberSign(QStringView text, bool loosely)
{
    if (loosely)
        text = text.trimmed();
    QChar sign = '+';
    if (!text.isEmpty() && (text.front() == '-' || (loosely && text.front() == '+'))) {
        sign = text.front();
        text = text.mid(1);
    }
    return AllDigits(text) ? std::optional<QChar>(sign) : std::nullopt;
}

int ToInt(const QString &text, int defaultValue)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (ok)
        return int(std::clamp<qlonglong>(value, INT_MIN, INT_MAX));
    const std::optional<QChar> sign = WholeNumberSign(text, true);
    if (!sign)
        return defaultValue;
    return *sign == '-' ? INT_MIN : INT_MAX;
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
QString BaudRateText(int rate)
{
    switch (rate) {
    case 1200:
    case 2400:
    case 9600:
    case 19200: return QString::number(rate);
    default: return "4800";
    }
}

// The form the program writes an integer in.
bool IsWholeNumber(const QString &text) { return WholeNumberSign(text, false).has_value(); }

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

// LEAD in ms, 0 to 1000; none for what is no whole number.
constexpr int DefaultLead = 60;
std::optional<int> LeadMs(const QString &text)
{
    if (!IsWholeNumber(text))
        return std::nullopt;
    return std::clamp(ToInt(text, DefaultLead), 0, 1000);
}

// A setting's text as the file gives it while the setting is still what that
// text reads as; the program's own form once it changed.
QString AsWritten(const QString &written, bool unchanged, const QString &own)
{
    return unchanged && !written.isEmpty() ? written : own;
}

void ReadAttack(const TIniFile &file, TSettings &settings)
{
    settings.AttackText = file.ReadString(Section, "ATTACK", "TICK");
    const QString attack = UpperText(settings.AttackText);
    settings.AttackByBlock = attack == "BLOCK";
    if (attack != "BLOCK" && attack != "TICK" && !attack.isEmpty())
        settings.Reports << "Unknown ATTACK value (" + settings.AttackText + "): TICK in use";
}

void ReadTimeout(const TIniFile &file, TSettings &settings)
{
    const QString text = settings.TxTimeoutText = file.ReadString(Section, "TIMEOUT", "0");
    const std::optional<int> seconds = TimeoutSeconds(text);
    settings.TxTimeout = seconds.value_or(0);
    if (text.isEmpty() || IsWholeNumber(text))
        return;
    if (seconds)
        settings.Reports << "TIMEOUT value (" + text + ") is not a plain whole number of seconds: "
                                + QString::number(settings.TxTimeout) + " in use";
    else
        settings.Reports << "Unknown TIMEOUT value (" + text + "): no time-out in use";
}

void ReadLead(const TIniFile &file, TSettings &settings)
{
    const QString text = settings.RelayLeadText = file.ReadString(Section, "LEAD", QString::number(DefaultLead));
    const std::optional<int> lead = LeadMs(text);
    settings.RelayLead = lead.value_or(DefaultLead);
    if (!lead)
        settings.Reports << "Unknown LEAD value (" + text + "): " + QString::number(DefaultLead) + " ms in use";
    else if (ToInt(text, DefaultLead) != *lead)
        settings.Reports << "LEAD value (" + text + ") is outside 0 to 1000 ms: " + QString::number(*lead)
                                + " ms in use";
}

void ReadPttLines(const TIniFile &file, TSettings &settings)
{
    const QString lines = file.ReadString(Section, "PTTLINES", TPttLines::DefaultText());
    const auto parsed = TPttLines::Parse(lines);
    settings.PttLines = parsed.value_or(TPttLines());
    if (!parsed) {
        settings.Reports << "Unknown PTTLINES value (" + lines + "): " + settings.PttLines.Text() + " in use";
    } else if (lines.contains("GPIO", Qt::CaseInsensitive) != IsCm108PortName(settings.ComPort)) {
        // The port keys the lines it has: a CM108 its GPIO3, a serial port DTR and RTS.
        settings.Reports << "PTTLINES value (" + lines + ") names a line that port " + settings.ComPort
                                + " does not have: "
                                + (IsCm108PortName(settings.ComPort) ? QString("GPIO3") : TPttLines().Text())
                                + " in use";
    }
}
} // namespace

TSettings ReadSettings(const TIniFile &file)
{
    TSettings settings;
    settings.Ptt = UpperText(file.ReadString(Section, "PTT", "SERIAL"));
    settings.ComPort = PortName(file.ReadString(Section, "COMPORT", "COM1"));
    settings.BaudRate = NumericKey(file, "BAUDRATE", 4800);
    settings.TraceOn = TextToBool(file.ReadString(Section, "TRACE", "YES"));
    settings.Device = ToInt(file.ReadString(Section, "DEVICE", "-1"), -1);
    settings.DeviceName = settings.DeviceNameRead = file.ReadString(Section, "DEVICENAME", "");
    ReadAttack(file, settings);
    settings.Gain = std::clamp(NumericKey(file, "GAIN", 10), 0, 10);
    settings.Delay = std::clamp(NumericKey(file, "DELAY", 0), 0, 5000);
    ReadTimeout(file, settings);
    settings.RelayOutput = file.ReadString(Section, "RELAY", "");
    ReadLead(file, settings);
    ReadPttLines(file, settings);
    return settings;
}

void WriteSettings(TIniFile &file, const TSettings &settings, int baudRate)
{
    // Keys beyond the original set: a file without one gains it only once it
    // differs from what its absence means.
    const auto optional = [](const QString &key, const QString &value, const QString &absent) {
        return TIniEntry{key, value, value == absent};
    };
    std::vector<TIniEntry> entries{
        {"COMPORT", settings.ComPort},
        {"BAUDRATE", BaudRateText(baudRate)},
        {"DEVICE", QString::number(settings.Device)},
        optional("DEVICENAME", settings.DeviceName, ""),
        {"TRACE", settings.TraceOn ? "YES" : "NOT"},
        {"GAIN", QString::number(settings.Gain)},
        {"DELAY", QString::number(settings.Delay)},
        optional("ATTACK",
                 AsWritten(settings.AttackText, (UpperText(settings.AttackText) == "BLOCK") == settings.AttackByBlock,
                           settings.AttackByBlock ? "BLOCK" : "TICK"),
                 "TICK"),
        optional("TIMEOUT",
                 AsWritten(settings.TxTimeoutText, TimeoutSeconds(settings.TxTimeoutText).value_or(0) == settings.TxTimeout,
                           QString::number(settings.TxTimeout)),
                 "0"),
        optional("RELAY", settings.RelayOutput, ""),
        // Kept as written, an empty LEAD too, while it reads as the lead in use.
        optional("LEAD",
                 LeadMs(settings.RelayLeadText).value_or(DefaultLead) == settings.RelayLead
                     ? settings.RelayLeadText
                     : QString::number(settings.RelayLead),
                 QString::number(DefaultLead)),
        optional("PTTLINES", settings.PttLines.Text(), TPttLines().Text()),
        {"PTT", settings.Ptt},
    };
    if (settings.DeviceName == settings.DeviceNameRead)
        std::erase_if(entries, [](const TIniEntry &entry) { return entry.Key == "DEVICENAME"; });
    file.WriteStrings(Section, entries);
}

QStringList ParameterBlock(const TSettings &settings, const QString &configFileName)
{
    QString cat = "CAT=OMNIRIG";
    if (settings.Ptt == "SERIAL")
        cat = "CAT=SERIAL(" + settings.ComPort + ")";
    else if (settings.Ptt == "PRINTER")
        cat = "CAT=PRINTER";
    return {
        "--------------Parameters ----------------",
        "Configuration File " + configFileName,
        "LOGGING=" + BoolToText(settings.TraceOn),
        "PORTNRO=" + settings.ComPort,
        "BAUD=" + QString::number(settings.BaudRate),
        "GAIN=" + QString::number(settings.Gain),
        "DELAY=" + QString::number(settings.Delay),
        "DEVICE=" + QString::number(settings.Device),
        cat,
        QString(41, '-'),
    };
}

QString ConfigFileFromArguments(const QStringList &arguments, const QString &workDir)
{
    QString name;
    if (!arguments.isEmpty() && UpperText(arguments[0]) == "-F")
        name = arguments.value(1);
    if (name.isEmpty()) {
        QString dir = workDir;
        if (!dir.endsWith('/'))
            dir += '/';
        return dir + "KOTARPlus" + ".INI";
    }
    return QDir::isAbsolutePath(name) ? name : workDir + name;
}
