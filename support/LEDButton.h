#pragma once
#include "support/Led1.h"

#include <QPushButton>

// A push button with a lamp at its left edge; the lamp tells whether the
// function behind the button is active. Pressing the button does not toggle
// the lamp: the click handler attached to clicked() decides.
class TLEDButton : public QPushButton {
public:
    explicit TLEDButton(QWidget *owner = nullptr);

    TColor LEDColor1() const { return FLed->Color1(); }
    void SetLEDColor1(TColor value) { FLed->SetColor1(value); }
    TColor LEDColor2() const { return FLed->Color2(); }
    void SetLEDColor2(TColor value) { FLed->SetColor2(value); }
    TColor LEDOffColor1() const { return FLed->OffColor1(); }
    void SetLEDOffColor1(TColor value) { FLed->SetOffColor1(value); }
    TColor LEDOffColor2() const { return FLed->OffColor2(); }
    void SetLEDOffColor2(TColor value) { FLed->SetOffColor2(value); }
    bool LEDOn() const { return FLed->On(); }
    void SetLEDOn(bool value) { FLed->SetOn(value); }

    // The owned lamp, for what the button does not expose.
    TLed *Led() const { return FLed; }

private:
    TLed *FLed;
};
