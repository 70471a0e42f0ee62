#include "app/KOTARUnit.h"

#include "audio/bass.h"
#include "ptt/PttPortSetup.h"
#include "station/CoreVox.h"
#include "station/RemoteControl.h"
#include "support/StandardError.h"
#include "support/Colors.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"
#include "support/LEDButton.h"
#include "support/Led1.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QLabel>
#include <algorithm>

// The window's engine operations are commands to the keying core; what they
// change comes back as its state and is shown by ShowKeyingState.

void TFormPlayer::CreateKeying()
{
    Keying = std::make_unique<TKeyingThread>(KeyingMode);
    Keying->Connect(&TKeyingCore::Changed, this, [this](const TKeyingState &state) { ShowKeyingState(state); });
    Keying->Connect(&TKeyingCore::Report, this, [](const QString &message) { ErrorReport::Show(Exception(message)); });
    Keying->Connect(&TKeyingCore::Trace, this, [this](const QString &line) { TraceLog.Write(1, line); });
    Keying->Connect(&TKeyingCore::OutputLost, this, [this] { SerialDeviceLost(); });
    connect(SquelchTrack, &QSlider::valueChanged, this, &TFormPlayer::ApplyKeyingSettings);
    connect(TrackDelay, &QSlider::valueChanged, this, &TFormPlayer::ApplyKeyingSettings);
}

void TFormPlayer::ApplyKeyingSettings()
{
    Keying->Post([settings = TKeyingCore::TSettings{SquelchTrack->Position(), TrackDelay->Position(), TxTimeout}](
                     TKeyingCore &core) { core.Apply(settings); });
}

void TFormPlayer::PublishRemoteControl()
{
    FVox = std::make_unique<TCoreVox>(*Keying, [this] { return PttTargetText(FPttTarget); });
    FRemote = std::make_unique<TRemoteControl>(*FVox, QString(), [this](const QString &line) {
        TraceLog.Write(1, line);
        WriteStandardError(line);
    });
}

void TFormPlayer::TimerRenderTimer()
{
    // Stepped by the caller, the core measures on this tick.
    if (!Keying->OwnThread())
        Keying->Core().RenderTick();
    if (BASS_ChannelIsActive(CaptureChannel) != 1)
        return;
    // The last samples of a capture that stopped delivering would show the
    // last spectrum; the spectrum area says why it is dark.
    if (CaptureStalled())
        return;
    float frame[513];
    BASS_ChannelGetData(CaptureChannel, frame, BASS_DATA_FFT1024);
    ShowCaptureState(QString());
    DrawSpectrum(frame);
}

void TFormPlayer::TimerDelayTimer()
{
    Keying->Post([](TKeyingCore &core) { core.DelayTick(); });
}

void TFormPlayer::TimerTimeoutTimer()
{
    Keying->Post([](TKeyingCore &core) { core.TimeoutTick(); });
}

void TFormPlayer::LEDMuteButtonClick()
{
    Keying->Post([](TKeyingCore &core) { core.ToggleMute(); });
}

void TFormPlayer::TuneButtonClick()
{
    Keying->Post([](TKeyingCore &core) { core.ToggleTune(); });
}

void TFormPlayer::TimerBlinkTimer()
{
    if (!KeyingState.Muted) {
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

void TFormPlayer::ShowKeyingState(const TKeyingState &state)
{
    const TKeyingState shown = KeyingState;
    KeyingState = state;
    SquelchTrack->SetSelEnd(int(std::min<uint32_t>(state.Level, 100)));
    TrackDelay->SetSelEnd(state.HangCounter);
    LEDMuteButton->SetLEDOn(state.Muted);
    TuneButton->SetLEDOn(state.Tune);
    if (state.PttOn != shown.PttOn)
        SetVoxLed(state.PttOn);
    if (state.Muted != shown.Muted) {
        const bool muted = state.Muted;
        VOXLed->SetColor1(muted ? clMaroon : clGreen);
        VOXLed->SetColor2(muted ? clRed : clLime);
        VOXLed->SetOffColor2(muted ? clMaroon : clGreen);
        // Muting lights the lamp to blink; unmuting leaves it as PTT is.
        SetVoxLed(muted || state.PttOn);
        TimerBlink->SetEnabled(muted);
        for (QWidget *control : {static_cast<QWidget *>(SquelchTrack), static_cast<QWidget *>(Label1),
                                 static_cast<QWidget *>(Label2), static_cast<QWidget *>(TrackDelay)})
            control->setVisible(!muted);
    }
    ShowReleaseOwed(state.ReleaseOwed);
    if (state.IconSerial != shown.IconSerial) {
        switch (state.Icon) {
        case TStateIcon::Idle: ChangeStateIcon(IconIDLE); break;
        case TStateIcon::Mute: ChangeStateIcon(IconMUTE); break;
        case TStateIcon::Off: ChangeStateIcon(IconOFF); break;
        case TStateIcon::On: ChangeStateIcon(IconON); break;
        case TStateIcon::TimeOut: ChangeStateIcon(IconTOUT); break;
        }
    }
}
