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
#include <QScopeGuard>
#include <algorithm>
#include <exception>

void TFormPlayer::TimerRenderTimer()
{
    // A release confirmed in the background shows within a tick.
    UpdateReleaseRetry();
    if (BASS_ChannelIsActive(CaptureChannel) != 1)
        return;
    float frame[513];
    BASS_ChannelGetData(CaptureChannel, frame, BASS_DATA_FFT1024);
    // The last samples of a capture that stopped delivering would hold the
    // last level, and PTT with it; the spectrum says why it is dark.
    if (CaptureStalled()) {
        std::fill(frame, frame + 512, 0.0f);
    } else {
        ShowCaptureState(QString());
        DrawSpectrum(frame);
    }
    const uint32_t level = SignalLevel(frame, Spectrum->BinStep);
    SquelchTrack->SetSelEnd(level > 100 ? 100 : int(level));
    const bool loud = level >= uint32_t(SquelchTrack->Position());
    if (TimedOut && !loud) {
        TimedOut = false;
        if (!LEDMuteButton->LEDOn())
            ChangeStateIcon(IconIDLE);
    }
    if (VoxArmed() && loud)
        KeyBySquelch();
}

bool TFormPlayer::VoxArmed() const { return !LEDMuteButton->LEDOn() && !TuneButton->LEDOn() && !TimedOut; }

void TFormPlayer::KeyBySquelch()
{
    TimerDelay->SetEnabled(false);
    ChangeStateIcon(IconON);
    // The hang is armed even when PTT on fails: the output may have keyed
    // all the same (a late answer, one line of two), and only the delay tick
    // releases it.
    const auto armHang = qScopeGuard([this] {
        if (!FPttOn) // the output went away: nothing to hang on
            return;
        TimerDelay->SetInterval(100);
        TrackDelay->SetSelEnd(0);
        TimerDelay->SetEnabled(true);
    });
    TxRig(true);
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
    if (HoldForRelay())
        return;
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
        SetVoxLed(false);
        ChangeStateIcon(IconIDLE);
        return;
    }
    if (FVoxLedOn) {
        SetVoxLed(false);
        ChangeStateIcon(IconOFF);
    } else {
        SetVoxLed(true);
        ChangeStateIcon(IconMUTE);
    }
    TimerBlink->SetInterval(1000);
    TimerBlink->SetEnabled(true);
}

void TFormPlayer::LEDMuteButtonClick()
{
    // Mute takes effect even when the output refuses the release; the
    // failure is reported once the toggle is done.
    std::exception_ptr failure;
    try {
        TxRig(false);
    } catch (...) {
        failure = std::current_exception();
    }
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
        SetVoxLed(true);
        TimerBlink->SetEnabled(true);
    }
    for (QWidget *control : {static_cast<QWidget *>(SquelchTrack), static_cast<QWidget *>(Label1),
                             static_cast<QWidget *>(Label2), static_cast<QWidget *>(TrackDelay)})
        control->setVisible(unmute);
    ChangeStateIcon(unmute ? IconIDLE : IconMUTE);
    if (failure)
        std::rethrow_exception(failure);
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

void TFormPlayer::TimerTimeoutTimer()
{
    TimerTimeout->SetEnabled(false);
    TimerDelay->SetEnabled(false);
    TrackDelay->SetSelEnd(0);
    TuneButton->SetLEDOn(false);
    TimedOut = true;
    ChangeStateIcon(IconTOUT);
    TraceLog.Write(1, "Transmit time-out (" + QString::number(TxTimeout) + " s)");
    TxRig(false);
}
