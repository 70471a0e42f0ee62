#include "support/LEDButton.h"

TLEDButton::TLEDButton(QWidget *owner) : QPushButton(owner), FLed(new TLed(this))
{
    // A press on the lamp presses the button: the lamp's own click actions
    // are off here and never exposed.
    FLed->setAttribute(Qt::WA_TransparentForMouseEvents);
    FLed->setGeometry(7, 6, 14, 14);
    FLed->SetStyle(lsGradient1);
    FLed->SetColor1(clGreen);
    FLed->SetColor2(clLime);
    FLed->SetOffColor1(clBlack);
    FLed->SetOffColor2(clWhite);
    FLed->SetRadius(1);
    FLed->SetOn(true);
    FLed->SetDiagShining(false);
    FLed->SetClickAction(false);
    FLed->SetDblClickAction(false);
}
