#pragma once
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One line that carries PTT, and whether it keys low ("!") or high.
struct TPttPin {
    enum TKind { pkDTR, pkRTS, pkGPIO };
    TKind Kind = pkDTR;
    int Gpio = 0; // 1 to 8 for a GPIO pin
    bool ActiveLow = false;

    // The level that keys the transmitter, and the one at rest.
    bool Level(bool on) const { return on != ActiveLow; }
    bool operator==(const TPttPin &) const = default;
};

// The PTT lines setting: one or two of DTR and RTS joined by "+", or one
// GPIO1..GPIO8 pin of a CM108-family sound card, each optionally preceded by
// "!" for active low. Letter case is ignored.
class TPttLines {
public:
    // DTR+RTS, DTR switched first.
    TPttLines();
    static std::optional<TPttLines> Parse(const QString &text);
    static QString DefaultText() { return "DTR+RTS"; }
    QString Text() const;

    // The serial lines in switching order; the default ones when a GPIO pin
    // is named.
    std::vector<TPttPin> SerialPins() const;
    // The GPIO pin; GPIO3, active high, when serial lines are named.
    TPttPin GpioPin() const;
    // Whether the serial line of this kind rests high.
    bool IdleHigh(TPttPin::TKind line) const;

    // Every value, as the setup dialog offers them.
    static QStringList Choices();

    bool operator==(const TPttLines &) const = default;

private:
    std::vector<TPttPin> FPins;
};
