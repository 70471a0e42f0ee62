#include "ptt/PttLines.h"

#include <QRegularExpression>
#include <algorithm>

TPttLines::TPttLines() : FPins{{TPttPin::pkDTR, 0, false}, {TPttPin::pkRTS, 0, false}} {}

std::optional<TPttLines> TPttLines::Parse(const QString &text)
{
    static const QRegularExpression pinForm(R"(^(!?)(DTR|RTS|GPIO([1-8]))$)");
    const QStringList parts = text.trimmed().toUpper().split('+');
    if (parts.size() > 2)
        return std::nullopt;
    TPttLines lines;
    lines.FPins.clear();
    for (const QString &part : parts) {
        const QRegularExpressionMatch match = pinForm.match(part.trimmed());
        if (!match.hasMatch())
            return std::nullopt;
        TPttPin pin;
        pin.ActiveLow = !match.captured(1).isEmpty();
        const QString name = match.captured(2);
        pin.Kind = name == "DTR" ? TPttPin::pkDTR : name == "RTS" ? TPttPin::pkRTS : TPttPin::pkGPIO;
        pin.Gpio = pin.Kind == TPttPin::pkGPIO ? match.captured(3).toInt() : 0;
        lines.FPins.push_back(pin);
    }
    // A GPIO pin stands alone; a serial line is named once.
    if (lines.FPins.size() == 2
        && (lines.FPins[0].Kind == TPttPin::pkGPIO || lines.FPins[1].Kind == TPttPin::pkGPIO
            || lines.FPins[0].Kind == lines.FPins[1].Kind))
        return std::nullopt;
    return lines;
}

QString TPttLines::Text() const
{
    QStringList parts;
    for (const TPttPin &pin : FPins) {
        const QString name = pin.Kind == TPttPin::pkDTR   ? QString("DTR")
                             : pin.Kind == TPttPin::pkRTS ? QString("RTS")
                                                          : "GPIO" + QString::number(pin.Gpio);
        parts << (pin.ActiveLow ? "!" : "") + name;
    }
    return parts.join('+');
}

std::vector<TPttPin> TPttLines::SerialPins() const
{
    if (FPins.front().Kind == TPttPin::pkGPIO)
        return TPttLines().FPins;
    return FPins;
}

TPttPin TPttLines::GpioPin() const
{
    if (FPins.front().Kind == TPttPin::pkGPIO)
        return FPins.front();
    return {TPttPin::pkGPIO, 3, false};
}

bool TPttLines::IdleHigh(TPttPin::TKind line) const
{
    const std::vector<TPttPin> pins = SerialPins();
    return std::any_of(pins.begin(), pins.end(), [line](const TPttPin &pin) { return pin.Kind == line && pin.ActiveLow; });
}

QStringList TPttLines::Choices()
{
    QStringList choices = {"DTR+RTS", "DTR", "RTS", "!DTR", "!RTS", "DTR+!RTS", "!DTR+RTS", "!DTR+!RTS"};
    for (const char *polarity : {"", "!"})
        for (int gpio = 1; gpio <= 8; ++gpio)
            choices << polarity + QString("GPIO") + QString::number(gpio);
    return choices;
}
