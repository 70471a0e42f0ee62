#include "app/KOTARUnit.h"

#include "app/SignalLevel.h"
#include "audio/bass.h"
#include "audio/spectrum_vis.h"
#include "support/Colors.h"
#include "support/LEDButton.h"
#include "support/Led1.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QLabel>

void TFormPlayer::TimerRenderTimer()
{
    if (BASS_ChannelIsActive(CaptureChannel) != 1)
        return;
    float frame[513];
    BASS_ChannelGetData(CaptureChannel, frame, BASS_DATA_FFT1024);
    DrawSpectrum(frame);
    const uint32_t level = SignalLevel(frame, Spectrum->BinStep);
    SquelchTrack->SetSelEnd(level > 100 ? 100 : int(level));
    if (!LEDMuteButton->LEDOn() && !TuneButton->LEDOn() && level >= uint32_t(SquelchTrack->Position()))
        KeyBySquelch();
}

void TFormPlayer::KeyBySquelch()
{
    TimerDelay->SetEnabled(false);
    ChangeStateIcon(IconON);
    TxRig(true);
    TimerDelay->SetInterval(100);
    TrackDelay->SetSelEnd(0);
    TimerDelay->SetEnabled(true);
}

void TFormPlayer::TimerDelayTimer()
{
    if (TuneButton->LEDOn()) {
        TimerDelay->SetInterval(100);
        TimerDelay->SetEnabled(false);
        TrackDelay->SetSelEnd(0);
        ChangeStateIcon(IconIDLE);
        return;
    }
    TrackDelay->SetSelEnd(TrackDelay->SelEnd() + 100);
    if (TrackDelay->SelEnd() > TrackDelay->Position()) {
        TimerDelay->SetEnabled(false);
        TrackDelay->SetSelEnd(0);
        ChangeStateIcon(IconIDLE);
        TxRig(false);
        return;
    }
    TimerDelay->SetInterval(100);
    TimerDelay->SetEnabled(true);
    ChangeStateIcon(IconON);
}

void TFormPlayer::TimerBlinkTimer()
{
    if (!LEDMuteButton->LEDOn()) {
        TimerBlink->SetEnabled(false);
        VOXLed->SetColor1(clGreen);
        VOXLed->SetColor2(clLime);
        VOXLed->SetOn(false);
        ChangeStateIcon(IconIDLE);
        return;
    }
    if (VOXLed->On()) {
        VOXLed->SetOn(false);
        ChangeStateIcon(IconOFF);
    } else {
        VOXLed->SetOn(true);
        ChangeStateIcon(IconMUTE);
    }
    TimerBlink->SetInterval(1000);
    TimerBlink->SetEnabled(true);
}

void TFormPlayer::LEDMuteButtonClick()
{
    TxRig(false);
    TuneButton->SetLEDOn(false);
    const bool unmute = LEDMuteButton->LEDOn();
    if (unmute) {
        LEDMuteButton->SetLEDOn(false);
        TimerBlink->SetEnabled(false);
        VOXLed->SetColor1(clGreen);
        VOXLed->SetColor2(clLime);
        VOXLed->SetOffColor2(clGreen);
    } else {
        LEDMuteButton->SetLEDOn(true);
        VOXLed->SetColor1(clMaroon);
        VOXLed->SetColor2(clRed);
        VOXLed->SetOffColor2(clMaroon);
        VOXLed->SetOn(true);
        TimerBlink->SetEnabled(true);
    }
    for (QWidget *control : {static_cast<QWidget *>(SquelchTrack), static_cast<QWidget *>(Label1),
                             static_cast<QWidget *>(Label2), static_cast<QWidget *>(TrackDelay)})
        control->setVisible(unmute);
    ChangeStateIcon(unmute ? IconIDLE : IconMUTE);
}

void TFormPlayer::TuneButtonClick()
{
    if (TuneButton->LEDOn()) {
        TuneButton->SetLEDOn(false);
        TxRig(false);
    } else {
        TuneButton->SetLEDOn(true);
        TxRig(true);
    }
}
