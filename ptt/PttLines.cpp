#include "ptt/PttLines.h"

#include <algorithm>

TPttLines::TPttLines() : FPins{{TPttPin::pkDTR, 0, false}, {TPttPin::pkRTS, 0, false}} {}

std::optional<TPttLines> TPttLines::Parse(const QString &text)
{
    const QStringList parts = text.trimmed().toUpper().split('+');
    if (parts.size() > 2)
        return std::nullopt;
    TPttLines lines;
    lines.FPins.clear();
    // [!]DTR, [!]RTS or [!]GPIO1 to 8; by hand, as it is read at every start.
    for (const QString &part : parts) {
        QStringView name = QStringView(part).trimmed();
        TPttPin pin;
        pin.ActiveLow = name.startsWith('!');
        if (pin.ActiveLow)
            name = name.mid(1);
        if (name == u"DTR")
            pin.Kind = TPttPin::pkDTR;
        else if (name == u"RTS")
            pin.Kind = TPttPin::pkRTS;
        else if (name.size() == 5 && name.startsWith(u"GPIO") && name[4] >= '1' && name[4] <= '8')
            pin = {TPttPin::pkGPIO, name[4].unicode() - '0', pin.ActiveLow};
        else
            return std::nullopt;
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
