#include "app/KOTARUnit.h"

#include "audio/bass.h"
#include "support/TrackBar.h"

#include <algorithm>
#include <cmath>

// The squelch against the level now, on the same scale, and the strongest bin
// in dBFS (a full-scale sine centred on a bin reads 0 dBFS), so the user sees
// where the sound stands.
QString TFormPlayer::SquelchTip()
{
    QString tip = "Squelch " + QString::number(SquelchTrack->Position()) + ": keys at level "
                  + QString::number(SquelchTrack->Position()) + " or more";
    float frame[513];
    if (BASS_ChannelIsActive(CaptureChannel) != BASS_ACTIVE_PLAYING
        || BASS_ChannelGetData(CaptureChannel, frame, BASS_DATA_FFT1024) < 0)
        return tip + "\nLevel now: no capture";
    const float peak = *std::max_element(frame, frame + 512);
    const QString dbfs = peak > 1e-5f ? QString::number(20.0 * std::log10(peak), 'f', 0) + " dBFS" : "below -100 dBFS";
    return tip + "\nLevel now: " + QString::number(SquelchTrack->SelEnd()) + " (peak " + dbfs + ")";
}

QString TFormPlayer::DelayTip()
{
    const int delay = TrackDelay->Position();
    return "Delay " + QString::number(delay) + " ms: releases " + QString::number((delay / 100 + 1) * 100)
           + " ms after the sound";
}
